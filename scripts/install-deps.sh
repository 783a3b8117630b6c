#!/usr/bin/env bash
# Installs the Debian 12 packages Kelvo needs to build, test and run.
# Works as root; otherwise uses sudo. Installs only what is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6 qt6-qpa-plugins qt6-translations-l10n libgl-dev
  libxcb1-dev libjpeg-dev libxlsxwriter-dev zlib1g-dev rapidjson-dev libicu-dev
  libbenchmark-dev clang libclang-rt-14-dev
  xvfb xauth x11-utils fonts-wqy-microhei ripgrep
  libtesseract-dev libleptonica-dev tesseract-ocr-chi-sim tesseract-ocr-chi-sim-vert tesseract-ocr-eng
  tesseract-ocr-osd fonts-noto-cjk fonts-arphic-ukai fonts-arphic-uming
  libqrencode-dev libzxing-dev zxing-cpp-tools qrencode
  libsqlite3-dev khard python3-vobject
  radicale xandikos vdirsyncer openssl curl
  qtkeychain-qt6-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  sudo_cmd=()
else
  sudo_cmd=(sudo)
fi
echo "Installing: ${missing[*]}" >&2
"${sudo_cmd[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
