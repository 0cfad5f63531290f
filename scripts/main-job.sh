#!/usr/bin/env bash
# The main job: installs what building needs, builds orvane-check (release preset, that
# target only) and runs an update check. Without arguments the check runs against the demo
# server built into orvane-check; any arguments go to orvane-check (a HOME-URL, options).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# Configuring the project looks for GoogleTest and Google Benchmark as well.
bash "$root/scripts/install-packages.sh" g++ cmake make libgtest-dev libgmock-dev libbenchmark-dev
(cd "$root" && cmake --preset release >/dev/null &&
  cmake --build --preset release -j "$(nproc)" --target orvane-check)
# Run from where the user stands: that is the folder the save prompt proposes.
exec "$root/build/release/apps/orvane-check/orvane-check" "$@"
