#!/usr/bin/env bash
# Starts Palisar in the bundled board kit with its emulated board attached.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$top" && cd "${1:-build}" && pwd)
export QUILLBUS_BOARDS="$top/boards/emulated"

if [ ! -x "$build/bin/Palisar" ]; then
  echo "Palisar: the program is not built yet in $build."
  echo "It would start in $top/boards with the emulated board of $QUILLBUS_BOARDS attached."
  exit 0
fi

cd "$top/boards"
if [ -n "${DISPLAY:-}" ]; then
  QT_QPA_PLATFORM=xcb exec "$build/bin/Palisar"
elif command -v xvfb-run >/dev/null 2>&1; then
  echo "Palisar: no display; running under xvfb-run (close with Ctrl+C)."
  exec xvfb-run -a "$build/bin/Palisar"
else
  echo "Palisar: no display and no xvfb-run: cannot show a window." >&2
  exit 1
fi
