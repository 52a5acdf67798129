#!/bin/sh
# Usage: check-setter-symbols.sh NM PROGRAM
# The program must carry every record setter and none of the list setters.
set -u
syms=$("$1" -C --defined-only "$2") || exit 1
record=$(printf '%s\n' "$syms" | grep -c ' T tallyf_set_[a-z_0-9]*(')
list=$(printf '%s\n' "$syms" | grep -c 'tallyf_list_set_')
echo "record setters: $record, list setters: $list"
[ "$record" -eq 40 ] && [ "$list" -eq 0 ]
