#!/usr/bin/env bash
# Unpacks the Debian packages into a fresh root and runs the installed valdor
# against the installed bdusim on example scripts of the installed
# documentation, comparing the output with the installed expected output
# (times of trace lines masked), and validates the desktop entry and the
# AppStream metainfo (tools from scripts/install-deps.sh package).  Nothing of
# the source or build tree is used once the packages are unpacked: the
# library path holds only the fresh root's library folder.
#   scripts/check-packages.sh [DIR]   (default build-pkg: the packages DIR/*.deb)
# Prints one "PASS name" or "FAIL name" line a check; the exit status is the
# number of failed checks (0: all passed).
set -uo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-pkg}
debs=("$dir"/*.deb)
[ -f "${debs[0]}" ] || { echo "check-packages.sh: no packages in $dir (scripts/package.sh)" >&2; exit 1; }

root=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; fi
  rm -rf "$root"
}
trap cleanup EXIT
failures=0
result() {  # result NAME STATUS
  if [ "$2" -eq 0 ]; then echo "PASS $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}

for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$root/sys"; done
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
bin=$root/sys/usr/bin
docs=$root/sys/usr/share/doc/valdor/examples
# The programs as a system install runs them, only with the fresh root's
# library folder in place of the system's.
run_installed() {
  env -i PATH="$bin:/usr/bin:/bin" LD_LIBRARY_PATH="$root/sys/usr/lib/$multiarch" HOME="$root" "$@"
}
# The same in place of the calling (sub)shell, so that a background job's $!
# is the program itself and killing it ends the program.
exec_installed() {
  exec env -i PATH="$bin:/usr/bin:/bin" LD_LIBRARY_PATH="$root/sys/usr/lib/$multiarch" HOME="$root" "$@"
}

# The packaged valdor loads librslink from the fresh root and carries no RPATH.
lib=$(run_installed ldd "$bin/valdor" | sed -n 's/.*librslink\.so\.[0-9]* => \([^ ]*\).*/\1/p')
case "$lib" in "$root"/sys/*) s=0 ;; *) echo "valdor loads librslink from '$lib'" >&2; s=1 ;; esac
! readelf -d "$bin/valdor" | grep -qE 'R(UN)?PATH' || { echo "valdor has an RPATH" >&2; s=1; }
result installed-library "$s"

# The desktop entry and the metainfo as installed.
share=$root/sys/usr/share
desktop-file-validate "$share/applications/org.valdor.Valdor.desktop"
result installed-desktop-entry $?
appstreamcli validate --no-net "$share/metainfo/org.valdor.Valdor.metainfo.xml" >&2
result installed-metainfo $?

# A fresh simulated unit for each example, as the test suite runs them.
start_sim() {
  sim_out=$root/bdusim.out
  (exec_installed bdusim) >"$sim_out" 2>"$root/bdusim.err" &
  sim_pid=$!
  pty=
  for _ in $(seq 100); do
    pty=$(head -n 1 "$sim_out" 2>/dev/null)
    [ -n "$pty" ] && return 0
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "the installed bdusim did not start:" >&2
  cat "$root/bdusim.err" >&2
  return 1
}
stop_sim() {
  kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; sim_pid=
}

mask() { sed -E 's/(SEND|RECV)\[[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3}\]/\1[hh:mm:ss:mmm]/'; }
# Examples whose output depends on the clock only through trace times.
for name in status-check bill-count log-read; do
  work=$root/run-$name
  mkdir -p "$work"
  if ! start_sim; then result "installed-example-$name" 1; continue; fi
  (cd "$work" && run_installed env RSLINK_COM1="$pty" valdor --script "$docs/$name.vds" >out.txt 2>err.txt)
  s=$?
  if [ "$s" -ne 0 ]; then
    echo "valdor --script $name.vds: exit status $s" >&2; cat "$work/err.txt" >&2
  elif ! diff -u "$docs/$name.out" <(mask <"$work/out.txt") >&2; then
    s=1
  fi
  stop_sim
  result "installed-example-$name" "$s"
done
exit "$failures"
