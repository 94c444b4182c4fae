#!/usr/bin/env bash
# xvfb.sh start FILE: starts Xvfb on a free display, writes "DISPLAY PID" to FILE.
# xvfb.sh stop FILE:  stops the Xvfb recorded in FILE.
set -euo pipefail
cmd=${1:?start or stop}; state=${2:?state file}
case "$cmd" in
  start)
    for n in $(seq 90 140); do
      if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        pid=$!
        for _ in $(seq 1 50); do
          [ -e "/tmp/.X11-unix/X$n" ] && break
          sleep 0.1
        done
        if kill -0 "$pid" 2>/dev/null; then
          echo ":$n $pid" >"$state"
          exit 0
        fi
      fi
    done
    echo "xvfb: no free display" >&2; exit 1 ;;
  stop)
    if [ -f "$state" ]; then
      read -r _ pid <"$state" || true
      [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null || true
      rm -f "$state"
    fi ;;
  *) echo "usage: xvfb.sh start|stop FILE" >&2; exit 2 ;;
esac
