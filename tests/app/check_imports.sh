#!/bin/sh
# Checks the player executable: it may import only from the system's kernel,
# window-manager, graphics, multimedia and C runtime libraries, exactly the
# functions listed in player_imports.txt beside this script, and it must stay
# small. Prints the DLLs it imports and its size; on a changed function list,
# prints the difference.
# Usage: check_imports.sh PLAYER.EXE
set -eu
player=$1
expected=$(dirname "$0")/player_imports.txt
size_limit=65536

table=$(i686-w64-mingw32-objdump -p "$player")
dlls=$(printf '%s\n' "$table" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p')
[ -n "$dlls" ] || { echo "FAIL: no import table read from $player"; exit 1; }

status=0
for dll in $dlls; do
    case $(printf '%s' "$dll" | tr '[:upper:]' '[:lower:]') in
        kernel32.dll|user32.dll|gdi32.dll|winmm.dll|msvcrt.dll) echo "imports $dll" ;;
        *) echo "FAIL: imports $dll"; status=1 ;;
    esac
done

# One "dll function" line per import, in the table's own order of DLLs.
actual=$(printf '%s\n' "$table" | awk '
    /DLL Name:/ { dll = tolower($3); next }
    /^[[:space:]]*$/ { next }
    dll != "" && /^\t[0-9a-f]+\t/ { print dll, $NF }' | sort)
if ! printf '%s\n' "$actual" | diff -u "$expected" - >/dev/null; then
    echo "FAIL: imported functions differ from $expected (- expected, + actual):"
    printf '%s\n' "$actual" | diff -u "$expected" - | sed -n '/^[-+][^-+]/p'
    status=1
else
    echo "imports $(printf '%s\n' "$actual" | wc -l) functions, as listed"
fi

size=$(wc -c < "$player")
echo "size $size bytes (limit $size_limit)"
if [ "$size" -gt "$size_limit" ]; then
    echo "FAIL: the player is larger than $size_limit bytes"
    status=1
fi
exit $status
