#!/usr/bin/env bash
# Builds the Debian package: a Release build of the program in build-pkg/ (installed
# under /usr), then cpack. Prints the package's path as its last line.
#   bash scripts/package.sh
# PKG_BUILD_DIR names the build folder (default build-pkg), JOBS the parallel
# compile jobs (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${PKG_BUILD_DIR:-build-pkg}
jobs=${JOBS:-2}
# Without the skip, cpack's install step would first build every target, the tests
# included; the package holds the program alone.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$build" -j"$jobs" --target vtr900prog
rm -f "$build"/vtr900prog_*.deb
(cd "$build" && cpack -G DEB >&2)
deb=$(ls -1 "$(pwd)/$build"/vtr900prog_*.deb)
echo "$deb"
