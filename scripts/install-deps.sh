#!/usr/bin/env bash
# Installs what the build and the tests need (Debian; run as root).
# Packages already present are left alone; nothing is fetched from elsewhere.
#   scripts/install-deps.sh        everything the test command uses (tests,
#                                  sanitizers, fuzzing, the Windows builds and Wine)
#   scripts/install-deps.sh demo   only what the library, ecrctl and ecr-sim need
set -euo pipefail

what=${1:-all}
case "$what" in
    all|demo) ;;
    *) echo "usage: $0 [demo]" >&2; exit 2 ;;
esac

# The library, the tools and the simulators.
packages=(cmake g++ make pkg-config libpugixml-dev libhidapi-dev)
if [ "$what" = all ]; then
    # Tests and benchmarks; clang for the fuzz targets; the Windows cross
    # builds, their export checks and Wine; dpkg-dev for the pugixml source.
    packages+=(clang libclang-rt-dev binutils libgtest-dev libgmock-dev libbenchmark-dev googletest
               g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine64 dpkg-dev)
fi

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

[ "$what" = demo ] && exit 0

# The Windows cross builds compile pugixml from Debian's source package (no
# mingw build of it is packaged): unpacked once to /usr/local/src/orvanta.
pugixml_dir=/usr/local/src/orvanta/pugixml
if [ ! -f "$pugixml_dir/src/pugixml.cpp" ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "error: the pugixml source for the Windows builds is missing and fetching it needs root" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    if ! apt-get source --print-uris -qq pugixml 2>/dev/null | grep -q pugixml; then
        # Source packages come from the same archive as the binary ones.
        codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
        cat > /etc/apt/sources.list.d/orvanta-deb-src.sources <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $codename $codename-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
        apt-get update -qq
    fi
    mkdir -p /usr/local/src/orvanta
    work=$(mktemp -d)
    chmod 755 "$work"   # apt fetches as its own user
    (cd "$work" && apt-get source -qq pugixml >/dev/null)
    src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'pugixml-*' | head -n 1)
    rm -rf "$pugixml_dir"
    mv "$src" "$pugixml_dir"
    rm -rf "$work"
fi
