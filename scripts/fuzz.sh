#!/usr/bin/env bash
# Builds the libFuzzer targets (preset `fuzz`: clang, ASan + UBSan) and runs
# each one for a bounded time on a copy of its seed corpus in fuzz/corpus/.
# New corpus entries stay in a scratch directory; crash inputs are kept under
# build/fuzz/artifacts/<target>/ and logs under build/fuzz/logs/.
#
#   scripts/fuzz.sh              every target, 30 s each
#   scripts/fuzz.sh edl client   only these targets
#   FUZZ_TIME=120 scripts/fuzz.sh
#
# Exit status 0 when no target crashed; the last line is "N passed, N failed".
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

time_s=${FUZZ_TIME:-30}
bin=$root/build/fuzz/fuzz
targets=("$@")
if ((${#targets[@]} == 0)); then
  for f in fuzz/fuzz_*.cpp; do
    n=$(basename "$f" .cpp)
    targets+=("${n#fuzz_}")
  done
fi

# Scratch space on a memory file system when there is one: several targets
# write a file per input.
base=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm
work=$(mktemp -d "$base/morvia-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$root/build/fuzz/logs"

passed=0
failed=0
for t in "${targets[@]}"; do
  exe=$bin/fuzz_$t
  log=$root/build/fuzz/logs/$t.log
  artifacts=$root/build/fuzz/artifacts/$t
  if [ ! -x "$exe" ]; then
    echo "fuzz $t: no program $exe"
    failed=$((failed + 1))
    continue
  fi
  mkdir -p "$work/$t/corpus" "$work/$t/tmp" "$artifacts"
  [ -d "fuzz/corpus/$t" ] && cp -R "fuzz/corpus/$t/." "$work/$t/corpus/"
  extra=()
  case $t in
    client) extra=(-max_len=9000) ;;   # past the 4096-character line limit
    editport) extra=(-max_len=1024) ;;  # inside the terminal's input buffer
  esac
  set +e
  TMPDIR=$work/$t/tmp timeout $((time_s + 120)) "$exe" "$work/$t/corpus" \
    -max_total_time="$time_s" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "${extra[@]}" >"$log" 2>&1
  rc=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 || true)
  if [ "$rc" -eq 0 ]; then
    echo "fuzz $t: ok, ${runs:-?} runs, ${cov:-cov: ?}"
    passed=$((passed + 1))
  else
    echo "fuzz $t: FAILED (exit $rc), log $log, inputs in $artifacts/"
    grep -E 'ERROR|SUMMARY|fuzz check failed|Test unit written' "$log" | head -n 10 || true
    failed=$((failed + 1))
  fi
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
