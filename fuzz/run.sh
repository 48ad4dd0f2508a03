#!/usr/bin/env bash
# Runs every fuzz target for a bounded time on its seed corpus.
# Usage: fuzz/run.sh BUILD_DIR [SECONDS_EACH] [TARGET...]
# FUZZ_JOBS=N runs N targets at a time (default 1); each still gets its
# SECONDS_EACH, so only the waiting is shorter.
#
# New inputs go to BUILD_DIR/corpus-run/<target> (not into the repository);
# a finding is written to BUILD_DIR/findings/ and the script fails, naming it.
# Add a finding to fuzz/corpus/<target>/ and a regression test once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:?usage: fuzz/run.sh BUILD_DIR [SECONDS_EACH] [TARGET...]}
seconds=${2:-20}
shift $(( $# >= 2 ? 2 : 1 ))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(receive_path send_exchange response_decoders settings_file download
                                 capture_reader trace_decoder telnet_codec)

# The longest input each target takes: a whole frame or response, a settings
# record and then some, a program file of a few blocks, a telnet conversation
# with some data.
declare -A max_len=([receive_path]=4096 [send_exchange]=4096 [response_decoders]=1492
                    [settings_file]=64 [download]=8192 [capture_reader]=8192 [trace_decoder]=8192
                    [telnet_codec]=2048)

mkdir -p "$build/findings"
jobs=${FUZZ_JOBS:-1}

# Runs one target; its output goes to BUILD_DIR/fuzz_<target>.log and its
# exit status to BUILD_DIR/fuzz_<target>.status.
fuzz_one() {
  local t=$1 work="$build/corpus-run/$1" status=0
  mkdir -p "$work"
  # -timeout: one input taking seconds is a hang (the targets never sleep).
  "$build/fuzz_$t" -max_total_time="$seconds" -max_len="${max_len[$t]}" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/findings/${t}-" \
    "$work" "fuzz/corpus/$t" > "$build/fuzz_$t.log" 2>&1 || status=$?
  echo "$status" > "$build/fuzz_$t.status"
}

running=0
for t in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  rm -f "$build/fuzz_$t.status"
  fuzz_one "$t" &
  running=$((running + 1))
done
wait

failed=()
for t in "${targets[@]}"; do
  echo "--- fuzz_$t: ${seconds}s"
  if [ "$(cat "$build/fuzz_$t.status" 2>/dev/null)" != 0 ]; then
    failed+=("$t")
    tail -n 40 "$build/fuzz_$t.log"
  fi
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$build/fuzz_$t.log" | tr '\n' ' ' || true
  echo
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz findings in: ${failed[*]} (inputs in $build/findings/)"
  exit 1
fi
echo "fuzz: ${#targets[@]} targets ran clean"
