#!/usr/bin/env bash
# The soak test: the example game in demo mode for MINUTES minutes under
# Xvfb, churning sounds, tilesets, maps and music on all 48 channels.
#   scripts/run_soak.sh BUILD MINUTES
# Samples the engine's resident memory every 10 s and reads the engine's
# audio counters at its exit (PELTO_AUDIO_STATS=1). Passes when the memory
# grew by less than 2 MB after the first minute, no output underflow
# happened, the device consumed the frames at its real rate, and the game
# ended normally. Prints `soak: rss growth KB, underflows N` and a summary.
#
# The sound goes to a JACK server with its dummy driver, started here under
# a private name: a clock-driven device without hardware, which reports a
# callback that came too late. (On a machine with a sound card, ALSA's
# default device comes first and is used instead, audibly but quietly.)
set -uo pipefail
build=$1
minutes=$2
seconds=$((minutes * 60))
limitKb=2048

if [ "${3:-}" != "--inside-xvfb" ]; then
  work=$(mktemp -d /tmp/pelto-soak-XXXXXX)
  export PELTO_SOAK_WORK=$work
  export JACK_DEFAULT_SERVER="pelto-soak-$$" JACK_NO_START_SERVER=1
  jackd --no-realtime -d dummy -r 44100 -p 1024 >"$work/jack.log" 2>&1 &
  jack=$!
  jack_wait -w -t 20 >/dev/null 2>&1 || echo "soak: the JACK server did not start"
  PELTO_NO_DIALOG=1 xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$0" "$build" "$minutes" --inside-xvfb
  status=$?
  kill "$jack" 2>/dev/null
  wait "$jack" 2>/dev/null
  rm -rf "$work"
  exit $status
fi

work=$PELTO_SOAK_WORK
mkdir -p "$work/home"
# The software renderer would otherwise spread the game's drawing over every
# core, as no graphics card would: one rendering thread leaves the sound
# (and whatever else the machine runs) the processor time a player's
# machine would leave it. The soak looks for leaks and glitches in the
# engine, not for the renderer's throughput.
export LP_NUM_THREADS=${LP_NUM_THREADS:-1}
HOME="$work/home" PELTO_AUDIO_STATS=1 "$build/pelto" --datapath "$build/game" --demo --demo-seconds="$seconds" \
  >"$work/stdout" 2>"$work/stderr" &
game=$!
# Resident memory in KB at every 10 s of the run (t, rss).
: >"$work/rss"
for ((t = 10; t < seconds; t += 10)); do
  sleep 10
  kill -0 "$game" 2>/dev/null || break  # ended early
  rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$game/status" 2>/dev/null)
  [ -n "$rss" ] && echo "$t $rss" >>"$work/rss"
done
wait "$game"
gameStatus=$?

# Growth after the first minute: the last sample against the one at 60 s
# (the game has loaded everything and the allocator has settled by then).
growth=$(awk '$1 >= 60 && !base { base = $2 } { last = $2 } END { print (base ? last - base : 0) }' "$work/rss")
first=$(awk '$1 >= 60 { print $2; exit }' "$work/rss")
peak=$(awk '$2 > p { p = $2 } END { print p + 0 }' "$work/rss")
frames=$(sed -n 's/^audio: \([0-9]*\) frames, .*/\1/p' "$work/stderr")
underflows=$(sed -n 's/^audio: .* frames, \([0-9]*\) underflows/\1/p' "$work/stderr")
churn=$(grep '^churn:' "$work/stdout")
echo "soak: $seconds s, ${frames:-no} frames mixed, rss ${first:-?} KB at 1 min, peak $peak KB; ${churn:-no churn report}"
echo "soak: rss growth ${growth} KB, underflows ${underflows:-unknown}"

failed=0
fail() { echo "soak: $1"; failed=1; }
[ "$gameStatus" -eq 0 ] || { fail "the game ended with status $gameStatus"; sed 's/^/  /' "$work/stderr" | head -5; }
[ -n "$churn" ] || fail "the demo did not report its churn"
[ "$growth" -lt "$limitKb" ] || fail "memory grew by $growth KB (limit $limitKb KB)"
[ "${underflows:-1}" -eq 0 ] || fail "the audio output ran dry ${underflows:-an unknown number of} times"
# A device that takes frames faster or slower than real time tests nothing.
expected=$((seconds * 44100))
if [ -z "$frames" ] || [ "$frames" -lt $((expected * 9 / 10)) ] || [ "$frames" -gt $((expected * 11 / 10)) ]; then
  fail "the device took ${frames:-no} frames in $seconds s, not about $expected"
fi
if [ "$failed" -eq 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; fi
exit $failed
