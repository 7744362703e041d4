#!/bin/sh
# Checks the player executable: it may import only from the system's kernel,
# window-manager, graphics, multimedia and C runtime libraries, and it must
# stay small. Prints the DLLs it imports and its size.
# Usage: check_imports.sh PLAYER.EXE
set -eu
player=$1
size_limit=65536

dlls=$(i686-w64-mingw32-objdump -p "$player" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p')
[ -n "$dlls" ] || { echo "FAIL: no import table read from $player"; exit 1; }

status=0
for dll in $dlls; do
    case $(printf '%s' "$dll" | tr '[:upper:]' '[:lower:]') in
        kernel32.dll|user32.dll|gdi32.dll|winmm.dll|msvcrt.dll) echo "imports $dll" ;;
        *) echo "FAIL: imports $dll"; status=1 ;;
    esac
done

size=$(wc -c < "$player")
echo "size $size bytes (limit $size_limit)"
if [ "$size" -gt "$size_limit" ]; then
    echo "FAIL: the player is larger than $size_limit bytes"
    status=1
fi
exit $status
