#!/usr/bin/env bash
# Placeholder until the engine can write: shows the native tool's view of a sample.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "demo: not yet available (the engine's write side is still to come)"
