#!/bin/sh
# Checks that the simulated libraries export every name the program binds.
# Usage: check-exports.sh <apple-support dir> <linux|windows>
# The expected names come from the X( lines of device/apple_api.h, the one source of truth.
set -u
support=${1:?apple-support dir}
kind=${2:?linux or windows}
here=$(cd "$(dirname "$0")" && pwd)
header="$here/../device/apple_api.h"
[ -f "$header" ] || { echo "check-exports: $header not found" >&2; exit 2; }

# Names of one X-macro list. Bodies are joined across continuation lines; a list may name other
# lists (NAME(X)), which are expanded in place.
names_of() {
    awk -v want="$1" '
        function expand(name,    body, item, rest) {
            if (!(name in bodies) || depth[name]++) return
            rest = bodies[name]
            while (match(rest, /X\([^,()]*,[ \t]*[A-Za-z_][A-Za-z_0-9]*|[A-Z_][A-Z_0-9]*\(X\)/)) {
                item = substr(rest, RSTART, RLENGTH)
                rest = substr(rest, RSTART + RLENGTH)
                if (item ~ /^X\(/) { sub(/^X\([^,]*,[ \t]*/, "", item); print item }
                else { sub(/\(X\)$/, "", item); expand(item) }
            }
        }
        current != "" { bodies[current] = bodies[current] " " $0 }
        current == "" && /^#define [A-Z_][A-Z_0-9]*\(X\)/ {
            current = $2; sub(/\(X\).*/, "", current)
            body = $0; sub(/^#define [A-Z_][A-Z_0-9]*\(X\)/, "", body)
            bodies[current] = body
        }
        current != "" && $0 !~ /\\[ \t]*$/ { current = "" }
        END { expand(want) }' "$header"
}

exports_of() {
    case "$kind" in
        linux) nm -D --defined-only "$1" | awk '{ print $NF }' ;;
        windows)
            objdump=x86_64-w64-mingw32-objdump
            command -v "$objdump" >/dev/null 2>&1 || objdump=i686-w64-mingw32-objdump
            "$objdump" -p "$1" | awk '
                /^\[Ordinal\/Name Pointer\] Table/ { table = 1; next }
                table && /^[ \t]*\[ *[0-9]+\]/ { print $NF; next }
                table && NF == 0 { table = 0 }' ;;
        *) echo "check-exports: kind must be linux or windows" >&2; exit 2 ;;
    esac
}

status=0
check() {  # library file, list names...
    lib=$1; shift
    if [ ! -f "$lib" ]; then
        echo "missing library: $lib"; status=1; return
    fi
    have=$(exports_of "$lib")
    expected=0
    for list in "$@"; do
        for name in $(names_of "$list"); do
            expected=$((expected + 1))
            printf '%s\n' "$have" | grep -qx "$name" || { echo "missing in $(basename "$lib"): $name"; status=1; }
        done
    done
    if [ "$expected" -eq 0 ]; then
        echo "no names found for $(basename "$lib") in $header"; status=1
    fi
}

check "$support/Apple Application Support/CoreFoundation.dll" CHIMEBOX_COREFOUNDATION_ENTRIES CHIMEBOX_COREFOUNDATION_DATA
check "$support/Mobile Device Support/iTunesMobileDevice.dll" CHIMEBOX_MOBILEDEVICE_ENTRIES
check "$support/Mobile Device Support/AirTrafficHost.dll" CHIMEBOX_AIRTRAFFIC_ENTRIES
for extra in "Apple Application Support/SQLite3.dll" "Apple Application Support/libxml2.dll" \
             "Apple Application Support/zlib1.dll" "CoreFP/CoreFP.dll"; do
    [ -f "$support/$extra" ] || { echo "missing library: $support/$extra"; status=1; }
done
[ "$status" -eq 0 ] && echo "check-exports: all names present"
exit $status
