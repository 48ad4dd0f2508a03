#!/usr/bin/env bash
# Fails when an #include runs against the floors of the tree: each folder of
# valdor/ may include only its own files and the floors below it, only the
# window and the entry point may use Qt, rslink's protocol core may not
# reach up into its transport or driver, and the driver does not use the
# line analysis.
#   tests/layers/check_includes.sh [SOURCE_DIR]
set -u
root=${1:-$(dirname "$0")/../..}
cd "$root" || exit 2

# Floor of each valdor folder; a folder may include a lower floor or its own.
declare -A floor=([panel]=0 [responses]=1 [engine]=2 [transfers]=3 [records]=3 [monitor]=5
                  [console]=4 [headless]=5 [qt]=5 [production]=6 [app]=7)
bad=0
complain() { echo "$1"; bad=$((bad + 1)); }

while IFS= read -r file; do
  from=$(cut -d/ -f2 <<<"$file")
  [ -n "${floor[$from]+x}" ] || { complain "$file: folder valdor/$from has no floor"; continue; }
  while IFS= read -r hit; do
    line=${hit%%:*}
    to=$(sed -E 's/.*#include "valdor\/([a-z_]+)\/.*/\1/' <<<"$hit")
    [ "$to" = "$from" ] && continue
    if [ -z "${floor[$to]+x}" ]; then
      complain "$file:$line includes valdor/$to, which has no floor"
    elif [ "${floor[$to]}" -ge "${floor[$from]}" ]; then
      complain "$file:$line: valdor/$from includes valdor/$to, which is not below it"
    fi
  done < <(grep -n '#include "valdor/' "$file")
  if [ "$from" != qt ] && [ "$from" != app ]; then
    grep -n '#include <Q' "$file" | while IFS= read -r hit; do
      echo "$file:${hit%%:*}: Qt outside valdor/qt"
    done | grep . && bad=$((bad + 1))
  fi
done < <(find valdor -name '*.h' -o -name '*.cpp' | sort)

while IFS= read -r hit; do
  complain "$hit: the protocol core includes the transport or the driver"
done < <(grep -rn '#include "rslink/\(platform\|src\)/' rslink/core rslink/analysis)

# The line analysis serves the programs that read a line from outside; the
# driver takes part in the line and must not need it.
while IFS= read -r hit; do
  complain "$hit: the driver includes the line analysis"
done < <(grep -rn '#include "rslink/analysis/' rslink/core rslink/platform rslink/src)

if [ "$bad" -gt 0 ]; then
  echo "$bad include(s) against the floors"
  exit 1
fi
echo "includes run one way"
