#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages.
set -euo pipefail
pkgs=(g++ cmake make libgtest-dev libgmock-dev libbenchmark-dev python3 curl
      netcat-openbsd socat nginx-light libnginx-mod-http-echo squid tinyproxy
      apache2-utils wget tmux pkg-config libuv1-dev libasio-dev
      libfltk1.3-dev xvfb xauth xdotool x11-apps x11-utils imagemagick libssl-dev openssl
      fluxbox dpkg-dev file man-db groff-base python3-cryptography)
bash "$(dirname "$0")/install-packages.sh" "${pkgs[@]}"
