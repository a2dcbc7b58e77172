#!/usr/bin/env bash
# Installs a build into a scratch prefix and checks what lands there: exactly the expected
# files, a valid desktop entry and metainfo, icons under the entry's Icon= name, and programs
# that run from their installed place.
# Usage: check-install.sh BUILD_DIR APP_ID VERSION EXPECT_MAN(ON|OFF) [CLI_COMMAND...]
set -euo pipefail
build=$1 app_id=$2 version=$3 expect_man=$4
shift 4
commands=("$@")
pages=(korvex korvex-boardsim korvex-cli)
for command in "${commands[@]}"; do pages+=("korvex-cli-$command"); done
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

for tool in desktop-file-validate appstreamcli; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/install-deps.sh" >&2; exit 1; }
done

cmake --install "$build" --prefix "$prefix" >/dev/null

expected=(
    bin/korvex
    bin/korvex-boardsim
    bin/korvex-cli
    "share/applications/$app_id.desktop"
    "share/icons/hicolor/48x48/apps/$app_id.png"
    "share/icons/hicolor/scalable/apps/$app_id.svg"
    "share/metainfo/$app_id.metainfo.xml"
    share/korvex/udev/60-korvex-ftdi-latency.rules
    share/korvex/labgrid/korvexdriver.py
)
if [ "$expect_man" = ON ]; then
    for page in "${pages[@]}"; do expected+=("share/man/man1/$page.1.gz"); done
fi

# Exactly these files: a test program or library slipping into the install shows here.
installed=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
wanted=$(printf '%s\n' "${expected[@]}" | sort)
[ "$installed" = "$wanted" ] ||
    fail "installed files differ from the expected ones:$(diff <(echo "$wanted") <(echo "$installed") | grep '^[<>]')"

for program in korvex korvex-boardsim korvex-cli; do
    [ -x "$prefix/bin/$program" ] || fail "bin/$program is not executable"
done

desktop="$prefix/share/applications/$app_id.desktop"
metainfo="$prefix/share/metainfo/$app_id.metainfo.xml"
if [ -f "$desktop" ]; then
    desktop-file-validate "$desktop" || fail "desktop entry does not validate"
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    [ "$icon" = "$app_id" ] || fail "desktop entry's Icon= is '$icon', not '$app_id'"
    exec=$(sed -n 's/^Exec=//p' "$desktop")
    [ -x "$prefix/bin/${exec%% *}" ] || fail "desktop entry's Exec= '$exec' is not an installed program"
fi
if [ -f "$metainfo" ]; then
    appstreamcli validate --no-net --explain "$metainfo" || fail "metainfo does not validate"
    grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
        fail "metainfo does not launch $app_id.desktop"
    grep -q "<release version=\"$version\"" "$metainfo" || fail "metainfo's release is not $version"
fi

# The udev rule is carried, not enabled: the exact file list above keeps it out of the
# system's rule folders.
rule="$prefix/share/korvex/udev/60-korvex-ftdi-latency.rules"
[ ! -f "$rule" ] || grep -q '^ACTION=="add", SUBSYSTEM=="usb-serial", DRIVER=="ftdi_sio", ATTR{latency_timer}="1"$' "$rule" ||
    fail "the udev rule does not set FTDI adapters' latency timer to 1"

driver="$prefix/share/korvex/labgrid/korvexdriver.py"
[ ! -f "$driver" ] || grep -q '^class KorvexDriver(Driver, BootstrapProtocol):$' "$driver" ||
    fail "the labgrid driver does not define KorvexDriver"

# The installed programs run from their place (no build-tree paths) and know their version.
for program in korvex-cli korvex-boardsim; do
    said=$("$prefix/bin/$program" --version 2>&1) || fail "$program --version failed: $said"
    [ "$said" = "$program $version" ] || fail "$program --version says '$said', not '$program $version'"
done
if [ "$expect_man" = ON ]; then
    for page in "${pages[@]}"; do
        file="$prefix/share/man/man1/$page.1.gz"
        [ -f "$file" ] || continue
        text=$(zcat "$file")
        title=$(tr '[:lower:]' '[:upper:]' <<<"$page")
        grep -q "^\.TH $title \"1\"" <<<"$text" || fail "manual page $page has no $title(1) title"
        grep -q "$version" <<<"$text" || fail "manual page $page does not name version $version"
    done
    # A command's page holds that command's help: its synopsis names the command.
    for command in "${commands[@]}"; do
        file="$prefix/share/man/man1/korvex-cli-$command.1.gz"
        [ -f "$file" ] && zcat "$file" | grep -A1 '^\.B korvex-cli$' | tail -n 1 | grep -qw "$command" ||
            fail "manual page korvex-cli-$command does not show the usage of '$command'"
    done
fi

[ "$failures" -eq 0 ] && echo "install check passed: ${#expected[@]} files in place"
exit $((failures > 0))
