#!/usr/bin/env bash
# Runs every mutant of a patch folder against the test suite.
#   tests/mutation/run_mutants.sh PATCH_DIR BUILD_DIR RESULTS_FILE
# For each PATCH_DIR/*.patch: apply it, build incrementally, run ctest, revert.
# A mutant is "killed" when a test fails, "survived" when all pass, and "did
# not build" when the build fails. The unmutated tree must build and pass
# first. The patch in force is always reverted, also on an error or Ctrl-C.
set -euo pipefail

if [[ $# -ne 3 ]]; then
  echo "usage: $0 PATCH_DIR BUILD_DIR RESULTS_FILE" >&2
  exit 2
fi
repo=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
patches=$(realpath "$1")
build=$(realpath -m "$2")
results=$(realpath -m "$3")
logs="$build/mutation-logs"
cd "$repo"

# Each build and test step runs as a background job in its own process group
# and is waited for: a Ctrl-C reaches only this script, which stops the step,
# reverts the patch and exits (a foreground cmake that caught the signal
# itself would just look like a failed build).
set -m
applied=""
child=""
revert() {
  # The patch is marked before it is applied, so it is reverted only if it is in.
  if [[ -n "$applied" ]] && git apply -R --check "$applied" 2>/dev/null; then
    git apply -R "$applied"
  fi
  applied=""
}
stop() {
  if [[ -n "$child" ]]; then
    kill -TERM -- "-$child" 2>/dev/null || true
    wait "$child" 2>/dev/null || true
  fi
  echo "interrupted" >&2
  exit 130
}
trap revert EXIT
trap stop INT TERM

step() {  # step LOG COMMAND...: runs COMMAND with its output in LOG
  local log=$1 rc=0
  shift
  "$@" >"$log" 2>&1 &
  child=$!
  wait "$child" || rc=$?
  child=""
  return "$rc"
}
# "N of M failed: FirstTest, SecondTest" from a ctest log.
first_failures() {
  local count names
  count=$(grep -oE '[0-9]+ tests failed out of [0-9]+' "$1" | sed -E 's/ tests failed out of / of /') || count="?"
  names=$(sed -n '/The following tests FAILED/,$p' "$1" | sed -nE 's/^[[:space:]]+[0-9]+ - ([^ ]+).*/\1/p' | awk 'NR <= 2' | paste -sd, -)
  echo "$count failed: ${names//,/, }"
}
build_tree() { step "$1" cmake --build "$build" -j2; }
run_tests() { step "$1" ctest --test-dir "$build" -j2 --timeout 120; }

shopt -s nullglob
files=("$patches"/*.patch)
[[ ${#files[@]} -gt 0 ]] || { echo "no patches in $patches" >&2; exit 2; }
git diff --quiet HEAD -- src || { echo "src/ has uncommitted changes; mutants need a clean tree" >&2; exit 2; }
for patch in "${files[@]}"; do
  git apply --check "$patch" || { echo "$(basename "$patch") does not apply" >&2; exit 2; }
done

mkdir -p "$logs"
# Warnings are errors here, as in our own builds (the code before the option
# had -Werror always on and ignores it): a mutant that warns does not build.
[[ -f "$build/CMakeCache.txt" ]] ||
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMLORN_WERROR=ON >"$logs/configure.log"
build_tree "$logs/baseline.build.log" || { echo "the unmutated tree does not build" >&2; exit 1; }
run_tests "$logs/baseline.ctest.log" || { echo "the unmutated tree fails its tests" >&2; exit 1; }
baseline=$(grep -E 'tests passed' "$logs/baseline.ctest.log")

start=$SECONDS
table=$(printf '%-5s %-14s %6s  %s\n' id result seconds "failed tests (the first two)")
killed=0 survived=0 unbuilt=0
for patch in "${files[@]}"; do
  id=$(basename "$patch" .patch)
  began=$SECONDS
  applied=$patch
  git apply "$patch"
  failed=""
  if ! build_tree "$logs/$id.build.log"; then
    result="did not build"
    unbuilt=$((unbuilt + 1))
  elif run_tests "$logs/$id.ctest.log"; then
    result="survived"
    survived=$((survived + 1))
  else
    result="killed"
    killed=$((killed + 1))
    failed=$(first_failures "$logs/$id.ctest.log")
  fi
  revert
  line=$(printf '%-5s %-14s %6d  %s' "$id" "$result" $((SECONDS - began)) "$failed")
  echo "$line"
  table+=$'\n'"$line"
done

{
  echo "Mutants of $(basename "$patches")/, src/ as of $(git log -1 --format=%h -- src), build $(basename "$build") ($(grep -oP 'CMAKE_BUILD_TYPE:STRING=\K.*' "$build/CMakeCache.txt"))"
  echo "Unmutated tree: $baseline"
  echo
  echo "$table"
  echo
  echo "killed $killed / survived $survived / did not build $unbuilt (of ${#files[@]})"
  echo "mutant runs took $((SECONDS - start)) s"
} | tee "$results"
