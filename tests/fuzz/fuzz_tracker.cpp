// The tracker target: a [TRK] entry loaded as the engine's music, played
// for a few thousand sequencer ticks with mixer frames between them, then
// deleted. Every sound slot the module took must be free again.
#include <algorithm>
#include <cstdint>

#include "audio/mixer.h"
#include "audio/tracker.h"
#include "tests/fuzz/fuzz_targets.h"

namespace {

constexpr int kTicks = 3000;
// A module may claim up to 65535 channels with empty patterns: a tick then
// costs 0.5 ms in a release build, but far more under the sanitizers, so
// such modules get fewer ticks (never fewer than 50).
constexpr uint64_t kTrackTicks = 2000000;
constexpr int kFramesPerTick = 4;  // mixed after each tick: every channel runs, cheaply

bool AllSlotsFree() {
  for (int s = 0; s < kMixerSoundCount; ++s) {
    if (Mixer().sounds[s].flags.load() & SOUND_IN_USE) return false;
  }
  return true;
}

}  // namespace

int FuzzTrk(const uint8_t* data, size_t size) {
  FuzzMixerReady();
  if (LoadCurrentMusic(data, size)) {
    PlayCurrentMusic();
    // The ticks are driven here, not at their frame positions, so that a few
    // thousand of them cost little; the mixer still plays what they start.
    SetTickHook(nullptr);
    int16_t frames[kFramesPerTick * 2];
    const uint64_t channels = CurrentMusic()->channelCount;
    const int ticks = channels > 0 && kTrackTicks / channels < kTicks
                          ? static_cast<int>(std::max<uint64_t>(kTrackTicks / channels, 50))
                          : kTicks;
    for (int i = 0; i < ticks; ++i) {
      int next = MusicTick();
      FuzzCheck(next > 0, "a tick lasts some frames");
      MixAudio(frames, kFramesPerTick);
    }
  }
  DeleteCurrentMusic();
  for (int ch = 0; ch < kMixerChannelCount; ++ch) ChannelStop(ch);
  FuzzCheck(AllSlotsFree(), "deleting the music frees its sound slots");
  return 0;
}
