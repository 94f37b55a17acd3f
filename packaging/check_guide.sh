#!/usr/bin/env bash
# The operator's guide (docs/operators-guide.md, built into kuutil) is the one
# text the README and kuutil's manual page draw on; this keeps them from drifting:
#   - every message under kuutil.1's MESSAGES, and every quoted text of its
#     Help > Operator's guide entry, is in the guide word for word;
#   - the README links the guide and holds no second copy of its sections;
#   - every picture the guide or the README shows is in docs/images.
#   packaging/check_guide.sh SOURCE_DIR
set -uo pipefail
src=${1:?usage: check_guide.sh SOURCE_DIR}
guide="$src/docs/operators-guide.md"
readme="$src/README.md"
man="$src/packaging/kuutil.1"

faults=0
fault() { echo "$*"; faults=$((faults + 1)); }
[ -f "$guide" ] || { echo "no $guide"; exit 1; }

# The man page's text as read: "\-" is "-", "\(em" and the like stay.
page=$(sed 's/\\-/-/g; s/\\&//g' "$man")
messages=$(sed -n '/^\.SH MESSAGES/,/^\.SH /p' <<<"$page" | awk 'prev == ".TP" {print} {prev = $0}')
help_entry=$(awk '/^\.B Help > Operator.s guide/ {c = 1; next} /^\.(TP|PP|SH)/ {c = 0} c' <<<"$page")
[ -n "$messages" ] || fault "kuutil.1 lists no MESSAGES"
[ -n "$help_entry" ] || fault "kuutil.1 has no Help > Operator's guide entry"
while IFS= read -r quoted; do
  [ -z "$quoted" ] && continue
  grep -qF -- "$quoted" "$guide" || fault "kuutil.1 says $quoted, which the guide does not"
done < <(grep -o '"[^"]*"' <<<"$messages$help_entry")

grep -qF '](docs/operators-guide.md)' "$readme" || fault "README.md does not link docs/operators-guide.md"
while IFS= read -r heading; do
  grep -qxF -- "#$heading" "$readme" || grep -qxF -- "$heading" "$readme" &&
    fault "README.md holds the guide's section \"${heading#\#\# }\" again; link the guide instead"
done < <(grep '^## ' "$guide")

for picture in $(grep -o '](images/[^)]*)' "$guide" | sed 's/^](//; s/)$//'); do
  [ -f "$src/docs/$picture" ] || fault "the guide shows docs/$picture, which is missing"
done
for picture in $(grep -o '](docs/images/[^)]*)' "$readme" | sed 's/^](//; s/)$//'); do
  [ -f "$src/$picture" ] || fault "README.md shows $picture, which is missing"
done

[ "$faults" = 0 ] && echo "the guide, the README and kuutil.1 agree"
[ "$faults" = 0 ]
