#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks use.
# Safe to run again: when everything is present it only refreshes the package lists.
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build pkg-config git
  # the formatting check (scripts/check-format.sh)
  clang-format
  # Qt 5.15: Core, Gui, Widgets, OpenGL, Test, and the TIFF/extra image format plug-ins
  qtbase5-dev qtbase5-dev-tools libqt5opengl5-dev qt5-image-formats-plugins
  # OpenGL and GLU (Mesa, software rendering through llvmpipe)
  libgl1-mesa-dev libglu1-mesa-dev libgl1-mesa-dri mesa-utils
  # mesh loading, project files
  libtinyobjloader-dev libsqlite3-dev sqlite3
  # large PNG pictures are reduced while decoding, through libpng itself
  libpng-dev
  # photo registration: the camera solver (OpenCV core and calib3d; libopencv-dev carries the
  # CMake package files) and the focal length from a photo's EXIF block
  libopencv-dev libopencv-core-dev libopencv-calib3d-dev libexif-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # a display for the GL tests and headless runs; xvfb-run needs xauth
  xvfb xauth
  # a font so text drawn by QPainter has glyphs on a bare machine
  fonts-dejavu-core
  # the journey tests: a window manager, real X input, window properties (xprop) and screenshots
  openbox xdotool x11-utils imagemagick
  # the fuzz targets (scripts/fuzz.sh): clang with libFuzzer, the sanitizer runtimes and OpenMP
  clang libclang-rt-14-dev libomp-dev
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#PACKAGES[@]} packages are installed"
  exit 0
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
# Recommends are kept on purpose: qt5-image-formats-plugins and xvfb rely on them.
$SUDO apt-get install -y "${missing[@]}"
