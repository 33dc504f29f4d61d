#!/usr/bin/env bash
# Builds the project, writes the bundled sample project and shows what it holds.
#   scripts/run-sample.sh [orv-sample options...]   e.g. --tiles 9 --triangles 100000
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target orv-sample
build/bin/orv-sample --out build/sample "$@"
