// Translation of precompiled chunks between the engine's form and the Lua
// library's standard form. Both have the same records; they differ in the
// header, the size of a length field, the string key and the operation
// numbers. One walker reads a function record in one layout and writes it in
// the other, checking on the way everything the library's loader checks
// while reading, plus the faults of that loader the engine refuses:
//   - a string constant, local-variable name or upvalue name stored with the
//     length 0 (the library would keep a null string and crash on its first
//     use): "bad constant";
//   - line information whose count is neither 0 nor the code count (error
//     messages would read past it): "bad code";
//   - upvalue names whose count is neither 0 nor the upvalue count (the
//     debug messages index them by upvalue number): "bad code".
// Every primitive (byte, integer, instruction, number, whole string) is
// written only once it has been read and checked completely, so on a fault
// the output is a clean prefix that the library can read up to the fault.
#include "host/chunk_translate.h"

#include <cstring>
#include <new>

#include "host/chunk_format.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "chunks are translated as little-endian words");

const uint8_t kStandardChunkHeader[12] = {
    0x1B, 'L', 'u', 'a',
    0x51,                                 // Lua 5.1
    0x00,                                 // official format
    0x01,                                 // little-endian
    4,                                    // int
    static_cast<uint8_t>(sizeof(size_t)), // length fields are size_t
    4,                                    // instruction
    8,                                    // lua_Number is a double
    0,                                    // floating point
};

const char* ChunkErrorReason(ChunkError error) {
  switch (error) {
    case ChunkError::None: return "no error";
    case ChunkError::BadHeader: return "bad header";
    case ChunkError::UnexpectedEnd: return "unexpected end";
    case ChunkError::BadInteger: return "bad integer";
    case ChunkError::BadConstant: return "bad constant";
    case ChunkError::CodeTooDeep: return "code too deep";
    case ChunkError::BadCode: return "bad code";
    case ChunkError::NotPrecompiled: return "not a precompiled chunk";
    case ChunkError::OutOfMemory: return "not enough memory";
  }
  return "bad chunk";
}

namespace {

// One side of a translation.
struct ChunkLayout {
  const uint8_t* header;  // the 12 header bytes, compared byte for byte
  int lengthSize;         // bytes of a string length field: 4 or 8
  uint8_t stringKey;      // XORed into every string byte but the closing zero
  bool engineOps;         // operations numbered the engine's way
};

const ChunkLayout kEngineLayout = {kEngineChunkHeader, 4, kChunkStringKey, true};
const ChunkLayout kStandardLayout = {kStandardChunkHeader, static_cast<int>(sizeof(size_t)), 0, false};

// Constant type bytes (the library's type tags).
constexpr uint8_t kConstNil = 0, kConstBoolean = 1, kConstNumber = 3, kConstString = 4;

// Instruction fields that the walker has to look at.
constexpr uint32_t kOpMask = 0x3F;          // bits 0-5
constexpr int kArgCShift = 14;              // C in bits 14-22
constexpr uint32_t kArgCMask = 0x1FF;
constexpr uint8_t kStandardOpSetList = 34;  // SETLIST in the standard numbering

class RecordWalker {
 public:
  RecordWalker(const uint8_t* data, size_t size, const ChunkLayout& from, const ChunkLayout& to,
               std::vector<uint8_t>* out)
      : data_(data), size_(size), from_(from), to_(to), out_(out) {}

  ChunkError Run() {
    const uint8_t* header = nullptr;
    if (!Take(kChunkHeaderSize, &header)) return error_;
    if (std::memcmp(header, from_.header, kChunkHeaderSize) != 0) return error_ = ChunkError::BadHeader;
    out_->insert(out_->end(), to_.header, to_.header + kChunkHeaderSize);
    if (!Function(1)) TrimOpenCounts();
    return error_;
  }

 private:
  // A count already written whose items are being walked.
  struct OpenCount {
    size_t offset;  // where the count sits in the output
    int32_t begun;  // items begun so far, the one being walked included
  };

  bool Fail(ChunkError error) {
    error_ = error;
    return false;
  }

  // Consumes n input bytes; running out is "unexpected end".
  bool Take(size_t n, const uint8_t** bytes) {
    if (size_ - pos_ < n) return Fail(ChunkError::UnexpectedEnd);
    *bytes = data_ + pos_;
    pos_ += n;
    return true;
  }

  void PutBytes(const uint8_t* bytes, size_t n) { out_->insert(out_->end(), bytes, bytes + n); }

  void PutWord(uint64_t value, int size) {
    for (int i = 0; i < size; ++i) out_->push_back(static_cast<uint8_t>(value >> (8 * i)));
  }

  static uint64_t GetWord(const uint8_t* bytes, int size) {
    uint64_t value = 0;
    for (int i = 0; i < size; ++i) value |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    return value;
  }

  bool CopyByte(uint8_t* value) {
    const uint8_t* bytes = nullptr;
    if (!Take(1, &bytes)) return false;
    *value = bytes[0];
    out_->push_back(bytes[0]);
    return true;
  }

  // A 4-byte signed integer field; negative values are refused.
  bool ReadInt(int32_t* value) {
    const uint8_t* bytes = nullptr;
    if (!Take(4, &bytes)) return false;
    int32_t v = static_cast<int32_t>(static_cast<uint32_t>(GetWord(bytes, 4)));
    if (v < 0) return Fail(ChunkError::BadInteger);
    *value = v;
    return true;
  }

  bool CopyInt(int32_t* value) {
    if (!ReadInt(value)) return false;
    PutWord(static_cast<uint32_t>(*value), 4);
    return true;
  }

  // A string: length field, then the bytes; the length 0 stands for "no
  // string", which only a source name may be (emptyReason is None then).
  bool CopyString(ChunkError emptyReason) {
    const uint8_t* lengthBytes = nullptr;
    if (!Take(static_cast<size_t>(from_.lengthSize), &lengthBytes)) return false;
    uint64_t length = GetWord(lengthBytes, from_.lengthSize);
    if (length == 0) {
      if (emptyReason != ChunkError::None) return Fail(emptyReason);
      PutWord(0, to_.lengthSize);
      return true;
    }
    if (length > size_ - pos_) return Fail(ChunkError::UnexpectedEnd);
    if (to_.lengthSize == 4 && length > 0xFFFFFFFFu) return Fail(ChunkError::BadInteger);
    const uint8_t* text = data_ + pos_;
    pos_ += static_cast<size_t>(length);
    PutWord(length, to_.lengthSize);
    size_t start = out_->size();
    PutBytes(text, static_cast<size_t>(length));
    // The closing zero byte is stored as it is in both forms.
    uint8_t key = from_.stringKey ^ to_.stringKey;
    for (size_t i = start; i + 1 < out_->size(); ++i) (*out_)[i] ^= key;
    return true;
  }

  // Reads and writes a count and opens it for trimming. A debug count must
  // be 0 or `matching` (when that is not negative), else it is "bad code".
  bool OpenCountField(int32_t* count, int32_t matching = -1) {
    size_t offset = out_->size();
    if (!ReadInt(count)) return false;
    if (matching >= 0 && *count != 0 && *count != matching) return Fail(ChunkError::BadCode);
    PutWord(static_cast<uint32_t>(*count), 4);
    open_.push_back({offset, 0});
    return true;
  }
  void BeginItem(int32_t index) { open_.back().begun = index + 1; }
  void CloseCount() { open_.pop_back(); }

  // After a fault: every count still open is set to the items begun, so the
  // library reads no further than the prefix and allocates no more than it.
  void TrimOpenCounts() {
    for (const OpenCount& count : open_) {
      for (int i = 0; i < 4; ++i) (*out_)[count.offset + i] = static_cast<uint8_t>(static_cast<uint32_t>(count.begun) >> (8 * i));
    }
    open_.clear();
  }

  uint8_t TranslateOp(uint8_t op) const {
    uint8_t standard = from_.engineOps ? StandardOpFromEngine(op) : op;
    return to_.engineOps ? EngineOpFromStandard(standard) : standard;
  }

  bool Code(int32_t* codeCount) {
    if (!OpenCountField(codeCount)) return false;
    bool rawNext = false;
    for (int32_t i = 0; i < *codeCount; ++i) {
      BeginItem(i);
      const uint8_t* bytes = nullptr;
      if (!Take(4, &bytes)) return false;
      uint32_t word = static_cast<uint32_t>(GetWord(bytes, 4));
      if (rawNext) {
        // The word after a SETLIST with C = 0 is its batch number, not an
        // instruction: it keeps its value in both forms.
        rawNext = false;
      } else {
        uint8_t op = static_cast<uint8_t>(word & kOpMask);
        uint8_t standardOp = from_.engineOps ? StandardOpFromEngine(op) : op;
        rawNext = standardOp == kStandardOpSetList && ((word >> kArgCShift) & kArgCMask) == 0;
        word = (word & ~kOpMask) | TranslateOp(op);
      }
      PutWord(word, 4);
    }
    CloseCount();
    return true;
  }

  bool Constants() {
    int32_t count = 0;
    if (!OpenCountField(&count)) return false;
    for (int32_t i = 0; i < count; ++i) {
      BeginItem(i);
      const uint8_t* typeByte = nullptr;
      if (!Take(1, &typeByte)) return false;
      uint8_t type = typeByte[0];
      if (type != kConstNil && type != kConstBoolean && type != kConstNumber && type != kConstString)
        return Fail(ChunkError::BadConstant);
      out_->push_back(type);
      const uint8_t* value = nullptr;
      if (type == kConstBoolean) {
        if (!Take(1, &value)) return false;
        PutBytes(value, 1);
      } else if (type == kConstNumber) {
        if (!Take(8, &value)) return false;
        PutBytes(value, 8);
      } else if (type == kConstString) {
        if (!CopyString(ChunkError::BadConstant)) return false;
      }
    }
    CloseCount();
    return true;
  }

  bool Nested(int depth) {
    int32_t count = 0;
    if (!OpenCountField(&count)) return false;
    for (int32_t i = 0; i < count; ++i) {
      BeginItem(i);
      if (!Function(depth + 1)) return false;
    }
    CloseCount();
    return true;
  }

  bool Debug(int32_t codeCount, uint8_t upvalueCount) {
    // Line information: one line per instruction or none at all.
    int32_t count = 0;
    if (!OpenCountField(&count, codeCount)) return false;
    for (int32_t i = 0; i < count; ++i) {
      BeginItem(i);
      const uint8_t* line = nullptr;
      if (!Take(4, &line)) return false;  // line numbers are stored as they are
      PutBytes(line, 4);
    }
    CloseCount();

    // Local variables: name, first and last instruction where it is alive.
    if (!OpenCountField(&count)) return false;
    for (int32_t i = 0; i < count; ++i) {
      BeginItem(i);
      int32_t pc = 0;
      if (!CopyString(ChunkError::BadConstant) || !CopyInt(&pc) || !CopyInt(&pc)) return false;
    }
    CloseCount();

    // Upvalue names: one per upvalue or none at all.
    if (!OpenCountField(&count, upvalueCount)) return false;
    for (int32_t i = 0; i < count; ++i) {
      BeginItem(i);
      if (!CopyString(ChunkError::BadConstant)) return false;
    }
    CloseCount();
    return true;
  }

  bool Function(int depth) {
    if (depth > kChunkMaxNesting) return Fail(ChunkError::CodeTooDeep);
    if (!CopyString(ChunkError::None)) return false;  // source; empty: the enclosing one's
    int32_t line = 0;
    if (!CopyInt(&line) || !CopyInt(&line)) return false;
    uint8_t upvalueCount = 0, ignored = 0;
    if (!CopyByte(&upvalueCount) || !CopyByte(&ignored) || !CopyByte(&ignored) || !CopyByte(&ignored))
      return false;  // upvalues, parameters, vararg flags, stack size
    int32_t codeCount = 0;
    return Code(&codeCount) && Constants() && Nested(depth) && Debug(codeCount, upvalueCount);
  }

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  const ChunkLayout& from_;
  const ChunkLayout& to_;
  std::vector<uint8_t>* out_;
  std::vector<OpenCount> open_;
  ChunkError error_ = ChunkError::None;
};

ChunkError Translate(const uint8_t* data, size_t size, const ChunkLayout& from, const ChunkLayout& to,
                     std::vector<uint8_t>* out) {
  out->clear();
  if (size == 0 || data[0] != from.header[0]) return ChunkError::NotPrecompiled;
  try {
    // A translation is at most twice the input (every 4-byte length may grow
    // to 8): one allocation up front instead of growing on the way.
    out->reserve(size * 2 + kChunkHeaderSize);
    RecordWalker walker(data, size, from, to, out);
    return walker.Run();
  } catch (const std::bad_alloc&) {
    out->clear();
    out->shrink_to_fit();
    return ChunkError::OutOfMemory;
  }
}

}  // namespace

ChunkError TranslateEngineChunk(const uint8_t* data, size_t size, std::vector<uint8_t>* standard) {
  return Translate(data, size, kEngineLayout, kStandardLayout, standard);
}

ChunkError TranslateStandardChunk(const uint8_t* data, size_t size, std::vector<uint8_t>* engine) {
  ChunkError error = Translate(data, size, kStandardLayout, kEngineLayout, engine);
  // The tool writes whole chunks or nothing; a prefix is of no use to it.
  if (error != ChunkError::None) engine->clear();
  return error;
}
