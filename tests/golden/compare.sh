#!/usr/bin/env bash
# Runs the snapshot script and compares every file it writes with the kept snapshot.
# The simulated unit gives up a value byte that reaches it more than 30 ms after
# its command byte; on a loaded machine its own thread can fall that far behind,
# and the unit then holds other values than the program sent. A scenario that
# differs is therefore run again (up to three times in all); a real change of
# behaviour differs every time.
#   tests/golden/compare.sh SCRIPT BIN_DIR OUT_DIR EXPECTED_DIR
set -uo pipefail
script=$1 bin=$2 out=$3 expected=$4
rm -rf "$out"
differing=()
for attempt in 1 2 3; do
  bash "$script" "$bin" "$out" "${differing[@]}" || { echo "the snapshot script failed"; exit 1; }
  differing=()
  for f in "$expected"/*; do
    name=$(basename "$f")
    cmp -s "$f" "$out/$name" || differing+=("${name%.*}")
  done
  mapfile -t differing < <(printf '%s\n' "${differing[@]}" | sort -u | sed '/^$/d')
  [ ${#differing[@]} -eq 0 ] && exit 0
  echo "attempt $attempt: differs in ${differing[*]}"
done
diff -r "$expected" "$out"
echo "kuctl's behaviour differs from the snapshot in $expected (diff above)"
exit 1
