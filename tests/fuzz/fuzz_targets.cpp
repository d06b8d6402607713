// The table of fuzz targets and the helpers they share.
#include "tests/fuzz/fuzz_targets.h"

#include <cstdio>
#include <cstdlib>

#include "audio/mixer.h"

const FuzzTarget kFuzzTargets[] = {
    {"archive", FuzzArchive}, {"unpack", FuzzUnpack}, {"chunk", FuzzChunk}, {"pcx", FuzzPcx},
    {"tga", FuzzTga},         {"png", FuzzPng},       {"wav", FuzzWav},     {"ogg", FuzzOgg},
    {"map", FuzzMap},         {"trk", FuzzTrk},       {"xm", FuzzXm},       {"mod", FuzzMod},
    {"tmx", FuzzTmx},         {"tmj", FuzzTmj},       {"bundle", FuzzBundle}, {nullptr, nullptr},
};

void FuzzCheck(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}

uint32_t FuzzTouch(const uint8_t* bytes, size_t size) {
  uint32_t sum = 0;
  for (size_t i = 0; i < size; ++i) sum = sum * 31 + bytes[i];
  // Keeps the loop from being optimised away.
  volatile uint32_t sink = sum;
  return sink;
}

void FuzzMixerReady() {
  static bool ready = false;
  if (ready) return;
  MixerInit();
  ready = true;
}
