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
# A mirror caught mid-sync fails one index now and then; try again, and if one index still
# fails, install from the indexes that did arrive (the install itself reports what is missing).
for attempt in 1 2 3; do
  if $SUDO apt-get update -q; then break; fi
  echo "deps: apt-get update failed (attempt $attempt)"
  sleep $((attempt * 5))
done
if ! $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"; then
  # Usually Wine's 32-bit half, when the mirror's i386 index lags behind the amd64 one.
  echo "deps: the packages could not be installed together; trying them one at a time"
  failed=()
  for p in "${missing[@]}"; do
    $SUDO apt-get install -y -q --no-install-recommends "$p" || failed+=("$p")
  done
  [ ${#failed[@]} -eq 0 ] && exit 0
  echo "deps: NOT INSTALLED: ${failed[*]}"
  for p in "${failed[@]}"; do
    case "$p" in
      wine | wine32:i386 | fonts-wine) ;;
      *) exit 1 ;;
    esac
  done
  echo "deps: without Wine the Windows programs still build, and make test says that their tests were skipped"
fi
