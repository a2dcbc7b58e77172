# Sourced by the bench_*.sh scripts: the programs under BUILD_DIR they run, refused early when
# they are not built. Sets build, cli and sim from the script's first argument.
build=${1:-build}
cli="$build/cli/korvex-cli"
sim="$build/tools/boardsim/korvex-boardsim"
for program in "$cli" "$sim"; do
    [ -x "$program" ] || { echo "missing $program (build it first)" >&2; exit 1; }
done
