#!/usr/bin/env bash
# Behaviour snapshot of kuctl against ku-sim: for each scenario, kuctl's standard
# output, standard error and exit status, and the bytes the simulated unit
# received (its log without the times). Used to show that a change of the code's
# structure changed nothing an operator or a script can see.
#   tests/golden/run_golden.sh BIN_DIR OUT_DIR [SCENARIO...]
# With scenario names, only those run.
set -uo pipefail
bin=$(cd "$1" && pwd)
out=$2
shift 2
only=" $* "
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

scenario() {  # name, ku-sim options (one word list), then kuctl arguments
  local name=$1 simopts=$2
  shift 2
  [ "$only" = "  " ] || [[ "$only" == *" $name "* ]] || return 0
  local dir="$work/$name"
  mkdir -p "$dir"
  cp "$bin/kuctl" "$bin/TKUUtil.mdb" "$dir/"
  printf '"Port",1\r\n' >"$dir/comms.ini"
  # shellcheck disable=SC2086
  "$bin/ku-sim" --link "$dir/com1" --log "$dir/log" $simopts >"$dir/sim.out" 2>&1 &
  local sim=$!
  for _ in $(seq 100); do [ -e "$dir/com1" ] && break; sleep 0.05; done
  "$dir/kuctl" "$@" >"$out/$name.out" 2>"$out/$name.err"
  echo "exit $?" >"$out/$name.status"
  sleep 0.2
  kill -TERM "$sim"
  wait "$sim" 2>/dev/null
  cut -f2- "$dir/log" >"$out/$name.bytes"
}

scenario read "" read
scenario read-json "" --json --pulse-width 1.5 read
scenario defaults "--channel 2" defaults
scenario update "" update 4=32000 8=255
scenario update-rejected "" update 4=40000
scenario silent "--silent" read
scenario short "--short 20" read
scenario short-update "--short 20" update 4=100
scenario high-byte "--high-byte 5" read
scenario noise "--noise-request --noise-after 5" read
scenario hang-up "--hang-up-after 2" read
scenario bad-port "" --port 9 read
scenario usage "" frobnicate
exit 0
