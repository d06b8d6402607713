#!/usr/bin/env bash
# Runs the example game with pelto-tool run; on a machine without a
# display, under Xvfb, where the game plays itself for a few seconds and a
# screenshot of its window is saved, so the engine can be seen working
# without a screen.
set -euo pipefail
build=$1
mode=${2:-}
title="pelto: star catcher"

if [ "$mode" = "--inside-xvfb" ]; then
  # pelto-tool run builds (nothing to redo after `make example`), then
  # becomes the engine: the process id stays the game's.
  "$build/pelto-tool" run examples/hello -o "$build/game" -- --demo &
  game=$!
  # The window appears once the game has opened its display.
  window=""
  for _ in $(seq 100); do
    window=$(xwininfo -root -tree | awk -v t="\"$title\":" 'index($0, t) { print $1; exit }')
    [ -n "$window" ] && break
    sleep 0.1
  done
  if [ -n "$window" ]; then
    sleep 3  # let it play a little first
    shot="$build/screenshot.png"
    if xwd -id "$window" -silent | xwdtopnm 2>/dev/null | pnmtopng > "$shot" 2>/dev/null; then
      echo "Screenshot of the game window saved to $shot"
    else
      xwd -id "$window" -silent -out "$build/screenshot.xwd"
      echo "Screenshot of the game window saved to $build/screenshot.xwd (xwd format; netpbm converts it)"
    fi
  else
    echo "The game window did not appear; no screenshot." >&2
  fi
  wait "$game"
  exit $?
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found (neither DISPLAY nor WAYLAND_DISPLAY is set): running the game under Xvfb."
  echo "It plays itself for a few seconds in demo mode."
  # Nobody could click an error box away on the virtual screen: stderr only.
  export PELTO_NO_DIALOG=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$0" "$build" --inside-xvfb
fi
exec "$build/pelto-tool" run examples/hello -o "$build/game"
