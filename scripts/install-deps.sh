#!/usr/bin/env bash
# Installs what the build and the tests need (Debian; run as root).
# Packages already present are left alone; nothing is fetched from elsewhere.
set -euo pipefail

packages=(cmake g++ clang libclang-rt-dev make pkg-config binutils libgtest-dev libgmock-dev libbenchmark-dev libpugixml-dev libhidapi-dev)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "error: these packages are missing and installing them needs root: ${missing[*]}" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}"
fi
