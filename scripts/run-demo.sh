#!/bin/sh
# Installs what is missing, builds the shell and runs the Showcase demo.
set -e
cd "$(dirname "$0")/.."
sh scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
exec build/src/app/corvane --bundle examples/Showcase.app "$@"
