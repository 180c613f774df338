#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are missing.
# Safe to run again: it only calls apt-get when something is absent.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev libqt6sql6-sqlite libqt6sql6-psql
  libzip-dev libpugixml-dev libsqlite3-dev sqlite3 libisal-dev zlib1g-dev libgsf-1-dev
  postgresql
  libgtest-dev libgmock-dev libbenchmark-dev
  libxml2-utils unzip
  libreoffice-writer-nogui libreoffice-calc-nogui libreoffice-base-drivers
  python3-docx python3-openpyxl python3-xlrd
  libpq-dev
  xdg-utils man-db poppler-utils
  fonts-dejavu-core fonts-dejavu-extra fonts-noto-cjk
  clang libclang-rt-14-dev
  libxlsxwriter-dev
  dpkg-dev fakeroot lintian file
  tidy pandoc
  libshp-dev libreadstat-dev pxlib-dev python3-dbfread pspp readstat gnumeric
  python3-ldap xclip xvfb xauth fonts-symbola python3-html5lib
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
