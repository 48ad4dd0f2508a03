#!/usr/bin/env bash
# Fails when the documentation points nowhere: every relative link and
# picture of README.md and docs/*.md must name a file, seen from the page
# that holds it, and every page under docs/ must be linked from the README's
# table.  Runs on the source folder, and on an installed documentation
# folder (share/doc/valdor), which has the same shape.
#   packaging/check-doc-links.sh [DIR]
set -u
root=${1:-$(dirname "$0")/..}
cd "$root" || exit 2
bad=0
complain() { echo "$1"; bad=$((bad + 1)); }

[ -f README.md ] || complain "README.md is missing"
for page in README.md docs/*.md; do
  [ -f "$page" ] || continue
  dir=$(dirname "$page")
  # [text](target) and ![alt](target); web addresses and anchors of the
  # page itself are not files.
  while IFS= read -r target; do
    target=${target%%#*}
    [ -n "$target" ] || continue
    [[ "$target" =~ ^[a-z]+: ]] && continue
    [ -e "$dir/$target" ] || complain "$page: link to $target, which is not there"
  done < <(grep -o '](\([^)]*\))' "$page" | sed -E 's/^\]\(//; s/\)$//; s/ .*//')
done

for page in docs/*.md; do
  [ -f "$page" ] || continue
  grep -qF "]($page)" README.md || complain "$page is not linked from README.md"
done

if [ "$bad" -gt 0 ]; then
  echo "$bad fault(s) in the documentation's links"
  exit 1
fi
echo "every link of the documentation resolves"
