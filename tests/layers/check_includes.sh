#!/usr/bin/env bash
# Fails when an #include runs against the floors of the tree: each folder of
# valdor/ may include only its own files and the floors below it, only the
# window and the entry point may use Qt, rslink's protocol core may not
# reach up into its transport or driver, the driver does not use the line
# analysis, and valdor and the tools take from inside rslink only the public
# header, the core, the line analysis and the stateless platform helpers
# (they link rslink_helpers, never the driver's own platform code).
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

# The platform headers that hold no state of the driver's: valdor and the
# tools may include these (a new stateless helper is added here), and they
# include nothing of the platform but each other and the diagnostic channel.
helpers="serial_devices.h capture_file.h fd_io.h net_link.h"
is_helper() { [[ " $helpers " == *" $1 "* ]]; }
allowed="rslink/rslink.h, rslink/core/, rslink/analysis/ and the platform helpers ($helpers)"

while IFS= read -r hit; do
  file=${hit%%:*} rest=${hit#*:}
  line=${rest%%:*}
  header=$(sed -E 's/.*#include *["<](rslink\/[^">]*)[">].*/\1/' <<<"$hit")
  case $header in
    rslink/rslink.h | rslink/core/* | rslink/analysis/*) continue ;;
    rslink/platform/*) is_helper "${header#rslink/platform/}" && continue ;;
  esac
  complain "$file:$line includes $header: valdor and the tools take only $allowed from rslink"
done < <(grep -rn '#include *["<]rslink/' valdor tools bench fuzz --include='*.h' --include='*.cpp')

for helper in $helpers; do
  for file in rslink/platform/"${helper%.h}".h rslink/platform/"${helper%.h}".cpp; do
    [ -f "$file" ] || continue
    while IFS= read -r hit; do
      line=${hit%%:*}
      header=$(sed -E 's/.*#include *"rslink\/platform\/([^"]*)".*/\1/' <<<"$hit")
      is_helper "$header" || [ "$header" = diag.h ] ||
        complain "$file:$line includes rslink/platform/$header: a platform helper includes only the core, diag.h and the other helpers"
    done < <(grep -n '#include *"rslink/\(platform\|src\)/' "$file")
  done
done

if [ "$bad" -gt 0 ]; then
  echo "$bad include(s) against the floors"
  exit 1
fi
echo "includes run one way"
