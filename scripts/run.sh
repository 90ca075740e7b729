#!/usr/bin/env bash
# Starts the monitor for a newcomer to watch.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -x build/bin/tessel ]; then
  echo "The monitor is not built yet (build/bin/tessel is missing)." >&2
  exit 1
fi
exec build/bin/tessel --headless --home build/run-home
