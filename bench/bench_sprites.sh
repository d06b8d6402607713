#!/usr/bin/env bash
# Frames per second, pelto beside LÖVE 11 under Xvfb: 1,000, 5,000 and
# 20,000 moving 16x16 sprites from one tileset at 320x240, and four layers of
# 64x64-cell maps scrolling at their own speeds, each with the CRT filter on
# at scales 1 and 3 and off at scales 1 and 3. LÖVE is written as its users
# write it: with the filter, the scene goes into a canvas and the same three
# passes follow (orange pass, scanline mask, shifted blue pass); without it
# at scale 3, the scene goes into a 320x240 canvas scaled once, nearest.
# Before timing, frame 1 of each variant is grabbed from both windows and
# compared pixel for pixel. Last, the CPU cost of one Sprite or Playfield
# call beside love.graphics.draw's. Installed into the bench build as
# bench/bench_sprites; PELTO_NO_BATCH=1 measures the unbatched way,
# PELTO_DIRECT_MAGNIFY=1 the magnification of every draw.
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

# The same tileset for LÖVE as pelto's decoder gives it: RGBA, rows top
# down, colours premultiplied by alpha the way the TGA decoder does it,
# (c * a) >> 8, which takes 1 from every non-zero colour of an opaque pixel.
raw=$work/tiles.rgba
: > "$raw"
for ((r = 0; r < 64; r++)); do
  y=$((63 - r)) row=""
  for ((x = 0; x < 64; x++)); do
    row+=$(printf '\\x%02x\\x%02x\\x%02x\\xff' $((((x ^ y) * 4 & 255) * 255 >> 8)) $((y * 4 * 255 >> 8)) $((x * 4 * 255 >> 8)))
  done
  printf "$row" >> "$raw"
done

mkdir -p "$work/src" "$work/data" "$work/love"
cp "$tga" "$work/src/tiles.tga"
"$build/pelto-tool" compile "$source_dir/boot.lua" -o "$work/src/boot.prg" >/dev/null
"$build/pelto-tool" pack -o "$work/data/GAME.DAT" -C "$work/src" boot.prg tiles.tga >/dev/null
cp "$source_dir/love/main.lua" "$source_dir/love/conf.lua" "$raw" "$work/love/"

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

# A window's pixels, as xwd dumps them, without the header and colour map.
pixels() {
  local header colours
  read -r header colours < <(od -An -tu4 --endian=big -N 80 "$1" | tr -s ' \n' ' ' | awk '{ print $1, $20 }')
  tail -c +$((header + colours * 12 + 1)) "$1"
}
# Runs one engine (its command ends in --hold) in the background and dumps its window.
grab() {
  local out=$1; shift
  timeout 20 "$@" >/dev/null 2>&1 &
  local pid=$!
  if timeout 20 xdotool search --sync --onlyvisible --name '^bench_sprites$' >/dev/null 2>&1; then
    sleep 1.5
    xwd -silent -name bench_sprites -out "$out" 2>/dev/null || true
  fi
  wait $pid 2>/dev/null || true
}
# Frame 1 of the 1,000-sprite scene from both engines, once per variant.
check_pixels() {
  local label=$1 pelto_args=$2 love_args=$3
  if [ $have_love = 0 ] || ! command -v xwd >/dev/null; then
    printf '%-40s %s\n' "$label" "not checked (no love or xwd)"
    return
  fi
  rm -f "$work/p.xwd" "$work/l.xwd"
  grab "$work/p.xwd" env PELTO_NO_DIALOG=1 HOME=$work "$build/pelto" --datapath "$work/data" --novsync $pelto_args --sprites=1000 --hold
  grab "$work/l.xwd" sh -c "cd '$work' && exec love love $love_args --sprites=1000 --hold"
  if [ -n "${PELTO_BENCH_KEEP_GRABS:-}" ]; then cp "$work/p.xwd" "$PELTO_BENCH_KEEP_GRABS/pelto-${label// /}.xwd"; cp "$work/l.xwd" "$PELTO_BENCH_KEEP_GRABS/love-${label// /}.xwd"; fi
  if [ ! -s "$work/p.xwd" ] || [ ! -s "$work/l.xwd" ]; then
    printf '%-40s %s\n' "$label" "not checked (no window grabbed)"
    return
  fi
  pixels "$work/p.xwd" > "$work/p.raw"
  pixels "$work/l.xwd" > "$work/l.raw"
  local size diff
  size=$(stat -c %s "$work/p.raw")
  if [ "$size" != "$(stat -c %s "$work/l.raw")" ]; then
    printf '%-40s %s\n' "$label" "DIFFERENT window sizes"
  else
    # cmp -l lists each differing byte (1-based offset, both values in
    # octal); pixels are 4 bytes, blue, green, red, and a fourth byte that
    # holds no colour (it differs between the windows' visuals).
    read -r diff most < <( (cmp -l "$work/p.raw" "$work/l.raw" || true) | awk '
      function oct(s,   v, i) { v = 0; for (i = 1; i <= length(s); i++) v = v * 8 + substr(s, i, 1); return v }
      ($1 - 1) % 4 != 3 { d = oct($2) - oct($3); if (d < 0) d = -d; if (d > m) m = d; seen[int(($1 - 1) / 4)] = 1 }
      END { n = 0; for (k in seen) n++; print n, m + 0 }')
    if [ "$diff" = 0 ]; then
      printf '%-40s %s\n' "$label" "identical, pixel for pixel ($((size / 4)) pixels)"
    else
      printf '%-40s %s\n' "$label" "$diff of $((size / 4)) pixels differ, by at most $most in a channel"
    fi
  fi
}

# The four ways a game draws: filter on at scale 1 and 3 (LÖVE: a canvas and
# the same three passes), filter off at scale 1 (LÖVE: plainly) and at
# scale 3 (LÖVE: a 320x240 canvas scaled 3 times, nearest).
variants=("crt 1" "crt 3" "plain 1" "plain 3")
variant_label() {
  case $1 in
    "crt 1") echo "filter on, x1" ;;
    "crt 3") echo "filter on, x3" ;;
    "plain 1") echo "filter off, x1" ;;
    "plain 3") echo "filter off, x3 (LÖVE: canvas)" ;;
  esac
}
pelto_variant() { set -- $1; if [ $1 = crt ]; then echo "--scale=$2"; else echo "--nocrt --scale=$2"; fi; }
love_variant() {
  set -- $1
  if [ $1 = crt ]; then echo "--crt --scale=$2"; elif [ $2 = 1 ]; then echo "--scale=1"; else echo "--canvas --scale=$2"; fi
}

echo "Frame 1 of 1,000 sprites, pelto's window against LÖVE's:"
for v in "${variants[@]}"; do
  check_pixels "  $(variant_label "$v")" "$(pelto_variant "$v")" "$(love_variant "$v")"
done
echo

printf '%-50s %12s %13s %8s\n' "scene" "pelto fps" "LÖVE fps" "ratio"
for scene in 1000 5000 20000 playfields; do
  if [ $scene = playfields ]; then
    args=(--playfields) name="4 playfields"
  else
    args=(--sprites=$scene) name="$scene sprites"
  fi
  for v in "${variants[@]}"; do
    ps="" ls=""
    for ((r = 0; r < rounds; r++)); do
      ps+=" $(run_pelto "${args[@]}" $(pelto_variant "$v"))"
      ls+=" $(run_love "${args[@]}" $(love_variant "$v"))"
    done
    p=$(echo "$ps" | median)
    l=$(echo "$ls" | grep -v n/a | median)
    ratio=$(awk -v p="${p:-0}" -v l="${l:-0}" 'BEGIN { if (l > 0) printf "%.2fx", p / l; else print "-" }')
    printf '%-50s %12s %12s %8s\n' "$name, $(variant_label "$v")" "${p:-fail}" "${l:-n/a}" "$ratio"
  done
done

# The CPU cost of one call from Lua, every quad off the screen.
ns() { grep -o 'call_ns [0-9.]*' | tail -1 | cut -d' ' -f2; }
printf '\n%-50s %12s %13s %8s\n' "cost of a call (CPU, ns)" "pelto" "LÖVE" "ratio"
for what in sprite playfield; do
  if [ $what = playfield ]; then extra=(--playfields); label="Playfield / one layer drawn by love.graphics.draw"; else extra=(); label="Sprite / love.graphics.draw"; fi
  ps="" ls=""
  for ((r = 0; r < rounds; r++)); do
    ps+=" $(PELTO_NO_DIALOG=1 HOME=$work timeout 60 "$build/pelto" --datapath "$work/data" --novsync --nocrt "${extra[@]}" --calls 2>/dev/null | ns || true)"
    if [ $have_love = 1 ]; then ls+=" $( (cd "$work" && timeout 60 love love "${extra[@]}" --calls 2>/dev/null | ns) || true)"; fi
  done
  p=$(echo "$ps" | median)
  l=$(echo "$ls" | median)
  ratio=$(awk -v p="${p:-0}" -v l="${l:-0}" 'BEGIN { if (p > 0 && l > 0) printf "%.2fx", l / p; else print "-" }')
  printf '%-50s %12s %12s %8s\n' "$label" "${p:-fail}" "${l:-n/a}" "$ratio"
done
echo "Each figure: the median of $rounds runs, the engines taking turns."
echo "Filter-on rows: both engines run the same three-pass CRT post-process."
echo "Ratio: pelto fps / LÖVE fps, or LÖVE ns / pelto ns (above 1.00x: pelto faster)."
