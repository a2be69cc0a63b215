#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when they are
# missing: compilers, GoogleTest, Google Benchmark, clang with libFuzzer,
# mingw-w64 (32- and 64-bit), Wine, Xvfb and the X tools for screenshots, and
# CUPS with a PDF printer for the printing test (with the 32-bit CUPS client
# library, which 32-bit Wine loads to list the printers), and OpenSSL's
# libcrypto for the native cryptography; a PostgreSQL server with unixODBC and
# its PostgreSQL driver (64-bit for the native tests, 32-bit for the 32-bit
# program under Wine) for the database publishing tests.
set -eu

packages=(cmake make g++ googletest libbenchmark-dev clang libclang-rt-14-dev
          g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
          wine wine64 wine32:i386 xvfb x11-utils imagemagick python3 poppler-utils
          cups cups-client cups-bsd printer-driver-cups-pdf libcups2:i386
          libssl-dev
          postgresql unixodbc unixodbc-dev odbc-postgresql
          libodbc2:i386 odbc-postgresql:i386)

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
# A mirror in the middle of a sync can fail the update for a while: try again
# a few times, then go on with whatever indexes were fetched.
for attempt in 1 2 3 4; do
    $SUDO apt-get update -qq && break
    echo "apt-get update failed (attempt $attempt), retrying" >&2
    sleep $((attempt * 10))
done
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
