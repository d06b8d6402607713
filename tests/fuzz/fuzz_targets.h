// The fuzz targets: one function per input parser, each feeding arbitrary
// bytes to the same code the engine or the tool runs. libFuzzer drives them
// (fuzz_main.cpp, one binary per target), and the regression test replays
// the inputs of past findings through them in every test run.
//
// A target returns 0. A fault is an ASan/UBSan report, a crash, a leak, or a
// broken invariant, which the target turns into abort().
#pragma once

#include <cstddef>
#include <cstdint>

int FuzzArchive(const uint8_t* data, size_t size);  // mounting from memory, then every entry
int FuzzUnpack(const uint8_t* data, size_t size);   // one packed block
int FuzzChunk(const uint8_t* data, size_t size);    // chunk translation and Lua's loader
int FuzzPcx(const uint8_t* data, size_t size);
int FuzzTga(const uint8_t* data, size_t size);
int FuzzPng(const uint8_t* data, size_t size);      // tileset and tool decoding, re-encoding
int FuzzWav(const uint8_t* data, size_t size);
int FuzzOgg(const uint8_t* data, size_t size);
int FuzzMap(const uint8_t* data, size_t size);
int FuzzTrk(const uint8_t* data, size_t size);      // loading, then ticks and mixing
int FuzzXm(const uint8_t* data, size_t size);       // pelto-tool's converters, their output loaded
int FuzzMod(const uint8_t* data, size_t size);
int FuzzTmx(const uint8_t* data, size_t size);
int FuzzTmj(const uint8_t* data, size_t size);
int FuzzBundle(const uint8_t* data, size_t size);   // Lua modules bundled into boot.prg, loaded and run

struct FuzzTarget {
  const char* name;  // the binary is fuzz_<name>, its inputs tests/fuzz/{corpus,regressions}/<name>/
  int (*run)(const uint8_t* data, size_t size);
};
// Every target, ending with {nullptr, nullptr}.
extern const FuzzTarget kFuzzTargets[];

// Stops the run with a message when an invariant fails (libFuzzer keeps the input).
void FuzzCheck(bool condition, const char* what);

// Sets the mixer's tables up once per process (the music targets need its slots).
void FuzzMixerReady();

// Reads every byte (so the sanitizers see an allocation that is too short).
uint32_t FuzzTouch(const uint8_t* bytes, size_t size);
