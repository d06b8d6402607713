// The zip writer: archives read back with zlib exactly as unzip reads them.
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/export/zip_writer.h"

namespace {

uint32_t U16(const std::vector<uint8_t>& b, size_t at) { return b[at] | b[at + 1] << 8; }
uint32_t U32(const std::vector<uint8_t>& b, size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

struct ReadEntry {
  std::string name;
  std::string bytes;
  uint32_t mode;
};

// Walks the central directory from the end record and inflates each entry
// through its local header; fails the test on any inconsistency.
std::vector<ReadEntry> ReadZip(const std::vector<uint8_t>& zip) {
  std::vector<ReadEntry> entries;
  EXPECT_GE(zip.size(), 22u);
  size_t end = zip.size() - 22;
  EXPECT_EQ(U32(zip, end), 0x06054b50u);
  uint32_t count = U16(zip, end + 10);
  size_t at = U32(zip, end + 16);
  EXPECT_EQ(at + U32(zip, end + 12), end);
  for (uint32_t i = 0; i < count; ++i) {
    EXPECT_EQ(U32(zip, at), 0x02014b50u);
    uint32_t method = U16(zip, at + 10), crc = U32(zip, at + 16), packed = U32(zip, at + 20);
    uint32_t size = U32(zip, at + 24), nameLength = U16(zip, at + 28), offset = U32(zip, at + 42);
    ReadEntry entry;
    entry.name.assign(reinterpret_cast<const char*>(&zip[at + 46]), nameLength);
    entry.mode = U32(zip, at + 38) >> 16;
    EXPECT_EQ(U32(zip, offset), 0x04034b50u);
    EXPECT_EQ(U32(zip, offset + 14), crc);
    size_t data = offset + 30 + U16(zip, offset + 26) + U16(zip, offset + 28);
    entry.bytes.resize(size);
    if (method == 0) {
      EXPECT_EQ(packed, size);
      if (size) std::memcpy(&entry.bytes[0], &zip[data], size);
    } else {
      EXPECT_EQ(method, 8u);
      z_stream stream{};
      inflateInit2(&stream, -15);
      stream.next_in = const_cast<Bytef*>(&zip[data]);
      stream.avail_in = packed;
      stream.next_out = reinterpret_cast<Bytef*>(&entry.bytes[0]);
      stream.avail_out = size;
      EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END) << entry.name;
      inflateEnd(&stream);
    }
    EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef*>(entry.bytes.data()), uInt(size)), crc) << entry.name;
    entries.push_back(entry);
    at += 46 + nameLength + U16(zip, at + 30) + U16(zip, at + 32);
  }
  return entries;
}

TEST(ZipWriter, EntriesReadBackWholeDeflatedOrStored) {
  std::vector<ZipEntry> entries(3);
  entries[0].name = "My Game.exe";
  entries[0].bytes.assign(100000, 'M');  // compresses well: deflated
  entries[0].executable = true;
  entries[1].name = "GAME.DAT";
  for (int i = 0; i < 5000; ++i) entries[1].bytes.push_back(uint8_t((i * 2654435761u) >> 13));  // stored
  entries[2].name = "README.txt";  // empty files are entries too
  std::vector<uint8_t> zip;
  std::string error;
  ASSERT_TRUE(BuildZip(entries, ZipTime{0x6000, 0x5988}, &zip, &error)) << error;
  EXPECT_LT(zip.size(), 6000u);
  std::vector<ReadEntry> read = ReadZip(zip);
  ASSERT_EQ(read.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(read[i].name, entries[i].name);
    EXPECT_EQ(read[i].bytes, std::string(entries[i].bytes.begin(), entries[i].bytes.end()));
  }
  EXPECT_EQ(read[0].mode, 0100755u);
  EXPECT_EQ(read[1].mode, 0100644u);
  EXPECT_EQ(U16(zip, 10), 0x6000u);  // the time of the first local header
}

TEST(ZipWriter, RefusesNamesTheFormatCannotHold) {
  std::vector<ZipEntry> entries(1);
  std::vector<uint8_t> zip;
  std::string error;
  EXPECT_FALSE(BuildZip(entries, ZipTime(), &zip, &error));
  EXPECT_NE(error.find("bad file name"), std::string::npos);
  entries[0].name.assign(70000, 'n');
  EXPECT_FALSE(BuildZip(entries, ZipTime(), &zip, &error));
}

}  // namespace
