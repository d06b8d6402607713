#!/usr/bin/env bash
# Compiles the example game's scripts and packs them with its media into
# <build>/game/GAME.DAT.
set -euo pipefail
build=$1
src=examples/hello
out=$build/game
staging=$build/game-src
rm -rf "$staging"
mkdir -p "$staging" "$out"
# Every .lua becomes a .prg beside the media; everything else is packed as is.
(cd "$src" && find . -type f ! -name '*.lua' -print0) | while IFS= read -r -d '' f; do
  mkdir -p "$staging/$(dirname "$f")"
  cp "$src/$f" "$staging/$f"
done
(cd "$src" && find . -type f -name '*.lua' -print0) | while IFS= read -r -d '' f; do
  mkdir -p "$staging/$(dirname "$f")"
  "$build/pelto-tool" compile "$src/$f" -o "$staging/${f%.lua}.prg"
done
(cd "$staging" && find . -type f | sed 's|^\./||' | sort) > "$build/game-files.txt"
xargs -a "$build/game-files.txt" "$build/pelto-tool" pack -o "$out/GAME.DAT" -C "$staging"
