#!/usr/bin/env bash
# Builds the project, writes the bundled sample project and opens it in the host application.
#   scripts/run-sample.sh [orv-sample options...]   e.g. --tiles 9 --triangles 100000
# Without a display (no DISPLAY or WAYLAND_DISPLAY) the window is shown on a virtual display and
# saved as a picture, build/sample/window.png, instead.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target orv-sample orvhost core
build/bin/orv-sample --out build/sample "$@"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec build/bin/orvhost build/sample/sample.orvproj
fi
echo "No display: showing the window on a virtual display and saving it as build/sample/window.png"
xvfb-run -a -s "-screen 0 1920x1200x24 -noreset" \
  build/bin/orvhost build/sample/sample.orvproj --screenshot build/sample/window.png
