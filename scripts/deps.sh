#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
pkgs=(g++ cmake make libgtest-dev libgmock-dev libbenchmark-dev python3 curl
      netcat-openbsd socat nginx-light libnginx-mod-http-echo squid tinyproxy
      apache2-utils wget tmux pkg-config libuv1-dev libasio-dev
      libfltk1.3-dev xvfb xauth xdotool x11-apps imagemagick)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
