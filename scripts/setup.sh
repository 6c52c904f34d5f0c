#!/usr/bin/env bash
# Installs the Debian packages the Linux build, tests and demo need, when missing.
set -euo pipefail
PKGS=(g++ cmake ninja-build pkg-config python3 openssl
      libpugixml-dev libfmt-dev nlohmann-json3-dev libsodium-dev libcurl4-openssl-dev libzip-dev
      libgtest-dev libgmock-dev googletest libbenchmark-dev zlib1g-dev clang libclang-rt-dev)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
