#!/usr/bin/env bash
# Builds the example game's source folder into <build>/game/GAME.DAT with
# pelto-tool build: its modules into boot.prg, its music, map and images
# converted or packed. Rebuilds redo only what changed.
set -euo pipefail
build=$1
"$build/pelto-tool" build examples/hello -o "$build/game"
