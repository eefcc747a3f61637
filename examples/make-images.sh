#!/usr/bin/env bash
# Makes the images that new-board.txt names, in the folder images/ beside it (or in FOLDER):
#   os.tvm     a system image of 512 KiB;
#   eboot.hex  a bootloader image for boards of type PLN7/ZE, the simulator's default.
# A bootloader image is exactly 65536 bytes, and its first 128 bytes, up to the first zero byte,
# hold one of the signatures that tvflash knows (tvflash(1) lists them under updaterom). The
# board type is the word before ", Rel.". The rest of both images is random bytes.
# Usage: make-images.sh [FOLDER]
set -euo pipefail
folder=${1:-$(dirname "$0")/images}
mkdir -p "$folder"

head -c 524288 /dev/urandom >"$folder/os.tvm"

header='PLN7/ZE, Rel. B, ROM-Version: 3.1 (example)'
{
    printf '%s\0' "$header"
    head -c $((65536 - ${#header} - 1)) /dev/urandom
} >"$folder/eboot.hex"

echo "Made $folder/os.tvm and $folder/eboot.hex"
