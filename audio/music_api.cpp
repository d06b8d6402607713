// Engine API bindings of tracker music: read the arguments, call the music
// logic. A module that cannot be loaded is fatal with "Data file missing or
// corrupt."; everything else is harmless without a music.
#include "audio/music_api.h"

#include "archive/asset.h"
#include "audio/tracker.h"
#include "host/api_args.h"
#include "host/host.h"

// LoadMusic(name) -> true; replaces the music loaded before, without playing
int LuaLoadMusic(lua_State* L) {
  const char* name = ArgString(L, 1);
  AssetBuffer buffer;
  AssetLoad(&buffer, name);
  // Replacing frees the old music (and its sound slots) before the new one
  // takes slots of its own.
  bool loaded = buffer.size > 0 && LoadCurrentMusic(buffer.data, static_cast<size_t>(buffer.size));
  AssetFree(&buffer);
  if (!loaded) FatalError(FATAL_DATA);
  PushBoolean(L, true);
  return 1;
}

// PlayMusic(): from the first order entry; again restarts
int LuaPlayMusic(lua_State*) {
  PlayCurrentMusic();
  return 0;
}

// SetMusicVolume(volume): 0.0-1.0, heard from the next tick
int LuaSetMusicVolume(lua_State* L) {
  SetMusicVolumeLevel(ArgNumber(L, 1));
  return 0;
}

// StopMusic(): the sequencer stops; notes already sounding go on
int LuaStopMusic(lua_State*) {
  StopCurrentMusic();
  return 0;
}

// DeleteMusic()
int LuaDeleteMusic(lua_State*) {
  DeleteCurrentMusic();
  return 0;
}
