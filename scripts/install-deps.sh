#!/usr/bin/env bash
# Installs what the loader needs to build and test on Debian/Ubuntu.
set -euo pipefail
pkgs=(cmake g++ make qt6-base-dev qt6-serialport-dev libgl-dev libgtest-dev libgmock-dev ccache
    clang-format git)
pkgs+=(dpkg-dev file) # the Debian package: scripts/package.sh
pkgs+=(qt6-translations-l10n) # Qt's own texts (dialog and box buttons) in the operator's language
pkgs+=(stm32flash)    # an independent client of the simulated ARM bootloader (tests/arm)
pkgs+=(clang libclang-rt-14-dev) # the libFuzzer targets: scripts/fuzz.sh
missing=()
for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
