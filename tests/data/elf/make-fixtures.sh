#!/usr/bin/env bash
# Remakes the ELF fixtures of the image reader's tests from their assembler sources and linker
# scripts, with what the GNU ARM binutils make of them: the image as a raw binary (gaps filled
# with 0xFF, as erased flash reads) and as Intel HEX. The outputs are committed beside this
# script, so the tests need no cross tools; the fuzz corpus gets the ELF files too.
set -euo pipefail
cd "$(dirname "$0")"
corpus=../../../fuzz/corpus/fuzz_image

for name in app gap; do
    arm-none-eabi-as -o "$name.o" "$name.s"
    # Small section alignment keeps the files small; the warning about a writable and executable
    # segment is no concern for a board without memory protection.
    arm-none-eabi-ld -T "$name.ld" -z max-page-size=0x10 --no-warn-rwx-segments \
        -o "$name.elf" "$name.o"
    rm "$name.o"
    arm-none-eabi-objcopy -O binary --gap-fill 0xff "$name.elf" "$name.bin"
    arm-none-eabi-objcopy -O ihex "$name.elf" "$name.hex"
    chmod a-x "$name.elf" "$name.bin"
    cp "$name.elf" "$corpus/$name.elf"
done
