#!/usr/bin/env bash
# Builds and runs every test twice: a plain build in build/ and a build under
# AddressSanitizer + UndefinedBehaviorSanitizer (leaks are failures) in build-asan/.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMLORN_WERROR=ON
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTAMLORN_SANITIZE=ON -DTAMLORN_WERROR=ON
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan --output-on-failure -j"$jobs"
