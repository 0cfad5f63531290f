#!/usr/bin/env bash
# The main job: installs what building orvane-check needs (a compiler, CMake and OpenSSL,
# the one library it links), builds it with the check preset (release, no tests or benchmarks) and runs
# an update check. Without arguments the check runs against the demo server built into
# orvane-check; any arguments go to orvane-check (a HOME-URL, options).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-packages.sh" g++ cmake make libssl-dev
(cd "$root" && cmake --preset check >/dev/null &&
  cmake --build --preset check -j "$(nproc)" --target orvane-check)
# Run from where the user stands: that is the folder the save prompt proposes.
exec "$root/build/check/apps/orvane-check/orvane-check" "$@"
