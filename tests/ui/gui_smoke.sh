#!/usr/bin/env bash
# Runs the desktop program's smoke test (gui_smoke.cpp) on a virtual X server with real input
# events. Exit 77 (skipped, with the reason) where Xvfb or xdotool is missing.
#
#   gui_smoke.sh CALVEX_GUI_SMOKE CALVEX-GUI
set -u
for tool in xvfb-run Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed (scripts/install-deps installs it)"
    exit 77
  fi
done
export QT_QPA_PLATFORM=xcb
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$1" "$2"
