// Tracker modules from the trackers musicians use (FastTracker 2 XM,
// ProTracker-style MOD) to the engine's "[TRK]" music. Pure functions: bytes
// in, bytes and warnings out; no files, no printing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TrackerConversion {
  std::vector<uint8_t> trk;            // the "[TRK]" module, empty on failure
  std::vector<std::string> warnings;   // "pattern P row R channel C: what and why", "instrument I: ...", "song: ..."
  std::string error;                   // why the module was refused, empty on success
};

// Each returns true and fills out->trk (and any warnings) on success; false
// with out->error set for a file that is truncated, oversized or
// inconsistent. Patterns and rows count from 0, channels and instruments
// from 1 and samples within an instrument from 0, as the trackers show them.
bool ConvertXmToTrk(const uint8_t* data, size_t size, TrackerConversion* out);
bool ConvertModToTrk(const uint8_t* data, size_t size, TrackerConversion* out);
