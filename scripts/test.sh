#!/bin/sh
# Installs what is missing, builds everything and runs all tests. Our own
# builds treat compiler warnings as errors.
set -e
cd "$(dirname "$0")/.."
sh scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_WERROR=ON
cmake --build build -j"$(nproc)"
exec bash scripts/with-session.sh ctest --test-dir build --output-on-failure -j2
