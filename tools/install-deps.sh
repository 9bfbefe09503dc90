#!/usr/bin/env bash
# Installs the Debian packages the suite builds, tests and benchmarks with,
# if any of them is missing. Needs root (apt-get).
set -euo pipefail

packages=(
  # toolchain and checks
  cmake make g++ pkg-config clang clang-format libclang-rt-14-dev locales
  # libraries the suite links
  libtclap-dev libcli11-dev libgsl-dev libtommath-dev nlohmann-json3-dev libmatio-dev
  libsndfile1-dev libfftw3-dev libplplot-dev plplot-driver-cairo
  # Python module
  python3-dev pybind11-dev python3-numpy python3-pytest
  # an independent reference in the preparation tests and benchmarks
  python3-scipy
  # manual pages from the programs' help, the Debian package (cpack -G DEB, dpkg-shlibdeps)
  help2man dpkg-dev file
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev libliquid-dev
)

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

# The writer's decimal-point test switches to a locale with a decimal comma, and fails
# without it. Debian's way: the line in /etc/locale.gen (so that a later locale-gen keeps
# it) and locale-gen; localedef where there is no locale-gen.
if [[ -f /etc/locale.gen ]] && ! grep -q '^de_DE\.UTF-8 UTF-8' /etc/locale.gen; then
  if grep -q '^# *de_DE\.UTF-8 UTF-8' /etc/locale.gen; then
    sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  else
    echo 'de_DE.UTF-8 UTF-8' >>/etc/locale.gen
  fi
fi
has_locale() { locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; }
if ! has_locale; then
  echo "install-deps: generating the de_DE.UTF-8 locale"
  if command -v locale-gen >/dev/null && [[ -f /etc/locale.gen ]]; then
    locale-gen
  else
    localedef -i de_DE -c -f UTF-8 de_DE.UTF-8
  fi
  has_locale || { echo "install-deps: the de_DE.UTF-8 locale could not be made" >&2; exit 1; }
fi
