#!/usr/bin/env bash
# Runs every test of the project: installs what is missing, then, each in a
# build directory of its own:
#   main   the normal build and the whole suite
#   asan   the whole suite under AddressSanitizer and UndefinedBehaviorSanitizer
#   tsan   the driver's, the engine's, the fault and the monitor tests under ThreadSanitizer
#   fuzz   the libFuzzer targets (clang), each for a bounded time
#   package  the Debian packages: built, checked by lintian, unpacked into a
#          fresh root and run on example scripts there
# This is the README's test command and what CI runs.
#
#   scripts/test.sh                  every stage
#   scripts/test.sh main fuzz        only those stages
#   FUZZ_SECONDS=300 scripts/test.sh fuzz    longer fuzz runs (default 20 s a target)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
[ "$jobs" -gt 2 ] && jobs=2  # a shared 2-core machine: never more
# The tests mostly wait on the line (time-outs, the simulated unit's
# pacing): the main build's 636 tests take about 560 s one after the other
# but only some 70 s of CPU, so they run two a core; a sanitizer's tests
# use more CPU, which still leaves room.
test_jobs=$((jobs * 2))
fuzz_seconds=${FUZZ_SECONDS:-20}

stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(main asan tsan fuzz package)

scripts/install-deps.sh test

passed=0
failed=0
timings=()

# Configures a build folder: configure DIR [CMAKE ARGUMENTS...].  Every
# stage builds from scratch on CI, so each target's sources are compiled a
# few at a time as one unit (a unity build), which saves most of the time
# spent on the same headers again and again (GoogleTest, Qt); and Ninja,
# where installed, keeps both cores busy across targets.  A folder
# configured before keeps its generator.
configure() {
  local dir=$1
  shift
  local generator=()
  if [ ! -f "$dir/CMakeCache.txt" ] && command -v ninja >/dev/null; then generator=(-G Ninja); fi
  cmake -B "$dir" "${generator[@]}" -DCMAKE_UNITY_BUILD=ON "$@" >/dev/null
}

banner() { echo; echo "=== $* ==="; }

# Adds up ctest's closing line ("100% tests passed, 0 tests failed out of 257").
count_ctest() {
  local log=$1 line total bad
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1) || return 0
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

# Runs ctest in a build directory, keeping its output for the count.
run_ctest() {
  local dir=$1; shift
  local log="$dir/ctest.log" status=0
  (cd "$dir" && ctest -j "$test_jobs" --output-on-failure "$@") 2>&1 | tee "$log" || status=$?
  count_ctest "$log"
  if [ "$status" -ne 0 ] && ! grep -qE 'tests passed, [0-9]+ tests? failed' "$log"; then
    failed=$((failed + 1))  # ctest itself failed before running anything
  fi
  return "$status"
}

stage_main() {
  configure build -S . -DCMAKE_BUILD_TYPE=RelWithDebInfo || return 1
  cmake --build build -j "$jobs" || return 1
  run_ctest build
}

# Sanitizers stop at the first report (-fno-sanitize-recover), so a clean
# run is a run with no report.  LeakSanitizer runs too, Qt tests included,
# with no suppressions: none has been needed.
stage_asan() {
  configure build-asan -S . -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVALDOR_SANITIZE=address,undefined \
    -DVALDOR_BENCH=OFF || return 1
  cmake --build build-asan -j "$jobs" || return 1
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest build-asan
}

# The driver's threads, the worker and the whole console on the line; the
# window is left out (Qt's own libraries are not built for ThreadSanitizer).
stage_tsan() {
  configure build-tsan -S . -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVALDOR_SANITIZE=thread \
    -DVALDOR_WITH_QT=OFF -DVALDOR_BENCH=OFF || return 1
  cmake --build build-tsan -j "$jobs" --target test_rslink test_engine test_faults test_monitor || return 1
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    run_ctest build-tsan -E '_NOT_BUILT$|^packaging\.'
}

# A clang build of only what the fuzz targets drive; each target runs on its
# seed corpus for a bounded time, one a core.  A finding fails the stage.
stage_fuzz() {
  CC=clang-14 CXX=clang++-14 configure build-fuzz -S fuzz || return 1
  cmake --build build-fuzz -j "$jobs" || return 1
  local status=0 t
  FUZZ_JOBS=$jobs fuzz/run.sh build-fuzz "$fuzz_seconds" || status=$?
  for t in receive_path send_exchange response_decoders settings_file download \
           capture_reader trace_decoder telnet_codec; do
    if [ -f "build-fuzz/fuzz_$t.log" ] && grep -q '^Done [0-9]* runs' "build-fuzz/fuzz_$t.log"; then
      passed=$((passed + 1))
    else
      failed=$((failed + 1))
    fi
  done
  return "$status"
}

# The packages are built in build-pkg (scripts/package.sh: lintian must
# report no error), then scripts/check-packages.sh runs the unpacked programs
# with no build tree on the library path; each of its checks counts.
stage_package() {
  if scripts/package.sh; then passed=$((passed + 1)); else failed=$((failed + 1)); return 1; fi
  local log=build-pkg/check.log status=0
  scripts/check-packages.sh build-pkg 2>&1 | tee "$log" || status=$?
  passed=$((passed + $(grep -c '^PASS ' "$log")))
  failed=$((failed + $(grep -c '^FAIL ' "$log")))
  if [ "$status" -ne 0 ] && ! grep -q '^FAIL ' "$log"; then
    failed=$((failed + 1))  # it stopped before any check
  fi
  return "$status"
}

overall=0
for s in "${stages[@]}"; do
  if ! declare -F "stage_$s" >/dev/null; then
    echo "unknown stage: $s (main, asan, tsan, fuzz, package)" >&2
    exit 2
  fi
  banner "stage $s"
  start=$(date +%s)
  status=0
  # Each stage checks its own steps: errexit does not reach into a function
  # called as the left of ||.
  "stage_$s" || status=$?
  took=$(( $(date +%s) - start ))
  timings+=("$(printf '%-7s %5d s  %s' "$s" "$took" "$([ $status -eq 0 ] && echo ok || echo FAILED)")")
  echo "=== stage $s: ${took} s"
  [ $status -eq 0 ] || overall=1
done

banner "stage times"
printf '%s\n' "${timings[@]}"
echo
[ $overall -eq 0 ] && echo "All tests passed." || echo "Some stages FAILED."
echo "tests: $passed passed, $failed failed"
exit $overall
