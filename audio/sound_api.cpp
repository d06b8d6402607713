// Engine API bindings of sounds and channels: read the arguments, call the
// sound and channel logic, push the result. Every load failure is fatal
// with "Data file missing or corrupt."; bad channel or sound numbers are
// silently ignored.
#include "audio/sound_api.h"

#include <cfloat>
#include <cmath>

#include "archive/asset.h"
#include "audio/audio_stream.h"
#include "audio/mixer.h"
#include "audio/sound.h"
#include "host/api_args.h"
#include "host/host.h"

namespace {

// Numbers go to the channels as 32-bit floats; a finite value beyond the
// float range becomes the infinity of its sign (the channel then clamps it).
float ArgFloat(double value) {
  if (value > FLT_MAX) return HUGE_VALF;
  if (value < -FLT_MAX) return -HUGE_VALF;
  return static_cast<float>(value);
}

}  // namespace

// LoadSound(name, [loop]) -> sound number
int LuaLoadSound(lua_State* L) {
  const char* name = ArgString(L, 1);
  bool loop = ArgFlag(L, 2);
  AssetBuffer buffer;
  AssetLoad(&buffer, name);
  int slot = LoadSoundAsset(buffer, loop);
  AssetFree(&buffer);
  if (slot < 0) FatalError(FATAL_DATA);
  PushNumber(L, slot);
  return 1;
}

// PlaySound(channel, sound, [volume = 1], [panning = 0], [rate = 0: the sound's own])
int LuaPlaySound(lua_State* L) {
  int32_t channel = ArgInteger(L, 1);
  int32_t sound = ArgInteger(L, 2);
  float volume = ArgFloat(ArgOptNumber(L, 3, 1.0));
  float panning = ArgFloat(ArgOptNumber(L, 4, 0.0));
  PlaySoundOnChannel(channel, sound, volume, panning, ArgOptInteger(L, 5, 0));
  return 0;
}

// GetSoundDefaultRate(sound) -> Hz, 0 for no sound
int LuaGetSoundDefaultRate(lua_State* L) {
  PushNumber(L, SoundDefaultRate(ArgInteger(L, 1)));
  return 1;
}

// SetChannelVolume(channel, volume): 0-2, heard from the next mixer chunk
int LuaSetChannelVolume(lua_State* L) {
  ChannelSetVolume(ArgInteger(L, 1), ArgFloat(ArgNumber(L, 2)));
  return 0;
}

// SetChannelPanning(channel, panning): -1 left .. +1 right
int LuaSetChannelPanning(lua_State* L) {
  ChannelSetPanning(ArgInteger(L, 1), ArgFloat(ArgNumber(L, 2)));
  return 0;
}

// StopChannel(channel)
int LuaStopChannel(lua_State* L) {
  ChannelStop(ArgInteger(L, 1));
  return 0;
}

// IsChannelActive(channel) -> true only while the stream runs and the channel plays
int LuaIsChannelActive(lua_State* L) {
  int32_t channel = ArgInteger(L, 1);
  PushBoolean(L, AudioStreamRunning() && ChannelIsActive(channel));
  return 1;
}

// DeleteSound(sound)
int LuaDeleteSound(lua_State* L) {
  FreeSound(ArgInteger(L, 1));
  return 0;
}
