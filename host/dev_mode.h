// The development mode: switched on only by the development channel that
// `pelto-tool run --watch` hands to the engine (host/dev_channel.h). Without
// it none of this runs and every behaviour of a release run stays as it is.
//
// With it the game runs again and again in the same window: a reload from
// the tool (or R on the error screen) ends the running script, resets the
// Lua state, archives, tilesets, maps, playfields, banks, sounds, channels
// and music, and runs boot.prg again. Errors show the error screen instead of
// ending the process; F12, F9 and F1 take screenshots, record GIFs and show
// the overlay, and never reach the game.
#pragma once

// True once start-up accepted a development channel.
bool DevModeActive();

// Start-up, after the options: looks for PELTO_DEV_CHANNEL and performs the
// handshake. Without a channel, or with one that fails it, nothing changes.
void DevModeStart();

// Runs the game until boot.prg returns (0) or the user quits from the error
// screen (1); mounts the archives itself. Only in development mode.
int DevModeRunScripts();

// FatalError's way in development mode: inside an engine API call it ends
// the script with a Lua error carrying the message; elsewhere it returns
// and the release behaviour follows.
void DevModeFatal(int code);

// Before the libraries shut down: finishes a GIF still recording and waits
// for files still being written. Nothing outside development mode.
void DevModeShutdown();
