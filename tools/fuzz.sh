#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang and libFuzzer (build-fuzz/)
# and runs each for SECONDS (default 10: the smoke run of the test command),
# printing how many inputs each executed. A crash or a broken model fails the
# run; the input that did it is left in build-fuzz/ as crash-*.
#   tools/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_dispatch fuzz_machine_file fuzz_script)
build="$top/build-fuzz"

if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ is not installed (tools/install-deps.sh test installs it)" >&2
  exit 1
fi
mkdir -p "$build"
if ! { (cd "$top" && cmake --preset fuzz) &&
       cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"; } >"$build/build.log" 2>&1; then
  tail -30 "$build/build.log" >&2
  echo "fuzz: the fuzz targets do not build" >&2
  exit 1
fi

# Seed corpora: the machine files and fixtures, the script and request seeds.
seeds_for() {
  case "$1" in
    fuzz_machine_file) mkdir -p "$build/seed/machines"
                       cp "$top"/machines/*.lspci "$top"/tests/fixtures/*.lspci "$build/seed/machines/"
                       echo "$build/seed/machines" ;;
    fuzz_script)       echo "$top/tests/fuzz/corpus/script" ;;
    fuzz_dispatch)     echo "$top/tests/fuzz/corpus/dispatch" ;;
  esac
}

status=0
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  log="$build/$target.log"
  # The first corpus folder takes what the run finds; the seeds are only read.
  if (cd "$build" && "./$target" -max_total_time="$seconds" \
        -print_final_stats=1 -max_len=8192 "$corpus" "$(seeds_for "$target")") >"$log" 2>&1; then
    result=passed
  else
    result=FAILED
    status=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  echo "fuzz: $target ${result}: ${runs:-?} executions in ${seconds} s (corpus $(ls "$corpus" | wc -l) inputs)"
  if [ $result = FAILED ]; then grep -E "model violated|ERROR|SUMMARY|driver fault" "$log" | head -5 >&2; fi
done
exit $status
