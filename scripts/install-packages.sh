#!/usr/bin/env bash
# Installs those of the named Debian packages that are missing (apt-get update first, once).
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
