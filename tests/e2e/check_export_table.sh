#!/usr/bin/env bash
# check_export_table.sh EXPECTED_NAMES OBJDUMP LIBRARY
# The library exports exactly the expected names, undecorated, and (for a DLL) imports only
# Windows system DLLs: a trader never installs a runtime for it.
set -euo pipefail
expected=$1
objdump=$2
library=$3

fail() { echo "FAIL: $*" >&2; exit 1; }

if "$objdump" -f "$library" | grep -q 'file format pei-'; then
    dump=$("$objdump" -p "$library")
    actual=$(awk '/\[Ordinal\/Name Pointer\] Table/{table=1; next} table && /^\t\[/{print $NF; next} table && !/^\t/{table=0}' <<<"$dump" | sort)
    imports=$(awk '/DLL Name:/{print $3}' <<<"$dump" | sort -u)
    echo "imports: $(echo $imports)"
    allowed='^(kernel32|user32|advapi32|msvcrt|wininet|ole32|oleaut32|shell32|gdi32|crypt32|ws2_32|bcrypt|ntdll|shlwapi|version|api-ms-win-[a-z0-9-]+)\.dll$'
    while read -r dll; do
        [ -n "$dll" ] || continue
        grep -qiE "$allowed" <<<"$dll" || fail "imports a non-system DLL: $dll"
    done <<<"$imports"
else
    actual=$(nm -D --defined-only "$library" | awk '$2 ~ /^[TtDdBbRrWwVvi]$/ {print $3}' | sed 's/@.*//' | sort)
fi

if ! diff <(sort "$expected") <(echo "$actual"); then
    fail "export table differs from the expected fifteen names (see diff above)"
fi
echo "export table: $(echo "$actual" | wc -l) names, as expected"
