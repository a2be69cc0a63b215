#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when they are
# missing: compilers, GoogleTest, Google Benchmark, clang with libFuzzer,
# mingw-w64 (32- and 64-bit), Wine, Xvfb and the X tools for screenshots, and
# CUPS with a PDF printer for the printing test (with the 32-bit CUPS client
# library, which 32-bit Wine loads to list the printers), and OpenSSL's
# libcrypto for the native cryptography.
set -eu

packages=(cmake make g++ googletest libbenchmark-dev clang libclang-rt-14-dev
          g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
          wine wine64 wine32:i386 xvfb x11-utils imagemagick python3 poppler-utils
          cups cups-client cups-bsd printer-driver-cups-pdf libcups2:i386
          libssl-dev)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
SUDO=
[ "$(id -u)" -ne 0 ] && SUDO=sudo
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
