#!/usr/bin/env bash
# Installs every Debian package the project needs. Safe to run again: packages that are
# already present are skipped, and nothing is fetched when nothing is missing.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

native_pkgs=(build-essential cmake ninja-build googletest clang-14 libclang-rt-14-dev
             mingw-w64 g++-mingw-w64-i686-posix wine wine32:i386 xvfb x11-apps imagemagick
             mdbtools sqlite3 icoutils xdotool time fonts-wine)

missing=()
for p in "${native_pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "deps: everything is installed"
  exit 0
fi

echo "deps: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
