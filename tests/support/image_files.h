// PCX and TGA files written byte by byte for the image tests and the fuzz
// seeds.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace image_files {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, size_t at, int v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

// An 8-bit PCX of w x h with the given run-length stream; palette entry i is
// (i, 255 - i, i / 2) unless overridden.
struct Pcx {
  int w, h;
  Bytes stream;
  uint8_t palette[768];
  Pcx(int width, int height) : w(width), h(height) {
    for (int i = 0; i < 256; ++i) {
      palette[i * 3] = static_cast<uint8_t>(i);
      palette[i * 3 + 1] = static_cast<uint8_t>(255 - i);
      palette[i * 3 + 2] = static_cast<uint8_t>(i / 2);
    }
  }
  void SetColour(int i, uint8_t r, uint8_t g, uint8_t b) {
    palette[i * 3] = r;
    palette[i * 3 + 1] = g;
    palette[i * 3 + 2] = b;
  }
  Bytes File(int xmin = 0, int ymin = 0) const {
    Bytes f(128, 0);
    f[0] = 10;
    f[1] = 5;
    f[2] = 1;
    f[3] = 8;
    Put16(f, 4, xmin);
    Put16(f, 6, ymin);
    Put16(f, 8, xmin + w - 1);
    Put16(f, 10, ymin + h - 1);
    f[65] = 1;
    Put16(f, 66, w + 7);  // bytes per line: ignored
    f.insert(f.end(), stream.begin(), stream.end());
    f.push_back(12);
    f.insert(f.end(), palette, palette + 768);
    return f;
  }
};

// A TGA of w x h. Type 1: pixels are indices, the colour map entries are
// (b, g, r) triples padded to entryBits. Type 2: pixels are B, G, R, A.
struct Tga {
  int type, w, h;
  Tga(int imageType, int width, int height) : type(imageType), w(width), h(height) {}
  int firstEntry = 0, entryBits = 24, descriptor = -1, depth = -1;
  Bytes id, map, pixels, tail;
  Bytes File() const {
    Bytes f(18, 0);
    f[0] = static_cast<uint8_t>(id.size());
    f[1] = type == 1 ? 1 : 0;
    f[2] = static_cast<uint8_t>(type);
    int entryBytes = entryBits / 8;
    Put16(f, 3, firstEntry);
    Put16(f, 5, entryBytes ? static_cast<int>(map.size()) / entryBytes : 0);
    f[7] = static_cast<uint8_t>(entryBits);
    Put16(f, 12, w);
    Put16(f, 14, h);
    f[16] = static_cast<uint8_t>(depth >= 0 ? depth : (type == 1 ? 8 : 32));
    f[17] = static_cast<uint8_t>(descriptor >= 0 ? descriptor : (type == 1 ? 0 : 8));
    f.insert(f.end(), id.begin(), id.end());
    f.insert(f.end(), map.begin(), map.end());
    f.insert(f.end(), pixels.begin(), pixels.end());
    f.insert(f.end(), tail.begin(), tail.end());
    return f;
  }
  // A TGA 2.0 extension area holding key bytes k0..k3, and the footer.
  void AddKey(uint8_t k0, uint8_t k1, uint8_t k2, uint8_t k3, int offsetShift = 0) {
    size_t extension = File().size();
    Bytes area(495, 0);
    Put16(area, 0, 495);
    area[470] = k0;
    area[471] = k1;
    area[472] = k2;
    area[473] = k3;
    tail.insert(tail.end(), area.begin(), area.end());
    AddFooter(static_cast<uint32_t>(extension + offsetShift));
  }
  void AddFooter(uint32_t extension) {
    Bytes footer(26, 0);
    for (int i = 0; i < 4; ++i) footer[i] = static_cast<uint8_t>(extension >> (8 * i));
    std::memcpy(&footer[8], "TRUEVISION-XFILE.", 17);
    tail.insert(tail.end(), footer.begin(), footer.end());
  }
};

}  // namespace image_files
