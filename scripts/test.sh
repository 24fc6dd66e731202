#!/bin/sh
# Installs what is missing, builds everything and runs all tests.
set -e
cd "$(dirname "$0")/.."
sh scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
exec bash scripts/with-session.sh ctest --test-dir build --output-on-failure -j2
