#!/usr/bin/env bash
# Installs, with apt-get, every Debian package that building, testing and benchmarking Parcelo
# needs and the machine lacks. Safe to run again: it installs nothing when all is present.
set -euo pipefail

packages=(
  # toolchain and test frameworks
  build-essential cmake ninja-build pkg-config python3 libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  # the header-only command-line parser of parcelo-cli
  libcli11-dev
  # product libraries: libarchive (the TAR family, 7z, RAR, ISO 9660, cpio, compressed files),
  # liblhasa (LHA/LZH members), libmspack (cabinets, SZDD and KWAJ), and the zip methods BZip2,
  # LZMA and XZ, Zstandard, and WinZip AES (libcrypto)
  libarchive-dev liblhasa-dev libmspack-dev libbz2-dev liblzma-dev libzstd-dev libssl-dev
  # oracles and baselines for tests and benchmarks (never linked into the product)
  zlib1g-dev libdeflate-dev
  # archivers that make the test fixtures and race us in the benchmarks
  zip unzip p7zip-full 7zip libarchive-tools arj arc lhasa jlha-utils gcab cabextract sharutils ncompress hyperfine
  unar unrar-free
  # a Java archiver (jar files as Java tools write them: the overlap check must let them pass)
  fastjar
  # Python's zipfile writes ZIP64 fixtures; man renders the installed manual page in a test;
  # python3-zstandard writes Zstandard members for the tests and benchmarks
  python3 man-db python3-zstandard
)
# the wizard and its controls (built unless PARCELO_BUILD_GUI=OFF): Qt 6 Widgets and Test, the
# JPEG decoder, a sans font for the offscreen platform the GUI tests run on, and a virtual display;
# for the wizard's end-to-end test xdotool to drive the real program and ImageMagick's import for
# screenshots, the desktop's validators of the installed desktop entry and metainfo, and what
# builds and checks the Debian package
if [ "${PARCELO_BUILD_GUI:-ON}" = "ON" ]; then
  packages+=(qt6-base-dev libjpeg-dev xvfb xauth fonts-dejavu-core xdotool imagemagick
             desktop-file-utils appstream
             # a private session bus for the notification test; the Debian package's checks
             dbus-daemon dpkg-dev fakeroot lintian)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "setup: installing ${missing[*]}" >&2
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
