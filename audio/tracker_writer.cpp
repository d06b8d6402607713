// "[TRK]" modules from plain descriptions, laid out exactly as
// tracker_loader.cpp reads them.
#include "audio/tracker_writer.h"

#include <cstring>

void TrackerPut8(std::vector<uint8_t>& out, uint32_t v) { out.push_back(static_cast<uint8_t>(v & 0xFF)); }
void TrackerPut16(std::vector<uint8_t>& out, uint32_t v) {
  TrackerPut8(out, v);
  TrackerPut8(out, v >> 8);
}
void TrackerPut32(std::vector<uint8_t>& out, uint32_t v) {
  TrackerPut16(out, v & 0xFFFF);
  TrackerPut16(out, v >> 16);
}

std::vector<uint8_t> TrackerDeltaEncode(const int32_t* values, size_t count, bool sixteenBit) {
  std::vector<uint8_t> out;
  out.reserve(sixteenBit ? count * 2 : count);
  int32_t previous = 0;
  for (size_t i = 0; i < count; ++i) {
    uint32_t delta = static_cast<uint32_t>(values[i] - previous);
    previous = values[i];
    if (sixteenBit) {
      TrackerPut16(out, delta & 0xFFFF);
    } else {
      TrackerPut8(out, delta & 0xFF);
    }
  }
  return out;
}

std::vector<int32_t> TrackerDeltaDecode(const uint8_t* data, size_t bytes, bool sixteenBit) {
  std::vector<int32_t> values;
  if (sixteenBit) {
    values.resize(bytes / 2);
    int16_t sum = 0;
    for (size_t i = 0; i < values.size(); ++i) {
      sum = static_cast<int16_t>(sum + static_cast<int16_t>(data[2 * i] | data[2 * i + 1] << 8));
      values[i] = sum;
    }
  } else {
    values.resize(bytes);
    int8_t sum = 0;
    for (size_t i = 0; i < bytes; ++i) {
      sum = static_cast<int8_t>(sum + static_cast<int8_t>(data[i]));
      values[i] = sum;
    }
  }
  return values;
}

// The count is one byte and the points follow at once, as the loader reads them.
void TrackerAppendEnvelopePoints(std::vector<uint8_t>& out, const Envelope& envelope) {
  TrackerPut8(out, envelope.pointCount);
  for (int p = 0; p < envelope.pointCount && p < kEnvelopeMaxPoints; ++p) {
    TrackerPut16(out, envelope.points[p].x);
    TrackerPut16(out, envelope.points[p].y);
  }
}

void TrackerAppendSampleHeader(std::vector<uint8_t>& out, uint32_t byteCount, const TrackerSampleDesc& sample) {
  uint8_t type = sample.type;
  // The loader loops any sample with a loop bit, and a loop of no length
  // would loop the whole sound: such a sample plays once.
  if (sample.loopLength == 0) type &= static_cast<uint8_t>(~(SAMPLE_LOOP_FORWARD | SAMPLE_LOOP_PINGPONG));
  TrackerPut32(out, byteCount);
  TrackerPut32(out, sample.loopStart);
  TrackerPut32(out, sample.loopLength);
  TrackerPut8(out, sample.volume);
  TrackerPut8(out, static_cast<uint8_t>(sample.finetune));
  TrackerPut8(out, type);
  TrackerPut8(out, sample.panning);
  TrackerPut8(out, static_cast<uint8_t>(sample.relativeNote));
}

namespace {

void AppendEnvelopeFlags(std::vector<uint8_t>& out, const Envelope& envelope) {
  TrackerPut8(out, envelope.flags);
  TrackerPut8(out, envelope.sustainPoint);
  TrackerPut8(out, envelope.stored[0]);
  TrackerPut8(out, envelope.stored[1]);
}

void AppendInstrument(std::vector<uint8_t>& out, const TrackerInstrumentDesc& instrument) {
  TrackerPut16(out, static_cast<uint32_t>(instrument.samples.size()));
  if (instrument.samples.empty()) return;
  out.insert(out.end(), instrument.keymap.begin(), instrument.keymap.end());
  TrackerAppendEnvelopePoints(out, instrument.volumeEnvelope);
  TrackerAppendEnvelopePoints(out, instrument.panningEnvelope);
  AppendEnvelopeFlags(out, instrument.volumeEnvelope);
  AppendEnvelopeFlags(out, instrument.panningEnvelope);
  TrackerPut32(out, 0);  // four bytes the loader keeps and never reads
  TrackerPut16(out, instrument.fadeout);
  for (const TrackerSampleDesc& sample : instrument.samples) {
    TrackerAppendSampleHeader(out, static_cast<uint32_t>(sample.Size()), sample);
    out.insert(out.end(), sample.Bytes(), sample.Bytes() + sample.Size());
  }
}

}  // namespace

bool WriteTracker(const TrackerModuleDesc& module, std::vector<uint8_t>* out) {
  if (module.orders.empty() || module.orders.size() > 0xFFFF || module.patterns.size() > 0xFFFF ||
      module.instruments.size() > 0xFFFF) {
    return false;
  }
  size_t total = kTrackerHeaderBytes + module.orders.size();
  for (const TrackerPatternDesc& pattern : module.patterns) {
    if (pattern.cells.size() != static_cast<size_t>(pattern.rows) * module.channels * kCellBytes) return false;
    total += 2 + pattern.cells.size();
  }
  for (const TrackerInstrumentDesc& instrument : module.instruments) {
    if (instrument.samples.size() > 0xFFFF || instrument.volumeEnvelope.pointCount > kEnvelopeMaxPoints ||
        instrument.panningEnvelope.pointCount > kEnvelopeMaxPoints) {
      return false;
    }
    total += 2 + kKeymapSize + 2 + 12 * 4 * 2 + 14;
    for (const TrackerSampleDesc& sample : instrument.samples) {
      if (sample.Size() > UINT32_MAX) return false;
      total += 17 + sample.Size();
    }
  }
  std::vector<uint8_t> bytes;
  bytes.reserve(total);
  static const char kMagic[] = "[TRK]";
  bytes.insert(bytes.end(), kMagic, kMagic + 5);
  TrackerPut8(bytes, 1);
  TrackerPut16(bytes, module.flags);
  TrackerPut16(bytes, module.channels);
  TrackerPut16(bytes, static_cast<uint32_t>(module.patterns.size()));
  TrackerPut16(bytes, static_cast<uint32_t>(module.instruments.size()));
  TrackerPut16(bytes, module.bpm);
  TrackerPut16(bytes, module.speed);
  TrackerPut16(bytes, static_cast<uint32_t>(module.orders.size()));
  TrackerPut16(bytes, module.restart);
  bytes.insert(bytes.end(), module.orders.begin(), module.orders.end());
  for (const TrackerPatternDesc& pattern : module.patterns) {
    TrackerPut16(bytes, pattern.rows);
    bytes.insert(bytes.end(), pattern.cells.begin(), pattern.cells.end());
  }
  for (const TrackerInstrumentDesc& instrument : module.instruments) AppendInstrument(bytes, instrument);
  *out = std::move(bytes);
  return true;
}
