#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when some are missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config clang-format
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev
  libsqlite3-dev sqlite3 libfreexl-dev libxlsxwriter-dev libgsf-1-dev libcpp-httplib-dev
  libzip-dev libpugixml-dev libjpeg-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  fonts-noto-cjk qt6-translations-l10n poppler-utils libcap2-bin
  python3-xlrd python3-openpyxl
  mdbtools mdbtools-dev
  libzint-dev zbar-tools
  postgresql libpq-dev
  php-cli php-sqlite3 wrk
  cups printer-driver-cups-pdf
  libopencv-objdetect-dev opencv-data
  xvfb xdotool openbox imagemagick xclip chromium
  dpkg-dev desktop-file-utils appstream
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "缺少构建所需的软件包，请先运行："
  echo "  sudo apt-get install -y ${missing[*]}"
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
echo "正在安装：${missing[*]}"
if ! apt-get install -y -q "${missing[@]}"; then
  apt-get update -q
  apt-get install -y -q "${missing[@]}"
fi
