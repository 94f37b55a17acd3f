#!/usr/bin/env bash
# The manual pages say what the programs' --help says: every option that
# "kuctl --help" or "ku-sim --help" names is described on the program's page, and
# every command of kuctl has an entry of its own under COMMANDS on kuctl's page.
#   packaging/check_manuals.sh BIN_DIR MAN_DIR
# MAN_DIR holds kuctl.1 and ku-sim.1, plain or gzipped. A change of --help
# fails here until packaging/<program>.1 describes it too.
set -uo pipefail
bin=${1:?usage: check_manuals.sh BIN_DIR MAN_DIR}
man=${2:?usage: check_manuals.sh BIN_DIR MAN_DIR}

page() {  # program: its page's source, with "\-" read as "-"
  local f="$man/$1.1"
  [ -e "$f" ] || f="$f.gz"
  zcat -f "$f" | sed 's/\\-/-/g'
}

faults=0
for prog in kuctl ku-sim; do
  help=$("$bin/$prog" --help) || { echo "$prog --help failed"; faults=$((faults + 1)); continue; }
  text=$(page "$prog")
  for opt in $(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
    if ! grep -Eq -- "$opt([^a-z-]|$)" <<<"$text"; then
      echo "$prog --help names $opt, which $prog.1 does not describe (add it under OPTIONS)"
      faults=$((faults + 1))
    fi
  done
done
commands=$("$bin/kuctl" --help |
  awk '/^Commands:/ {c = 1; next} /^$/ {c = 0} c && /^  [a-z]+( [A-Z[]|  )/ {print $1}')
[ -n "$commands" ] || { echo "kuctl --help lists no commands"; faults=$((faults + 1)); }
# The tags of COMMANDS' entries: the lines after .TP.
section=$(page kuctl | sed -n '/^\.SH COMMANDS/,/^\.SH /p' | awk 'prev == ".TP" {print} {prev = $0}')
for cmd in $commands; do
  if ! grep -Eq "^\.B[IR]? \"?$cmd([^a-z-]|$)" <<<"$section"; then
    echo "kuctl --help names the command $cmd, which kuctl.1 does not describe (add it under COMMANDS)"
    faults=$((faults + 1))
  fi
done
[ "$faults" = 0 ] && echo "manual pages describe every option and command of --help"
[ "$faults" = 0 ]
