#!/usr/bin/env bash
# Installs what is missing, builds Kelvo and runs every test: once in a normal
# build, once with AddressSanitizer and UndefinedBehaviorSanitizer, and a short
# fuzzing smoke run when clang is present.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export QT_LOGGING_RULES="qt.qpa.*=false"

echo "== build (RelWithDebInfo)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVO_BUILD_BENCH=ON
cmake --build build -j "$jobs"
echo "== tests"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELVO_SANITIZE=ON
cmake --build build-asan -j "$jobs"
echo "== tests under sanitizers"
# Leak checking is left to LeakSanitizer-aware runs by hand: the platform's
# font and display libraries keep process-lifetime caches it would report.
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

if command -v clang++ >/dev/null 2>&1 && [ -f fuzz/CMakeLists.txt ]; then
  echo "== fuzzing smoke run"
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DKELVO_BUILD_FUZZ=ON -DKELVO_BUILD_TESTS=OFF -DKELVO_BUILD_GUI=OFF
  cmake --build build-fuzz -j "$jobs"
  scripts/fuzz-smoke.sh build-fuzz "${KELVO_FUZZ_SECONDS:-30}"
fi
