#!/usr/bin/env bash
# Every text the code marks with localized() is in each catalogue under po/,
# and no catalogue keeps a text the code no longer has.
# Usage: check-catalogues.sh SOURCE_DIR
set -euo pipefail
source=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$source"
find ads platform \( -name '*.cpp' -o -name '*.h' \) | sort >"$work/files"
xgettext --language=C++ --keyword=localized --from-code=UTF-8 --files-from="$work/files" -o "$work/nimbra.pot"
texts() { sed -n 's/^msgid "\(..*\)"$/\1/p' "$1" | sort -u; }
texts "$work/nimbra.pot" >"$work/code"
status=0
for po in po/*.po; do
  texts "$po" >"$work/catalogue"
  missing=$(comm -23 "$work/code" "$work/catalogue")
  stale=$(comm -13 "$work/code" "$work/catalogue")
  [ -z "$missing" ] || { printf '%s lacks:\n%s\n' "$po" "$missing" >&2; status=1; }
  [ -z "$stale" ] || { printf '%s keeps texts the code no longer has:\n%s\n' "$po" "$stale" >&2; status=1; }
done
[ $status -ne 0 ] || echo "catalogues: $(ls po/*.po | wc -l) checked against $(wc -l <"$work/code") texts"
exit $status
