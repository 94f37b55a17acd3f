#!/bin/sh
# Runs a test program on an X server of its own (Xvfb) with Qt's xcb platform.
# Without Xvfb or the X tools the tests use, runs it with KU_NO_X11 saying why,
# and its tests skip.
for tool in xvfb-run xdotool xprop; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    KU_NO_X11="$tool is not installed (scripts/packages.sh lists it)" exec "$@"
  fi
done
exec xvfb-run -a -s "-screen 0 1366x768x24 -nolisten tcp" env QT_QPA_PLATFORM=xcb "$@"
