#!/usr/bin/env bash
# Frames per second, pelto beside LÖVE 11 under Xvfb: 1,000, 5,000 and
# 20,000 moving 16x16 sprites from one tileset at 320x240, and four layers of
# 64x64-cell maps scrolling at their own speeds, each with the CRT filter at
# scale 1 and with "--nocrt" at scale 3. In the CRT rows the LÖVE script runs
# the same three-pass post-process as pelto (canvas, orange pass, scanline
# mask, shifted blue pass). Installed into the bench build as
# bench/bench_sprites; PELTO_NO_BATCH=1 measures the unbatched way.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$here/.." && pwd)
source_dir=@CMAKE_SOURCE_DIR@/bench/sprites
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$0" "$@"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The tileset: 64x64 pixels, 4x4 tiles, 32-bit TGA (rows bottom-up, B G R A).
tga=$work/tiles.tga
printf '\0\0\2\0\0\0\0\0\0\0\0\0\x40\0\x40\0\x20\x08' > "$tga"
for ((y = 0; y < 64; y++)); do
  row=""
  for ((x = 0; x < 64; x++)); do
    row+=$(printf '\\x%02x\\x%02x\\x%02x\\xff' $((x * 4)) $((y * 4)) $(((x ^ y) * 4 & 255)))
  done
  printf "$row" >> "$tga"
done

mkdir -p "$work/src" "$work/data" "$work/love"
cp "$tga" "$work/src/tiles.tga"
"$build/pelto-tool" compile "$source_dir/boot.lua" -o "$work/src/boot.prg" >/dev/null
"$build/pelto-tool" pack -o "$work/data/GAME.DAT" -C "$work/src" boot.prg tiles.tga >/dev/null
cp "$source_dir/love/main.lua" "$source_dir/love/conf.lua" "$tga" "$work/love/"

fps() { grep -o 'fps [0-9.]*' | tail -1 | cut -d' ' -f2; }
run_pelto() {
  PELTO_NO_DIALOG=1 HOME=$work timeout 60 "$build/pelto" --datapath "$work/data" --novsync "$@" 2>/dev/null | fps || true
}
have_love=0
if command -v love >/dev/null 2>&1; then have_love=1; fi
run_love() {
  if [ $have_love = 1 ]; then (cd "$work" && timeout 60 love love "$@" 2>/dev/null | fps) || true; else echo "n/a"; fi
}

# Single runs swing by some 10% on a busy machine, so each row takes turns
# between the engines for a few rounds and keeps the median of each.
rounds=${PELTO_BENCH_ROUNDS:-3}
median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)] }'; }

printf '%-40s %12s %13s %8s\n' "scene" "pelto fps" "LÖVE fps" "ratio"
for scene in 1000 5000 20000 playfields; do
  if [ $scene = playfields ]; then
    args=(--playfields) name="4 scrolling playfields"
  else
    args=(--sprites=$scene) name="$scene sprites"
  fi
  for mode in crt nocrt; do
    ps="" ls=""
    for ((r = 0; r < rounds; r++)); do
      if [ $mode = crt ]; then
        ps+=" $(run_pelto "${args[@]}" --scale=1)"
        ls+=" $(run_love "${args[@]}" --scale=1 --crt)"
      else
        ps+=" $(run_pelto --nocrt "${args[@]}" --scale=3)"
        ls+=" $(run_love "${args[@]}" --scale=3)"
      fi
    done
    if [ $mode = crt ]; then label="$name, CRT, scale 1"; else label="$name, --nocrt, scale 3"; fi
    p=$(echo "$ps" | median)
    l=$(echo "$ls" | grep -v n/a | median)
    ratio=$(awk -v p="${p:-0}" -v l="${l:-0}" 'BEGIN { if (l > 0) printf "%.2fx", p / l; else print "-" }')
    printf '%-40s %12s %12s %8s\n' "$label" "${p:-fail}" "${l:-n/a}" "$ratio"
  done
done
echo "Each figure: the median of $rounds runs, the engines taking turns."
echo "CRT rows: both engines run the same three-pass CRT post-process."
echo "Ratio: pelto fps / LÖVE fps (above 1.00x: pelto faster)."
