#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan + UBSan) into build-fuzz/,
# runs every saved finding under fuzz/regressions/<target>/ once, then fuzzes
# each target from its seeds for a fixed time. Any crash, leak, timeout,
# out-of-memory or broken check fails the script; new findings are left in
# build-fuzz/findings/.
#
#   fuzz/run_ci.sh [--seconds N | --runs N] [--max-len BYTES] [--corpus DIR] [--logs DIR] [--build DIR] [--no-build] [TARGET...]
#
# TARGET is obj, 3ds, dxf, detect, export-obj, export-3ds or export-dxf (all
# by default). --corpus keeps each target's corpus in DIR/<target> for later
# runs (long campaigns); by default it lives in a temporary folder. --logs
# keeps each run's libFuzzer output, every line led by the seconds elapsed.
# --build names another build folder (a long campaign keeps its own binaries
# while build-fuzz is rebuilt); --no-build uses the binaries as they are.
# --max-len caps the inputs' size (64 KiB by default): a long campaign that
# keeps its inputs small runs many times faster.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=30
runs=
max_len=65536
corpus=
logs=
build=1
dir=build-fuzz
targets=()
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --max-len) max_len=$2; shift 2 ;;
    --corpus) corpus=$2; shift 2 ;;
    --logs) logs=$2; shift 2 ;;
    --build) dir=$2; shift 2 ;;
    --no-build) build=; shift ;;
    *) targets+=("$1"); shift ;;
  esac
done
[ ${#targets[@]} -gt 0 ] || targets=(obj 3ds dxf detect export-obj export-3ds export-dxf)

bin=$dir/bin
if [ -n "$build" ]; then
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DTAMLORN_FUZZ=ON -DTAMLORN_TESTS=OFF -DTAMLORN_WERROR=ON >/dev/null
  cmake --build "$dir" -j"$(nproc 2>/dev/null || echo 2)" --target fuzz-all >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -n "$corpus" ] || corpus=$work/corpus
[ -n "$logs" ] || logs=$work
mkdir -p "$dir/findings" "$logs"
cat fuzz/dict/obj.dict fuzz/dict/3ds.dict fuzz/dict/dxf.dict >"$work/detect.dict"

limits=(-timeout=2 -rss_limit_mb=2048 -malloc_limit_mb=512 -max_len="$max_len")
if [ -n "$runs" ]; then length=(-runs="$runs"); else length=(-max_total_time="$seconds"); fi

for target in "${targets[@]}"; do
  case $target in
    obj | 3ds | dxf) seeds=(fuzz/seeds/$target tests/data/corpus/$target); dict=fuzz/dict/$target.dict ;;
    detect) seeds=(fuzz/seeds/{obj,3ds,dxf} tests/data/corpus/{obj,3ds,dxf}); dict=$work/detect.dict ;;
    export-*) seeds=(fuzz/seeds/export); dict=fuzz/dict/export.dict ;;
    *) echo "unknown fuzz target: $target" >&2; exit 2 ;;
  esac
  regressions=(fuzz/regressions/$target/*)
  if [ -e "${regressions[0]}" ]; then
    echo "== fuzz-$target: ${#regressions[@]} saved findings"
    "$bin/fuzz-$target" "${limits[@]}" "${regressions[@]}" 2>"$work/log" || { cat "$work/log"; exit 1; }
  fi
  echo "== fuzz-$target: ${length[*]}"
  mkdir -p "$corpus/$target"
  log=$logs/$target.log
  status=0
  "$bin/fuzz-$target" "${limits[@]}" "${length[@]}" -dict="$dict" -print_final_stats=1 \
    -artifact_prefix="$dir/findings/$target-" "$corpus/$target" "${seeds[@]}" 2>&1 >/dev/null |
    perl -ne 'BEGIN { $| = 1; $start = time } print time - $start, "s ", $_' >"$log" || status=$?
  [ "$status" -eq 0 ] || { tail -n 60 "$log"; exit 1; }  # pipefail: libFuzzer's own status
  grep -E '^[0-9]+s (#[0-9]+[[:space:]]+DONE|stat::(number_of_executed_units|average_exec_per_sec))' "$log"
done
