#!/usr/bin/env bash
# Installs the build and test dependencies, builds the debug and the ASan+UBSan
# configurations and runs every test in both, then runs the tests that cross threads
# (those named with "Thread": cross-thread posting, sockets in worker threads) under
# ThreadSanitizer; the tsan presets build and select only those.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)
for preset in debug asan tsan; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
