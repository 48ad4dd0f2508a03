#!/usr/bin/env bash
# Runs every fuzz target for a bounded time on its seed corpus.
# Usage: fuzz/run.sh BUILD_DIR [SECONDS_EACH] [TARGET...]
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
failed=()
for t in "${targets[@]}"; do
  work="$build/corpus-run/$t"
  mkdir -p "$work"
  echo "--- fuzz_$t: ${seconds}s"
  # -timeout: one input taking seconds is a hang (the targets never sleep).
  if ! "$build/fuzz_$t" -max_total_time="$seconds" -max_len="${max_len[$t]}" -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/findings/${t}-" \
      "$work" "fuzz/corpus/$t" > "$build/fuzz_$t.log" 2>&1; then
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
