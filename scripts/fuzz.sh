#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang and runs each for a fixed time. Needs what
# scripts/install-deps.sh installs (the test command runs it).
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     default: 60 seconds, every target
#
# Two targets run at a time (RQ735_FUZZ_JOBS). The build goes to build-fuzz/ (RQ735_FUZZ_BUILD_DIR);
# there each target keeps the corpus it grew (corpus/<target>, started from fuzz/corpus/<target>),
# its log (logs/<target>.log) and any input that failed (artifacts/<target>/). A failing input can be
# replayed with: build-fuzz/<target> build-fuzz/artifacts/<target>/<file>
# The exit status is 1 when any target found a crash, a leak, a hang or a failed check.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${RQ735_FUZZ_BUILD_DIR:-$root/build-fuzz}"
jobs="${RQ735_FUZZ_JOBS:-2}"
seconds="${1:-60}"
shift || true

all=(fuzz_system_reply fuzz_modbus_reply fuzz_identity_reply fuzz_dynamic_reply fuzz_find_reply_key
     fuzz_int_text fuzz_hex_pairs fuzz_ieee754_text fuzz_hart_frame fuzz_hart_request
     fuzz_decode_module fuzz_decode_hart fuzz_decode_modbus fuzz_telnet fuzz_frame_end fuzz_hart_answer fuzz_hart_commands fuzz_hart_settings)
if [ $# -gt 0 ]; then targets=("$@"); else targets=("${all[@]}"); fi

CC=clang CXX=clang++ cmake -S "$root/fuzz" -B "$build" -DRQ735_WERROR="${RQ735_WERROR:-OFF}" >/dev/null
cmake --build "$build" -j"$jobs" --target "${targets[@]}" >/dev/null

export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
runtime="$build/runtime"
mkdir -p "$runtime" "$build/logs" && chmod 700 "$runtime"
export XDG_RUNTIME_DIR="$runtime"

run_one() {
  local t="$1"
  mkdir -p "$build/corpus/$t" "$build/artifacts/$t"
  local rc=0
  "$build/$t" -max_total_time="$seconds" -timeout=10 -max_len=1024 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$t/" "$build/corpus/$t" "$root/fuzz/corpus/$t" >"$build/logs/$t.log" 2>&1 ||
    rc=$?
  echo "$rc" >"$build/logs/$t.rc"
}

for t in "${targets[@]}"; do
  rm -f "$build/logs/$t.rc"
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  run_one "$t" &
done
wait

failed=0
printf '%-22s %12s %9s %6s %6s %8s  %s\n' target executions exec/s edges features corpus result
for t in "${targets[@]}"; do
  if [ "$(cat "$build/logs/$t.rc" 2>/dev/null)" = 0 ]; then result=ok; else result="FAILED, see $build/logs/$t.log"; failed=1; fi
  log="$build/logs/$t.log"
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  edges=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  features=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corpus=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$last")
  printf '%-22s %12s %9s %6s %6s %8s  %s\n' "$t" "${execs:-?}" "${rate:-?}" "${edges:-?}" "${features:-?}" \
    "${corpus:-?}" "$result"
  if [ "$result" != ok ]; then grep -m3 -E 'FINDING|ERROR|SUMMARY' "$log" | sed 's/^/    /' || true; fi
done
exit "$failed"
