#!/usr/bin/env bash
# Builds everything with GCC's --coverage, unoptimised (build-cov/), runs every
# test, and reports the lines and functions of src/, host/ and tools/ that no
# test runs (tests/coverage_report.py). Fails when a test fails or a function
# no test runs is not one the report expects.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
coverage=--coverage
cmake -S . -B build-cov -DCMAKE_BUILD_TYPE=Debug -DTAMLORN_WERROR=ON -DCMAKE_C_FLAGS="$coverage" \
  -DCMAKE_CXX_FLAGS="$coverage" -DCMAKE_EXE_LINKER_FLAGS="$coverage" -DCMAKE_SHARED_LINKER_FLAGS="$coverage"
cmake --build build-cov -j"$jobs"
find build-cov -name '*.gcda' -delete
ctest --test-dir build-cov --output-on-failure -j"$jobs"
python3 tests/coverage_report.py build-cov
