#!/usr/bin/env bash
# Installs what building, running and testing Qel needs on Debian 12, only
# where it is missing. Needs root (or sudo) when something must be installed.
set -euo pipefail
packages=(build-essential cmake ninja-build python3 desktop-file-utils appstream qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev
          libgtest-dev libgmock-dev libbenchmark-dev fonts-noto-cjk xvfb xauth xdotool imagemagick
          pkg-config libspng-dev zlib1g-dev libturbojpeg0-dev libjpeg62-turbo-dev libtiff-dev libwebp-dev libgif-dev libexif-dev python3-pil
          libcli11-dev parallel lintian librsvg2-bin libxml2-utils
          python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pytest python3-dask python3-distributed
          python3-pip python3-venv python3-setuptools mypy locales)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# A locale with a decimal comma, for the test that formulas read numbers whatever the process locale.
if ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
  "${sudo_cmd[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
