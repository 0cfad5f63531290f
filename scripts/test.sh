#!/usr/bin/env bash
# Installs the build and test dependencies and then:
# - builds what the main job builds on a fresh machine (the check preset without the
#   windowed back-end, as where FLTK is missing) and runs its demo check;
# - builds the debug and the ASan+UBSan configurations and runs every test in both;
# - runs the tests that cross threads (those named with "Thread": cross-thread posting,
#   sockets in worker threads) under ThreadSanitizer; the tsan presets build and select
#   only those;
# - installs the package from the check tree, builds its Debian packages and unpacks them,
#   and builds and runs the example consumer against both; installs from the debug tree too.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)

cmake --preset check -B build/check-nowin -DORV_WINDOWS=OFF >/dev/null
cmake --build build/check-nowin -j "$jobs"
bash scripts/demo-check.sh build/check-nowin/apps/orvane-check/orvane-check
bash scripts/consumer-test.sh build/check-nowin --deb

for preset in debug asan tsan; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
scratch=$(mktemp -d)
cmake --install build/debug --prefix "$scratch" >/dev/null
rm -rf "$scratch"
