#!/usr/bin/env bash
# Runs every test program of a build (default build/, the Release build) under
# valgrind's memcheck: any memory error or leak fails. The sweeps that load
# thousands of damaged copies or fail every allocation are left out here; they
# run under ASan + UBSan in tests/run_all.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
sweeps='FaultSweep.*:CorruptionSweep.*:TdsCorpusTest.CopiesCutShort*:TdsCorpusTest.Changed*'
status=0
for test in "$build"/bin/*_test; do
  echo "== $(basename "$test")"
  timeout 1800 valgrind --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect --quiet \
    "$test" --gtest_filter="-$sweeps" --gtest_brief=1 || status=1
done
exit $status
