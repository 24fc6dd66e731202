#!/bin/sh
# Installs what the benchmarks need on top of the build's packages: the load
# generator and the reference web server of bench/http.
exec sh "$(dirname "$0")/deps.sh" wrk nginx
