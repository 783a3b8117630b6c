#!/usr/bin/env bash
# Installs what is missing, builds Kelvo and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
if [ -x build/src/app/kelvo ]; then
  exec build/src/app/kelvo "$@"
else
  exec build/src/tool/kelvo-tool --help
fi
