#!/usr/bin/env bash
# The main job: installs what building needs, builds orvane-check (release preset, that
# target only) and runs an update check. Without arguments the check runs against the demo
# server built into orvane-check; any arguments go to orvane-check (a HOME-URL, options).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export DEBIAN_FRONTEND=noninteractive
# Configuring the project looks for GoogleTest and Google Benchmark as well.
pkgs=(g++ cmake make libgtest-dev libgmock-dev libbenchmark-dev)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
(cd "$root" && cmake --preset release >/dev/null &&
  cmake --build --preset release -j "$(nproc)" --target orvane-check)
# Run from where the user stands: that is the folder the save prompt proposes.
exec "$root/build/release/apps/orvane-check/orvane-check" "$@"
