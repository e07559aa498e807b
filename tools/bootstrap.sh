#!/usr/bin/env bash
# Installs the Debian packages the project needs, and only when one is missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build make pkg-config libgtest-dev time
  firebird3.0-server-core firebird3.0-server firebird3.0-utils firebird-dev libfbclient2
  libcli11-dev nlohmann-json3-dev
  qt6-base-dev
  clang libclang-rt-14-dev
  dpkg-dev lintian
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null | grep -qx installed || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
