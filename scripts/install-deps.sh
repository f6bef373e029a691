#!/usr/bin/env bash
# Installs, with apt-get, whatever the build, the tests and the demo need and is missing.
# Safe to run again: it does nothing when every package is already there.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libjpeg62-turbo-dev
    libgtest-dev libgmock-dev
    clang libclang-rt-dev llvm
    clang-format
    fonts-liberation fonts-dejavu-core
    locales
    python3
    xvfb xauth
    dpkg-dev file desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

if [ ${#missing[@]} -gt 0 ]; then
    echo "install-deps: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -q
    "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The text tests check that numbers keep a decimal point under a French desktop.
if ! locale -a 2>/dev/null | grep -qi '^fr_FR\.utf-\?8$'; then
    echo "install-deps: generating fr_FR.UTF-8"
    if [ -f /etc/locale.gen ]; then
        "${sudo_cmd[@]}" sed -i 's/^# *\(fr_FR.UTF-8 UTF-8\)/\1/' /etc/locale.gen
        grep -q '^fr_FR.UTF-8 UTF-8' /etc/locale.gen ||
            echo 'fr_FR.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
    fi
    "${sudo_cmd[@]}" locale-gen >/dev/null
fi
