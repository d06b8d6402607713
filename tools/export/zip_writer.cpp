#include "tools/export/zip_writer.h"

#include <zlib.h>

#include <cstring>

namespace {

constexpr uint32_t kLocalHeader = 0x04034b50;
constexpr uint32_t kCentralHeader = 0x02014b50;
constexpr uint32_t kEndOfDirectory = 0x06054b50;
constexpr uint16_t kVersionNeeded = 20;           // 2.0: deflate
constexpr uint16_t kVersionMadeBy = (3 << 8) | 20;  // Unix, so unzip honours the mode bits
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

void Put16(std::vector<uint8_t>* out, uint32_t value) {
  out->push_back(uint8_t(value));
  out->push_back(uint8_t(value >> 8));
}

void Put32(std::vector<uint8_t>* out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

// Raw deflate (no zlib header), as zip stores it. False if zlib fails.
bool Deflate(const std::vector<uint8_t>& in, std::vector<uint8_t>* out) {
  z_stream stream;
  std::memset(&stream, 0, sizeof stream);
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  out->resize(deflateBound(&stream, uLong(in.size())));
  stream.next_in = const_cast<Bytef*>(in.data());
  stream.avail_in = uInt(in.size());
  stream.next_out = out->data();
  stream.avail_out = uInt(out->size());
  int status = deflate(&stream, Z_FINISH);
  out->resize(stream.total_out);
  deflateEnd(&stream);
  return status == Z_STREAM_END;
}

}  // namespace

bool BuildZip(const std::vector<ZipEntry>& entries, ZipTime when, std::vector<uint8_t>* out, std::string* error) {
  if (entries.size() > 0xFFFF) {
    *error = "too many files for a zip archive";
    return false;
  }
  std::vector<uint8_t> directory;
  const size_t start = out->size();
  for (const ZipEntry& entry : entries) {
    if (entry.name.empty() || entry.name.size() > 0xFFFF) {
      *error = "bad file name in zip archive: '" + entry.name + "'";
      return false;
    }
    // Sizes and offsets are 32-bit fields; the last value is reserved for
    // the 64-bit extension this writer does not make.
    if (entry.bytes.size() >= 0xFFFFFFFFu) {
      *error = entry.name + " is too large for a zip archive";
      return false;
    }
    uint32_t crc = uint32_t(crc32(crc32(0, nullptr, 0), entry.bytes.data(), uInt(entry.bytes.size())));
    std::vector<uint8_t> packed;
    uint16_t method = kMethodDeflated;
    if (!Deflate(entry.bytes, &packed)) {
      *error = "cannot compress " + entry.name;
      return false;
    }
    if (packed.size() >= entry.bytes.size()) method = kMethodStored;  // nothing gained
    const std::vector<uint8_t>& data = method == kMethodStored ? entry.bytes : packed;
    uint64_t offset = out->size() - start;
    if (offset + 30 + entry.name.size() + data.size() >= 0xFFFFFFFFu) {
      *error = "the zip archive would exceed 4 GiB";
      return false;
    }

    Put32(out, kLocalHeader);
    Put16(out, kVersionNeeded);
    Put16(out, 0);  // flags: sizes are known up front, names are plain ASCII or the local code page
    Put16(out, method);
    Put16(out, when.time);
    Put16(out, when.date);
    Put32(out, crc);
    Put32(out, uint32_t(data.size()));
    Put32(out, uint32_t(entry.bytes.size()));
    Put16(out, uint32_t(entry.name.size()));
    Put16(out, 0);  // no extra field
    out->insert(out->end(), entry.name.begin(), entry.name.end());
    out->insert(out->end(), data.begin(), data.end());

    uint32_t mode = entry.executable ? 0100755 : 0100644;
    Put32(&directory, kCentralHeader);
    Put16(&directory, kVersionMadeBy);
    Put16(&directory, kVersionNeeded);
    Put16(&directory, 0);
    Put16(&directory, method);
    Put16(&directory, when.time);
    Put16(&directory, when.date);
    Put32(&directory, crc);
    Put32(&directory, uint32_t(data.size()));
    Put32(&directory, uint32_t(entry.bytes.size()));
    Put16(&directory, uint32_t(entry.name.size()));
    Put16(&directory, 0);  // extra field
    Put16(&directory, 0);  // comment
    Put16(&directory, 0);  // disk number
    Put16(&directory, 0);  // internal attributes
    Put32(&directory, mode << 16);
    Put32(&directory, uint32_t(offset));
    directory.insert(directory.end(), entry.name.begin(), entry.name.end());
  }
  uint64_t directoryOffset = out->size() - start;
  if (directoryOffset + directory.size() >= 0xFFFFFFFFu) {
    *error = "the zip archive would exceed 4 GiB";
    return false;
  }
  out->insert(out->end(), directory.begin(), directory.end());
  Put32(out, kEndOfDirectory);
  Put16(out, 0);  // this disk
  Put16(out, 0);  // the disk holding the directory
  Put16(out, uint32_t(entries.size()));
  Put16(out, uint32_t(entries.size()));
  Put32(out, uint32_t(directory.size()));
  Put32(out, uint32_t(directoryOffset));
  Put16(out, 0);  // no comment
  return true;
}
