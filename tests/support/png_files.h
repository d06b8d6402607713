// PNG files written by libpng for the image tests: any colour type, depth
// and interlacing from plain sample values, plus chunk-level helpers to
// damage a file in a controlled way. The tests compare decoded pixels with
// the samples set here, never with what a reader returns, so they hold
// whichever library the decoder is built on.
#pragma once

#include <png.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// What to write. `samples` holds width x height x channels values, row by
// row, each in 0 .. 2^depth - 1 (palette indices for colour type 3).
struct PngPicture {
  uint32_t width = 1, height = 1;
  int colourType = PNG_COLOR_TYPE_RGBA;  // 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA
  int depth = 8;
  bool interlaced = false;
  std::vector<uint16_t> samples;
  std::vector<png_color> palette;      // colour type 3
  std::vector<uint8_t> paletteAlphas;  // tRNS for colour type 3 (may be shorter than the palette)
  bool transparentColour = false;      // tRNS for colour types 0 and 2
  uint16_t key[3] = {0, 0, 0};         // the grey (key[0]) or red, green, blue at the file's depth
  size_t idatSize = 8192;              // image data is split into chunks of this size
  std::string text;                    // a tEXt chunk before the image data, if not empty
};

inline int PngChannels(int colourType) {
  switch (colourType) {
    case PNG_COLOR_TYPE_GRAY: return 1;
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_PALETTE: return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    default: return 4;
  }
}

namespace png_files_detail {
inline void Append(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
inline void Flush(png_structp) {}
}  // namespace png_files_detail

// libpng's part: the rows as given, interlaced by libpng if asked. False
// if libpng refused the picture.
inline bool WritePngRows(const PngPicture& picture, png_bytep* rows, std::vector<uint8_t>* out) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, out, png_files_detail::Append, png_files_detail::Flush);
  png_set_compression_buffer_size(png, picture.idatSize);
  png_set_IHDR(png, info, picture.width, picture.height, picture.depth, picture.colourType,
               picture.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!picture.palette.empty())
    png_set_PLTE(png, info, const_cast<png_colorp>(picture.palette.data()), static_cast<int>(picture.palette.size()));
  if (!picture.paletteAlphas.empty())
    png_set_tRNS(png, info, const_cast<png_bytep>(picture.paletteAlphas.data()),
                 static_cast<int>(picture.paletteAlphas.size()), nullptr);
  if (picture.transparentColour) {
    png_color_16 key{};
    key.gray = picture.key[0];
    key.red = picture.key[0];
    key.green = picture.key[1];
    key.blue = picture.key[2];
    png_set_tRNS(png, info, nullptr, 0, &key);
  }
  png_text text{};
  if (!picture.text.empty()) {
    text.compression = PNG_TEXT_COMPRESSION_NONE;
    text.key = const_cast<char*>("Comment");
    text.text = const_cast<char*>(picture.text.c_str());
    png_set_text(png, info, &text, 1);
  }
  png_set_rows(png, info, rows);
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

// The file, or an empty vector if libpng refused the picture.
inline std::vector<uint8_t> WritePng(const PngPicture& picture) {
  const int channels = PngChannels(picture.colourType);
  const size_t rowBytes = (static_cast<size_t>(picture.width) * channels * picture.depth + 7) / 8;
  std::vector<std::vector<uint8_t>> rows(picture.height, std::vector<uint8_t>(rowBytes, 0));
  std::vector<png_bytep> rowPointers;
  // Samples packed big-endian, most significant bits first, as PNG stores them.
  for (uint32_t y = 0; y < picture.height; ++y) {
    uint8_t* row = rows[y].data();
    for (size_t i = 0; i < static_cast<size_t>(picture.width) * channels; ++i) {
      uint16_t v = picture.samples[static_cast<size_t>(y) * picture.width * channels + i];
      if (picture.depth == 16) {
        row[2 * i] = static_cast<uint8_t>(v >> 8);
        row[2 * i + 1] = static_cast<uint8_t>(v);
      } else if (picture.depth == 8) {
        row[i] = static_cast<uint8_t>(v);
      } else {
        size_t bit = i * picture.depth;
        row[bit / 8] |= static_cast<uint8_t>(v << (8 - picture.depth - bit % 8));
      }
    }
    rowPointers.push_back(row);
  }
  std::vector<uint8_t> out;
  if (!WritePngRows(picture, rowPointers.data(), &out)) out.clear();
  return out;
}

// ---- chunk-level surgery for damaged files ----

struct PngChunk {
  size_t offset;  // of the length field
  uint32_t length;
  std::string type;
};

inline uint32_t PngBig32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

inline void PngPutBig32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// The chunks of a well-formed file, in order.
inline std::vector<PngChunk> PngChunks(const std::vector<uint8_t>& file) {
  std::vector<PngChunk> chunks;
  for (size_t at = 8; at + 12 <= file.size();) {
    uint32_t length = PngBig32(&file[at]);
    chunks.push_back({at, length, std::string(reinterpret_cast<const char*>(&file[at + 4]), 4)});
    at += 12 + static_cast<size_t>(length);
  }
  return chunks;
}

// Writes the right CRC for the chunk, after its data was changed on purpose.
inline void PngFixCrc(std::vector<uint8_t>* file, const PngChunk& chunk) {
  uint8_t* start = file->data() + chunk.offset + 4;
  PngPutBig32(start + 4 + chunk.length,
              static_cast<uint32_t>(crc32(0, start, static_cast<uInt>(4 + chunk.length))));
}

// A chunk with its CRC, for files assembled by hand.
inline std::vector<uint8_t> PngMakeChunk(const char* type, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> chunk(12 + data.size());
  PngPutBig32(chunk.data(), static_cast<uint32_t>(data.size()));
  std::memcpy(&chunk[4], type, 4);
  if (!data.empty()) std::memcpy(&chunk[8], data.data(), data.size());
  PngChunk c{0, static_cast<uint32_t>(data.size()), type};
  PngFixCrc(&chunk, c);
  return chunk;
}
