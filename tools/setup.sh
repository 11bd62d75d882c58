#!/usr/bin/env bash
# Installs what the builds and tests need, skipping what is already there. Run as root.
set -euo pipefail

packages=(cmake ninja-build g++ clang clang-format pkg-config libgtest-dev libgmock-dev googletest
          libbenchmark-dev libssl-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64
          wine wine64 wine32:i386 fonts-wine xvfb xdotool xclip imagemagick python3
          osslsigncode openssl libclang-rt-14-dev python3-pefile python3-jsonschema
          python3-yaml python3-cryptography golang-1.19-go)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
