# Sourced by the other scripts: the project's private Wine prefix and quiet Wine.
BV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${BV_WINEPREFIX:-$BV_ROOT/build/wineprefix}"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installers: nothing here needs them and they would ask for downloads.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# bv_wine_runs: true when this machine can start Wine's 32-bit programs. Some virtual
# machines run no 32-bit code at all (the kernel refuses i386 executables), and Wine may be
# installed without its 32-bit half (it then starts, but says that wine32 is missing); in
# both cases nothing Windows-side can run here, although it still builds.
bv_wine_runs() {
  command -v wine >/dev/null 2>&1 || return 1
  local said
  said=$(WINEDEBUG= wine --version 2>&1 >/dev/null) || return 1  # quiet Wine would not say
  case "$said" in *wine32*) return 1 ;; esac
  return 0
}
