#!/usr/bin/env bash
# CI step: builds the Debian package, unpacks it into an empty folder tree and runs
# the program from there, as a machine that installed the package would: the
# version, then a headless load of the ARM sample image into the simulated ARM unit
# (real time, about 35 s). Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)

fail() {
    echo "ci-package: FAILED: $*" >&2
    exit 1
}

bash scripts/install-deps.sh
deb=$(bash scripts/package.sh | tail -n 1)
[ -f "$deb" ] || fail "no package built"
echo "ci-package: $deb"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
root="$tmp/root"
mkdir "$root"
dpkg -x "$deb" "$root"

# Everything the package promises is in it.
for f in usr/bin/vtr900prog \
    usr/share/vtr900prog/vtr900prog.mld \
    usr/share/applications/vtr900prog.desktop \
    usr/share/icons/hicolor/scalable/apps/vtr900prog.svg \
    usr/share/metainfo/org.vtr900prog.vtr900prog.metainfo.xml \
    usr/share/man/man1/vtr900prog.1 \
    usr/share/bash-completion/completions/vtr900prog \
    usr/share/doc/vtr900prog/LICENSE; do
    [ -s "$root/$f" ] || fail "$f missing from the package"
done

# The Qt libraries it needs are declared, so that apt brings them to a fresh machine.
depends=$(dpkg-deb -f "$deb" Depends)
echo "ci-package: Depends: $depends"
for p in libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6; do
    grep -Eq "(^|, )$p( |,|$)" <<<"$depends" || fail "Depends does not declare $p"
done

prog="$root/usr/bin/vtr900prog"
# A program that found its libraries through a path into the build folder would
# pass here and fail on the line PC.
if readelf -d "$prog" | grep -Eq 'R(UN)?PATH'; then
    fail "the installed program carries a library search path"
fi

# From an unrelated folder, with no library path of ours: only the package counts.
cd "$tmp"
version=$(env -u LD_LIBRARY_PATH "$prog" --version)
expected="vtr900prog $(dpkg-deb -f "$deb" Version)"
[ "$version" = "$expected" ] || fail "--version printed '$version', expected '$expected'"
echo "ci-package: $version"

set +e
env -u LD_LIBRARY_PATH VTR900_IMAGE_DIR="$tmp/images" timeout 300 \
    "$prog" --port sim:arm --file "$src/samples/vtr900_arm_0412.hex" --lang en \
    >"$tmp/load.out" 2>"$tmp/load.err"
rc=$?
set -e
cat "$tmp/load.out"
cat "$tmp/load.err" >&2
[ "$rc" -eq 0 ] || fail "the headless load exited $rc"
grep -qx "OK: Update completed" "$tmp/load.out" || fail "no 'OK: Update completed' line"

# The metadata the desktop reads and the man page, where the checkers are installed.
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$root/usr/share/applications/vtr900prog.desktop" ||
        fail "desktop entry"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate-tree --no-net "$root/usr" || fail "AppStream metadata"
fi
if command -v man >/dev/null && command -v groff >/dev/null; then
    warnings=$(MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/vtr900prog.1" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "the man page: $warnings"
fi
echo "ci-package: the package installs and loads the simulated unit"
