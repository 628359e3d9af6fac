#!/usr/bin/env bash
# Builds and runs every test, warnings as errors, in three builds:
#   build/        GCC, Release (what users and packagers build)
#   build-clang/  clang, Release (skipped when clang is not installed)
#   build-asan/   GCC, Debug, AddressSanitizer + UndefinedBehaviorSanitizer (leaks are failures)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

run_build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -DTAMLORN_WERROR=ON "$@"
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs"
}

run_build build -DCMAKE_BUILD_TYPE=Release
if command -v clang++ >/dev/null; then
  run_build build-clang -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
fi
run_build build-asan -DCMAKE_BUILD_TYPE=Debug -DTAMLORN_SANITIZE=ON
