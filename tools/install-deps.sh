#!/usr/bin/env bash
# Installs the Debian packages the suite builds, tests and benchmarks with,
# if any of them is missing. Needs root (apt-get).
set -euo pipefail

packages=(cmake make g++ pkg-config libtclap-dev libgsl-dev libtommath-dev
          libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
