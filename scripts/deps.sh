#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need,
# but only those that are missing.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  qtbase5-dev qtbase5-dev-tools libquazip1-qt5-dev zlib1g-dev
  python3 python3-openpyxl python3-xlsxwriter
  fonts-noto-cjk xvfb xauth time
  qttranslations5-l10n libdeflate-dev libisal-dev
  libreoffice-calc-nogui libreoffice-dev libreoffice-dev-common python3-xlrd python3-uno
  libspreadsheet-writeexcel-perl
  clang-14 libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
