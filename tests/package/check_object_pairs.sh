#!/usr/bin/env bash
# Fails when two of the given object files need each other: each leaves a
# symbol undefined that the other defines. Usage: check_object_pairs.sh <nm> <object files…>
set -u -o pipefail
nm_tool=$1
shift
declare -A defines needs
for o in "$@"; do
  defines[$o]=$("$nm_tool" --defined-only -g "$o" | awk 'NF >= 3 && $2 != "U" { print $3 }' | sort -u)
  needs[$o]=$("$nm_tool" -u "$o" | awk '{ print $NF }' | sort -u)
done
# needs_from <a> <b>: the symbols that a takes from b.
needs_from() { comm -12 <(printf '%s\n' "${needs[$1]}") <(printf '%s\n' "${defines[$2]}"); }
status=0
objects=("$@")
for ((i = 0; i < ${#objects[@]}; ++i)); do
  for ((j = i + 1; j < ${#objects[@]}; ++j)); do
    a=${objects[i]} b=${objects[j]}
    ab=$(needs_from "$a" "$b")
    [ -n "$ab" ] || continue
    ba=$(needs_from "$b" "$a")
    [ -n "$ba" ] || continue
    echo "$(basename "$a") and $(basename "$b") need each other:"
    echo "  $(basename "$a") takes: $(echo "$ab" | head -3 | tr '\n' ' ')"
    echo "  $(basename "$b") takes: $(echo "$ba" | head -3 | tr '\n' ' ')"
    status=1
  done
done
[ $status -eq 0 ] && echo "no two of the $# objects need each other"
exit $status
