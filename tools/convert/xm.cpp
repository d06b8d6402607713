// FastTracker 2 XM modules read into the shared source record. Every size
// and count is checked against the file before it is used, so a truncated
// or inconsistent file is refused with a message and never read outside.
#include <cstdio>
#include <cstring>
#include <string>

#include "audio/byte_reader.h"
#include "tools/convert/tracker_source.h"

namespace tracker_source {

namespace {

constexpr char kXmMagic[] = "Extended Module: ";
constexpr size_t kXmMagicBytes = 17;
constexpr size_t kHeaderSizeOffset = 60;
// The limits FastTracker 2 itself keeps; a file past them is damaged.
constexpr uint32_t kMaxChannels = 32;
constexpr uint32_t kMaxPatterns = 256;
constexpr uint32_t kMaxInstruments = 128;
constexpr uint32_t kMaxSamplesPerInstrument = 16;
constexpr uint32_t kMaxRows = 256;

std::string Format(const char* format, unsigned a, unsigned b = 0, unsigned c = 0) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

// For each combination of the five field bits of a packed cell: how many
// bytes follow the flag byte, where each field lies after it (0 = the flag
// byte itself for an absent field) and a mask that clears absent ones.
struct PackedFieldTable {
  uint8_t count[32];
  uint8_t place[32][5];
  uint8_t mask[32][5];
};

constexpr PackedFieldTable MakePackedFieldTable() {
  PackedFieldTable table{};
  for (int bits = 0; bits < 32; ++bits) {
    uint8_t next = 1;
    for (int f = 0; f < 5; ++f) {
      bool present = (bits >> f) & 1;
      table.place[bits][f] = present ? next : 0;
      table.mask[bits][f] = present ? 0xFF : 0;
      next = static_cast<uint8_t>(next + (present ? 1 : 0));
    }
    table.count[bits] = static_cast<uint8_t>(next - 1);
  }
  return table;
}

constexpr PackedFieldTable kPackedFields = MakePackedFieldTable();

bool ReadPattern(ByteReader& in, uint32_t index, uint32_t channels, Pattern* pattern, std::string* error) {
  size_t start = in.offset;
  uint32_t headerLength = in.U32();
  in.U8();  // packing type, always 0
  uint32_t rows = in.U16();
  uint32_t packedSize = in.U16();
  if (in.failed) {
    *error = Format("pattern %u: the file ends inside its header", index);
    return false;
  }
  if (rows == 0 || rows > kMaxRows) {
    *error = Format("pattern %u: %u rows (1 to 256 allowed)", index, rows);
    return false;
  }
  if (headerLength < 9) {
    *error = Format("pattern %u: a header of %u bytes (at least 9)", index, headerLength);
    return false;
  }
  in.Seek(static_cast<uint64_t>(start) + headerLength);
  const uint8_t* packed = in.Take(packedSize);
  if (in.failed) {
    *error = Format("pattern %u: the file ends inside its data", index);
    return false;
  }
  pattern->rows = static_cast<uint16_t>(rows);
  pattern->cells.assign(static_cast<size_t>(rows) * channels, Cell{});
  if (packedSize == 0) return true;  // an empty pattern stores nothing
  size_t at = 0;
  for (Cell& cell : pattern->cells) {
    // A cell is five plain bytes, or a flag byte (bit 7 set) naming which
    // of the five follow.
    if (at >= packedSize) {
      *error = Format("pattern %u: its packed data end before its last row", index);
      return false;
    }
    uint8_t first = packed[at];
    size_t need = (first & 0x80) ? 1u + kPackedFields.count[first & 0x1F] : 5u;
    if (packedSize - at < need) {
      *error = Format("pattern %u: its packed data end inside a cell", index);
      return false;
    }
    if (!(first & 0x80)) {
      cell = {packed[at], packed[at + 1], packed[at + 2], packed[at + 3], packed[at + 4]};
      at += 5;
      continue;
    }
    // The five fields are read side by side from the table's places; a
    // field that is not there reads the flag byte and is then cleared.
    const uint8_t* fields = packed + at;
    const uint8_t* place = kPackedFields.place[first & 0x1F];
    const uint8_t* mask = kPackedFields.mask[first & 0x1F];
    cell.note = fields[place[0]] & mask[0];
    cell.instrument = fields[place[1]] & mask[1];
    cell.volume = fields[place[2]] & mask[2];
    cell.effect = fields[place[3]] & mask[3];
    cell.param = fields[place[4]] & mask[4];
    at += need;
  }
  return true;
}

void ReadEnvelopePoints(ByteReader& in, SourceEnvelope* envelope) {
  for (EnvelopePoint& point : envelope->points) {
    point.x = in.U16();
    point.y = in.U16();
  }
}

bool ReadInstrument(ByteReader& in, uint32_t number, Instrument* instrument, std::string* error) {
  size_t start = in.offset;
  uint32_t headerSize = in.U32();
  in.Take(22);  // name
  in.U8();      // type
  uint32_t sampleCount = in.U16();
  if (in.failed) {
    *error = Format("instrument %u: the file ends inside its header", number);
    return false;
  }
  if (sampleCount > kMaxSamplesPerInstrument) {
    *error = Format("instrument %u: %u samples (at most 16 allowed)", number, sampleCount);
    return false;
  }
  if (sampleCount == 0) {
    in.Seek(static_cast<uint64_t>(start) + headerSize);
    if (in.failed) *error = Format("instrument %u: the file ends inside its header", number);
    return !in.failed;
  }
  uint32_t sampleHeaderSize = in.U32();
  const uint8_t* keymap = in.Take(96);
  if (keymap) std::memcpy(instrument->keymap.data(), keymap, 96);
  ReadEnvelopePoints(in, &instrument->volumeEnvelope);
  ReadEnvelopePoints(in, &instrument->panningEnvelope);
  instrument->volumeEnvelope.pointCount = in.U8();
  instrument->panningEnvelope.pointCount = in.U8();
  for (SourceEnvelope* e : {&instrument->volumeEnvelope, &instrument->panningEnvelope}) {
    e->sustainPoint = in.U8();
    e->loopStart = in.U8();
    e->loopEnd = in.U8();
  }
  instrument->volumeEnvelope.flags = in.U8();
  instrument->panningEnvelope.flags = in.U8();
  in.U8();  // vibrato type
  in.U8();  // vibrato sweep
  instrument->vibratoDepth = in.U8();
  in.U8();  // vibrato rate
  instrument->fadeout = in.U16();
  if (in.failed) {
    *error = Format("instrument %u: the file ends inside its header", number);
    return false;
  }
  // Some writers store a shorter header; the fields above then came from
  // what follows, which is read again from the declared end.
  if (headerSize < 243) {
    *error = Format("instrument %u: a header of %u bytes is too short for its samples", number, headerSize);
    return false;
  }
  in.Seek(static_cast<uint64_t>(start) + headerSize);
  instrument->samples.resize(sampleCount);
  for (uint32_t s = 0; s < sampleCount; ++s) {
    size_t sampleStart = in.offset;
    Sample& sample = instrument->samples[s];
    uint32_t length = in.U32();
    uint32_t loopStart = in.U32();
    uint32_t loopLength = in.U32();
    sample.volume = in.U8();
    sample.finetune = static_cast<int8_t>(in.U8());
    uint8_t type = in.U8();
    sample.panning = in.U8();
    sample.relativeNote = static_cast<int8_t>(in.U8());
    if (in.failed || sampleHeaderSize < 18) {
      *error = Format("instrument %u sample %u: the file ends inside its header", number, s);
      return false;
    }
    in.Seek(static_cast<uint64_t>(sampleStart) + sampleHeaderSize);
    sample.sixteenBit = (type & 0x10) != 0;
    uint32_t unit = sample.sixteenBit ? 2 : 1;
    // Lengths count bytes; odd byte counts of 16-bit samples lose their last byte.
    sample.length = length / unit;
    sample.loopStart = loopStart / unit;
    sample.loopLength = loopLength / unit;
    sample.loop = (type & 3) == 1 ? LoopKind::Forward : (type & 3) == 2 ? LoopKind::PingPong
                : (type & 3) == 3 ? LoopKind::Forward : LoopKind::None;
    sample.deltaCoded = true;
    sample.byteCount = length;
  }
  if (in.failed) {
    *error = Format("instrument %u: the file ends inside its sample headers", number);
    return false;
  }
  for (uint32_t s = 0; s < sampleCount; ++s) {
    Sample& sample = instrument->samples[s];
    sample.data = in.Take(sample.byteCount);
    if (in.failed) {
      *error = Format("instrument %u sample %u: its data run past the end of the file", number, s);
      return false;
    }
  }
  return true;
}

}  // namespace

bool ReadXm(const uint8_t* data, size_t size, Song* song, std::string* error) {
  ByteReader in(data, size);
  const uint8_t* magic = in.Take(kXmMagicBytes);
  if (!magic || std::memcmp(magic, kXmMagic, kXmMagicBytes) != 0) {
    *error = "not an XM module (no \"Extended Module: \" header)";
    return false;
  }
  in.Seek(kHeaderSizeOffset - 2);
  uint32_t version = in.U16();
  uint32_t headerSize = in.U32();
  uint32_t songLength = in.U16();
  song->restart = in.U16();
  uint32_t channels = in.U16();
  uint32_t patternCount = in.U16();
  uint32_t instrumentCount = in.U16();
  uint32_t flags = in.U16();
  song->speed = in.U16();
  song->bpm = in.U16();
  const uint8_t* orders = in.Take(256);
  if (in.failed) {
    *error = "the file ends inside the module header";
    return false;
  }
  if (version != 0x0104) {
    *error = Format("XM version %u.%02u is not supported (FastTracker 2 saves 1.04)", version >> 8, version & 0xFF);
    return false;
  }
  if (channels == 0 || channels > kMaxChannels) {
    *error = Format("%u channels (1 to 32 allowed)", channels);
    return false;
  }
  if (songLength == 0 || songLength > 256) {
    *error = Format("a song length of %u orders (1 to 256 allowed)", songLength);
    return false;
  }
  if (patternCount > kMaxPatterns || instrumentCount > kMaxInstruments) {
    *error = Format("%u patterns and %u instruments (at most 256 and 128 allowed)", patternCount, instrumentCount);
    return false;
  }
  song->mod = false;
  song->linear = (flags & 1) != 0;
  song->channels = static_cast<uint16_t>(channels);
  song->orders.assign(orders, orders + songLength);
  in.Seek(kHeaderSizeOffset + static_cast<uint64_t>(headerSize));
  if (in.failed) {
    *error = "the module header runs past the end of the file";
    return false;
  }
  song->patterns.resize(patternCount);
  for (uint32_t p = 0; p < patternCount; ++p) {
    if (!ReadPattern(in, p, channels, &song->patterns[p], error)) return false;
  }
  // FastTracker 2 plays an order naming a missing pattern as 64 empty rows;
  // the converter adds one such pattern for them.
  for (uint32_t o = 0; o < songLength; ++o) {
    if (song->orders[o] < patternCount) continue;
    if (song->patterns.size() == patternCount) {
      Pattern empty;
      empty.rows = 64;
      empty.cells.assign(64 * static_cast<size_t>(channels), Cell{});
      song->patterns.push_back(std::move(empty));
    }
    song->warnings.push_back(Format("order %u: pattern %u does not exist; it plays as 64 empty rows", o,
                                    song->orders[o]));
    song->orders[o] = static_cast<uint8_t>(patternCount);
  }
  song->instruments.resize(instrumentCount);
  for (uint32_t i = 0; i < instrumentCount; ++i) {
    if (!ReadInstrument(in, i + 1, &song->instruments[i], error)) return false;
  }
  return true;
}

}  // namespace tracker_source
