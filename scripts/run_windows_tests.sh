#!/usr/bin/env bash
# The Windows build's tests under Wine: the platform layer's own unit tests
# (pelto_windows_tests.exe), then the end-to-end suite of a Linux build run
# against build-windows/pelto.exe, each under a private Xvfb server.
# Usage: run_windows_tests.sh LINUX_BUILD WINDOWS_BUILD
set -euo pipefail
linux_build=$(cd "$1" && pwd)
windows_build=$(cd "$2" && pwd)

# One fresh Wine prefix per run, made once and shared by every test; quiet
# (no debug channels) and without the Mono and Gecko installers' prompts.
prefix=$(mktemp -d /tmp/pelto-wine-XXXXXX)
export WINEPREFIX=$prefix/drive WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
cleanup() {
  for p in "$prefix"/drive "$prefix"/shard0 "$prefix"/shard1; do
    [ -d "$p" ] && WINEPREFIX=$p wineserver -k 2>/dev/null || true
  done
  rm -rf "$prefix"
}
trap cleanup EXIT
# Called directly, the 64-bit loader skips the wrapper's complaint that the
# 32-bit Wine is not installed (the engine is 64-bit only).
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
started=$(date +%s)
mkdir -p "$WINEPREFIX"
# A server that outlives each program keeps every start fast.
wineserver -p
wineboot -i >/dev/null 2>&1
echo "== windows: wine prefix ready in $(( $(date +%s) - started )) s"

export PELTO_NO_DIALOG=1
xvfb() { xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$@"; }

echo "== windows: platform layer tests (pelto_windows_tests.exe)"
(cd "$windows_build" && xvfb "$wine" ./pelto_windows_tests.exe --gtest_brief=1)

echo "== windows: end-to-end tests against pelto.exe"
export PELTO_TEST_ENGINE=$windows_build/pelto.exe PELTO_TEST_LAUNCHER=$wine
# Left out under Wine, each for a stated reason:
#  - sound output through ALSA's plugins: Wine's own mixer and driver sit
#    between PortAudio and ALSA, so neither the failing device nor the
#    captured samples are the engine's own;
excluded="SoundOutput.WithoutAnOutputDeviceTheGameRunsSilently:SoundOutput.AStreamThatCannotOpenShowsTwoBoxesAndTheGameGoesOn"
excluded+=":MusicOutput.NotesStartOnTheirTickToTheFrameStopMusicKeepsThemAndDeleteMusicSilences"
excluded+=":SoundOutput.CapturedStreamHoldsExactlyTheMixedSoundsWhileADisplayIsOpen"
#  - Unix permissions, file size limits (SIGXFSZ) and memory limits set with
#    prlimit: Unix-only conditions (the Windows save refusals are in
#    pelto_windows_tests.exe);
excluded+=":BankSaveFailures.FolderWithoutWritePermissionKeepsTheOldFile:BankSaveFailures.WriteFailingPartWayKeepsTheOldFile"
excluded+=":BankSaveFailures.FileSizeLimitDoesNotEndTheGame:BootScript.ExhaustedMemoryEndsWithOutOfMemoryAndNoLuaMessage"
#  - pictures read back from windows narrower than about 110 pixels: Windows
#    widens such a window to fit its title bar, so the window is not the
#    size these tests draw for (pictures in wider windows are still checked).
excluded+=":CrtSwitch.*:DisplayReopen.OpeningWhileOpenReplacesTheWindow:PlayfieldPixels.*:Primitives.*:Sprites.*"
excluded+=":Scales/*:ScalesAndFrames/OnePassMagnification.*:Modes/LongRuns.GatheredAndQuadByQuadGiveTheSameWindow/CrtScale1"
excluded+=":BuildTool.TextModuleDrawsTheFontInColourAndAtScale:TiledMapConvert.TheEngineDrawsTheConvertedLayersAsTiledDoes"
excluded+=":PngTilesets.PartialAlphaTilesBlendOverTheBackgroundAndOpaqueColoursStayExact"
#  - window sizes near the screen's and fullscreen modes: Windows fits a
#    window taller than the screen's work area into it, and Wine cannot
#    switch Xvfb's video mode;
excluded+=":Options/WindowSize.*"
#  - the pointer moved about with xdotool: Wine's X11 driver merges the
#    quick moves, so some of the positions the test expects never arrive.
excluded+=":InputEngine.MouseMapsToVirtualPixelsThroughScaleAndCentring"
#  - the development mode and `run --watch`: they stand on a Unix socket the
#    engine inherits and on inotify, and are Linux-only for now (pelto.exe
#    never enables the mode; docs/windows.md).
excluded+=":DevMode.*:RunWatch.*"
# Two shards side by side: the tests mostly wait for Wine and the X server.
# Each has its own X server and so its own copy of the prepared prefix with
# its own Wine server: Wine's desktop lives on the display of the first
# program that a server starts.
wineserver -k 2>/dev/null || true
pids=()
for shard in 0 1; do
  cp -a "$prefix/drive" "$prefix/shard$shard" 2>/dev/null || true
  WINEPREFIX=$prefix/shard$shard GTEST_TOTAL_SHARDS=2 GTEST_SHARD_INDEX=$shard xvfb -n $((90 + 5 * shard)) \
    sh -c 'wineserver -p && exec "$@"' sh "$linux_build/tests/pelto_e2e_tests" --gtest_brief=1 \
    --gtest_filter="-$excluded" > "$prefix/shard$shard.log" 2>&1 &
  pids+=($!)
done
status=0
for shard in 0 1; do
  wait "${pids[$shard]}" || status=1
  grep -v -e "^Running main" "$prefix/shard$shard.log" || true
done
[ $status -eq 0 ] || { echo "== windows: end-to-end tests FAILED"; exit 1; }
echo "== windows: all passed in $(( $(date +%s) - started )) s"
