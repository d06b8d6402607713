// PNG decoding and encoding over libpng. libpng parses the image (every
// colour type and depth, tRNS, Adam7), checks every chunk's CRC it reads and
// has zlib check the Adler-32 at the end of the image data. This file walks
// the chunks first so that nothing cut or absurd gets through, sets the
// limits, expands palettes itself and premultiplies for the engine.
//
// libpng reports errors by longjmp. Its calls happen only inside the two
// guarded functions below (ReadGuarded, WriteGuarded), whose frames and the
// frames a longjmp skips hold nothing with a destructor: everything they
// allocate sits in a plain record that the caller releases.
#include "video/png.h"

#include <png.h>
#include <zlib.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <csetjmp>
#include <cstdlib>
#include <cstring>

namespace {

const uint8_t kSignature[8] = {137, 'P', 'N', 'G', 13, 10, 26, 10};

// Compressed text and ICC profile chunks are never used, but a hostile file
// must not get away with one that inflates to gigabytes: each may unpack to
// at most this much, and all of them together to kCacheLimit.
const uint64_t kChunkLimit = 16u << 20;  // one compressed ancillary chunk, unpacked, bytes
const uint64_t kCacheLimit = 64u << 20;  // all of them together, unpacked, bytes

uint32_t BigEndian32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

struct Header {
  uint32_t width, height;
  int depth, colourType;
};

// Unpacks a zlib stream into a scratch buffer, counting: false when it is
// damaged, unfinished or unpacks to more than `limit` bytes.
bool InflatesWithin(const uint8_t* data, size_t size, uint64_t limit, uint64_t* unpacked) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  uint8_t scratch[16384];
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);  // chunk lengths are 31-bit
  uint64_t total = 0;
  int result = Z_OK;
  while (result == Z_OK && total <= limit) {
    z.next_out = scratch;
    z.avail_out = sizeof scratch;
    result = inflate(&z, Z_NO_FLUSH);
    total += sizeof scratch - z.avail_out;
  }
  inflateEnd(&z);
  *unpacked = total;
  return result == Z_STREAM_END && total <= limit;
}

// The zlib stream inside a zTXt, iTXt or iCCP chunk, or null when the chunk
// type carries none or the chunk is malformed (`malformed` set then).
const uint8_t* CompressedPart(const uint8_t* type, const uint8_t* body, size_t length, size_t* streamLength,
                              bool* malformed) {
  const bool ztxt = std::memcmp(type, "zTXt", 4) == 0, iccp = std::memcmp(type, "iCCP", 4) == 0,
             itxt = std::memcmp(type, "iTXt", 4) == 0;
  if (!ztxt && !iccp && !itxt) return nullptr;
  const uint8_t* end = body + length;
  const uint8_t* at = static_cast<const uint8_t*>(std::memchr(body, 0, length));  // after the keyword
  if (at == nullptr) return *malformed = true, nullptr;
  ++at;
  if (itxt) {
    // compression flag, method, language tag, translated keyword, text
    if (end - at < 2) return *malformed = true, nullptr;
    const bool compressed = at[0] != 0;
    at += 2;
    for (int field = 0; field < 2; ++field) {
      at = static_cast<const uint8_t*>(std::memchr(at, 0, static_cast<size_t>(end - at)));
      if (at == nullptr) return *malformed = true, nullptr;
      ++at;
    }
    if (!compressed) return nullptr;
  } else {
    if (at == end) return *malformed = true, nullptr;  // the method byte
    ++at;
  }
  *streamLength = static_cast<size_t>(end - at);
  return at;
}

// The walk over the whole file before libpng sees it:
//  - every chunk lies whole inside the file (31-bit lengths), up to a
//    complete IEND, so a file cut anywhere is refused; bytes after IEND are
//    ignored, as every PNG reader does;
//  - the CRCs of all chunks but IDAT are checked here (libpng checks the
//    IDAT CRCs as it reads the image data, and those of the chunks it
//    skips, all as errors);
//  - the image data is one run of IDAT chunks;
//  - the header's size is acceptable and the image data could hold it
//    (deflate packs at most 1032 bytes into one), so nothing absurd is
//    allocated;
//  - compressed text and ICC profiles unpack within the limits above.
// False when the file is damaged, absurd or no PNG.
bool Walk(const uint8_t* data, size_t size, Header* header) {
  static const uint8_t kIend[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xae, 0x42, 0x60, 0x82};
  if (data == nullptr || size < sizeof kSignature + 25 || std::memcmp(data, kSignature, sizeof kSignature) != 0)
    return false;
  const uint8_t* ihdr = data + sizeof kSignature;
  if (BigEndian32(ihdr) != 13 || std::memcmp(ihdr + 4, "IHDR", 4) != 0) return false;
  *header = {BigEndian32(ihdr + 8), BigEndian32(ihdr + 12), ihdr[16], ihdr[17]};
  // DecodedImage holds 16-bit sizes.
  if (header->width == 0 || header->height == 0 || header->width > 65535 || header->height > 65535 ||
      static_cast<uint64_t>(header->width) * header->height > kMaxImagePixels)
    return false;
  bool seenIdat = false, afterIdat = false;
  uint64_t idatBytes = 0, unpackedTotal = 0;
  for (size_t at = sizeof kSignature;;) {
    if (size - at < 12) return false;
    const uint32_t length = BigEndian32(data + at);
    if (length > 0x7fffffffu || length > size - at - 12) return false;
    const uint8_t* type = data + at + 4;
    if (std::memcmp(type, "IDAT", 4) == 0) {
      if (afterIdat) return false;
      seenIdat = true;
      idatBytes += length;
    } else {
      afterIdat = seenIdat;
      if (crc32(0, type, length + 4) != BigEndian32(type + 4 + length)) return false;
      if (std::memcmp(type, "IEND", 4) == 0) {
        if (std::memcmp(data + at, kIend, sizeof kIend) != 0) return false;
        break;
      }
      bool malformed = false;
      size_t streamLength = 0;
      const uint8_t* stream = CompressedPart(type, type + 4, length, &streamLength, &malformed);
      if (malformed) return false;
      uint64_t unpacked = 0;
      if (stream != nullptr &&
          (!InflatesWithin(stream, streamLength, kChunkLimit, &unpacked) || (unpackedTotal += unpacked) > kCacheLimit))
        return false;
    }
    at += 12 + static_cast<size_t>(length);
  }
  const int channels[7] = {1, 0, 3, 1, 2, 0, 4};
  const uint64_t bits = static_cast<uint64_t>(header->width) * header->height *
                        (header->colourType <= 6 ? channels[header->colourType] : 1) * header->depth;
  return seenIdat && bits / 8 <= idatBytes * 1032 + 1024;
}

// round(c * a / 255) for c, a in 0..255, exactly, without a division.
inline uint32_t MultiplyRounded(uint32_t c, uint32_t a) {
  uint32_t t = c * a + 128;
  return (t + (t >> 8)) >> 8;
}

// Premultiplies in place. Rounded rather than the TGA decoder's (c * a) >> 8
// (which that format keeps for compatibility): an opaque pixel keeps its
// exact colour, so art drawn with pure white stays 255, and alpha 0 gives
// (0, 0, 0, 0) whatever colour the art tool left under it. The rounding
// formula works in 16 bits (c * a + 128 + its high byte stays below 65536),
// so SSE2 does four pixels at once, without branches that sprite edges
// would make mispredict; the alpha lane is multiplied by 255, which keeps it.
void Premultiply(uint8_t* pixels, size_t count) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128(), half = _mm_set1_epi16(128);
  const __m128i colourLanes = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
  const __m128i alphaBy255 = _mm_set_epi16(255, 0, 0, 0, 255, 0, 0, 0);
  auto twoPixels = [&](__m128i v) {  // 8 lanes: red, green, blue, alpha of two pixels
    __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xff), 0xff);
    a = _mm_or_si128(_mm_and_si128(a, colourLanes), alphaBy255);
    __m128i t = _mm_add_epi16(_mm_mullo_epi16(v, a), half);
    return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
  };
  for (; i + 4 <= count; i += 4) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + i * 4));
    v = _mm_packus_epi16(twoPixels(_mm_unpacklo_epi8(v, zero)), twoPixels(_mm_unpackhi_epi8(v, zero)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels + i * 4), v);
  }
#endif
  for (pixels += i * 4; i < count; ++i, pixels += 4) {
    const uint32_t a = pixels[3];
    pixels[0] = static_cast<uint8_t>(MultiplyRounded(pixels[0], a));
    pixels[1] = static_cast<uint8_t>(MultiplyRounded(pixels[1], a));
    pixels[2] = static_cast<uint8_t>(MultiplyRounded(pixels[2], a));
  }
}

// One decoding, as a plain record: libpng's state, the file as the read
// callback hands it out, and the buffers, all released by Release().
struct Reading {
  png_structp png = nullptr;
  png_infop info = nullptr;
  const uint8_t* next = nullptr;  // the unread part of the file
  size_t left = 0;
  Header header{};
  uint8_t* pixels = nullptr;  // width x height x 4, the caller's
  bool premultiply = false;
  uint8_t* indices = nullptr;  // palette images: one row, or every row when interlaced
  png_bytep* rows = nullptr;   // interlaced images: where each row goes
  uint32_t table[256] = {};    // palette images: the RGBA of each index, premultiplied if asked

  void Release() {
    if (png != nullptr) png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
    std::free(indices);
    std::free(rows);
    png = nullptr;
    info = nullptr;
    indices = nullptr;
    rows = nullptr;
  }
};

[[noreturn]] void OnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnWarning(png_structp, png_const_charp) {}  // nothing a game maker could act on

// libpng's input: bounds-checked, though the walk has already seen the whole
// file up to IEND.
void ReadFromFile(png_structp png, png_bytep out, size_t length) {
  Reading* r = static_cast<Reading*>(png_get_io_ptr(png));
  if (length > r->left) png_error(png, "read past the end");
  std::memcpy(out, r->next, length);
  r->next += length;
  r->left -= length;
}

// 16-bit samples keep their high byte (png_set_strip_16): a 16-bit export of
// 8-bit art (every sample c * 257) gives back exactly c, and it costs no
// rounding pass. gAMA, cHRM, sRGB and iCCP are skipped unread: pixels are
// used as stored, as pixel art expects and as PCX and TGA behave.
void SetTransforms(Reading* r, png_structp png, png_infop info) {
  const int type = r->header.colourType;
  if (r->header.depth == 16) png_set_strip_16(png);
  if (type == PNG_COLOR_TYPE_PALETTE) {
    // Indices, one byte each, expanded here through a table: quicker than
    // libpng's own expansion, and premultiplied once per colour.
    if (r->header.depth < 8) png_set_packing(png);
    png_colorp palette = nullptr;
    int entries = 0;
    if (png_get_PLTE(png, info, &palette, &entries) == 0) png_error(png, "no palette");
    png_bytep alphas = nullptr;
    int alphaCount = 0;
    if (png_get_tRNS(png, info, &alphas, &alphaCount, nullptr) == 0) alphaCount = 0;
    for (int i = 0; i < 256; ++i) {
      uint8_t rgba[4] = {0, 0, 0, 255};  // an index past the palette: opaque black
      if (i < entries) {
        rgba[0] = palette[i].red;
        rgba[1] = palette[i].green;
        rgba[2] = palette[i].blue;
      }
      if (i < alphaCount) rgba[3] = alphas[i];
      if (r->premultiply) Premultiply(rgba, 1);
      std::memcpy(&r->table[i], rgba, 4);
    }
    return;
  }
  const bool key = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  if (type == PNG_COLOR_TYPE_GRAY && r->header.depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (key) png_set_tRNS_to_alpha(png);  // compared at the file's depth, before strip_16
  if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  if ((type & PNG_COLOR_MASK_ALPHA) == 0 && !key) png_set_filler(png, 0xff, PNG_FILLER_AFTER);
}

// Palette indices to RGBA through the table, or premultiplying RGBA rows.
void FinishRows(Reading* r, const uint8_t* indices, uint8_t* out, size_t count) {
  if (r->header.colourType == PNG_COLOR_TYPE_PALETTE) {
    for (size_t i = 0; i < count; ++i) std::memcpy(out + i * 4, &r->table[indices[i]], 4);
  } else if (r->premultiply) {
    Premultiply(out, count);
  }
}

// Everything libpng does for one decoding; may longjmp out of anywhere.
void ReadImage(Reading* r) {
  png_structp png = r->png;
  png_infop info = r->info;
  png_set_read_fn(png, r, ReadFromFile);
  // A bad CRC anywhere, even in a chunk that is skipped, means the file was
  // damaged on the way: refuse it rather than show half-right pixels. So are
  // the "benign" errors (image data too long, a bad tRNS, a palette index
  // past the palette): a sound file has none.
  png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
  png_set_benign_errors(png, 0);
  png_set_option(png, PNG_IGNORE_ADLER32, 0);  // takes a boolean (PNG_OPTION_OFF would turn it on)
  png_set_user_limits(png, 65535, 65535);
  png_set_chunk_malloc_max(png, kChunkLimit);
  // Only IHDR, PLTE, tRNS, IDAT and IEND are read; every other chunk is
  // skipped (its CRC still checked), so colour management and text never
  // reach the pixels.
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_set_compression_buffer_size(png, 1u << 16);  // larger reads of the image data, fewer zlib calls
  png_read_info(png, info);
  if (png_get_image_width(png, info) != r->header.width || png_get_image_height(png, info) != r->header.height)
    png_error(png, "header changed");
  SetTransforms(r, png, info);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const uint32_t width = r->header.width, height = r->header.height;
  const bool palette = r->header.colourType == PNG_COLOR_TYPE_PALETTE;
  const size_t rowBytes = palette ? width : static_cast<size_t>(width) * 4;
  if (png_get_rowbytes(png, info) != rowBytes) png_error(png, "unexpected row layout");

  if (passes == 1) {
    // Row by row, each finished while it is still in the cache.
    if (palette && (r->indices = static_cast<uint8_t*>(std::malloc(width))) == nullptr) png_error(png, "memory");
    for (uint32_t y = 0; y < height; ++y) {
      uint8_t* out = r->pixels + static_cast<size_t>(y) * width * 4;
      png_read_row(png, palette ? r->indices : out, nullptr);
      FinishRows(r, r->indices, out, width);
    }
  } else {
    // Adam7 fills every row in seven passes: the whole image first.
    const size_t count = static_cast<size_t>(width) * height;
    if (palette && (r->indices = static_cast<uint8_t*>(std::malloc(count))) == nullptr) png_error(png, "memory");
    if ((r->rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * height))) == nullptr)
      png_error(png, "memory");
    uint8_t* base = palette ? r->indices : r->pixels;
    for (uint32_t y = 0; y < height; ++y) r->rows[y] = base + y * rowBytes;
    png_read_image(png, r->rows);
    FinishRows(r, r->indices, r->pixels, count);
  }
  // Through IEND: the zlib stream must have ended with a good Adler-32
  // (libpng reads on to the end of the stream after the last row, even
  // into later IDAT chunks), and every chunk after it is CRC-checked.
  png_read_end(png, nullptr);
}

// The one place that catches libpng's longjmp on reading.
bool ReadGuarded(Reading* r) {
  if (setjmp(png_jmpbuf(r->png))) return false;
  ReadImage(r);
  return true;
}

// Decodes the file into `pixels` (width x height x 4, from Measure) as
// straight or premultiplied RGBA. False on any damage.
bool Decode(const uint8_t* data, size_t size, const Header& header, uint8_t* pixels, bool premultiply) {
  Reading r;
  r.next = data;
  r.left = size;
  r.header = header;
  r.pixels = pixels;
  r.premultiply = premultiply;
  r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (r.png == nullptr) return false;
  r.info = png_create_info_struct(r.png);
  const bool ok = r.info != nullptr && ReadGuarded(&r);
  r.Release();
  return ok;
}

}  // namespace

bool DecodePng(DecodedImage* image, const uint8_t* data, size_t size) {
  Header header;
  if (!Walk(data, size, &header)) return false;
  const size_t count = static_cast<size_t>(header.width) * header.height;
  uint8_t* pixels = static_cast<uint8_t*>(std::malloc(count * 4));
  if (pixels == nullptr) return false;
  if (!Decode(data, size, header, pixels, true)) {
    std::free(pixels);
    return false;
  }
  image->width = static_cast<uint16_t>(header.width);
  image->height = static_cast<uint16_t>(header.height);
  image->pixels = pixels;
  return true;
}

bool DecodePngRgba(RgbaImage* image, const uint8_t* data, size_t size) {
  *image = RgbaImage{};
  Header header;
  if (!Walk(data, size, &header)) return false;
  std::vector<uint8_t> pixels;
  // An allocation failure is a refusal like any other, not an exception.
  try {
    pixels.resize(static_cast<size_t>(header.width) * header.height * 4);
  } catch (...) {
    return false;
  }
  if (!Decode(data, size, header, pixels.data(), false)) return false;
  image->width = header.width;
  image->height = header.height;
  image->pixels = std::move(pixels);
  return true;
}

namespace {

// One encoding, as a plain record released by the caller.
struct Writing {
  png_structp png = nullptr;
  png_infop info = nullptr;
  const RgbaImage* image = nullptr;
  std::vector<uint8_t>* out = nullptr;  // the caller's, outside the guarded frames
};

void AppendToOutput(png_structp png, png_bytep data, size_t length) {
  Writing* w = static_cast<Writing*>(png_get_io_ptr(png));
  bool ok = true;
  try {
    w->out->insert(w->out->end(), data, data + length);
  } catch (...) {
    ok = false;
  }
  if (!ok) png_error(png, "out of memory");  // after the try block: no exception is in flight
}

void FlushNothing(png_structp) {}

// 8-bit RGBA, not interlaced, at libpng's default compression and filters.
void WriteImage(Writing* w) {
  png_set_write_fn(w->png, w, AppendToOutput, FlushNothing);
  png_set_IHDR(w->png, w->info, w->image->width, w->image->height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(w->png, w->info);
  const size_t rowBytes = static_cast<size_t>(w->image->width) * 4;
  for (uint32_t y = 0; y < w->image->height; ++y)
    png_write_row(w->png, w->image->pixels.data() + y * rowBytes);
  png_write_end(w->png, w->info);
}

// The one place that catches libpng's longjmp on writing.
bool WriteGuarded(Writing* w) {
  if (setjmp(png_jmpbuf(w->png))) return false;
  WriteImage(w);
  return true;
}

}  // namespace

bool EncodePngRgba(const RgbaImage& image, std::vector<uint8_t>* png) {
  png->clear();
  // PNG sizes are 31-bit and never 0.
  if (image.width == 0 || image.height == 0 || image.width > 0x7fffffffu || image.height > 0x7fffffffu)
    return false;
  if (image.pixels.size() / 4 / image.width != image.height ||
      image.pixels.size() != static_cast<uint64_t>(image.width) * image.height * 4)
    return false;
  Writing w;
  w.image = &image;
  w.out = png;
  w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (w.png == nullptr) return false;
  w.info = png_create_info_struct(w.png);
  const bool ok = w.info != nullptr && WriteGuarded(&w);
  png_destroy_write_struct(&w.png, w.info != nullptr ? &w.info : nullptr);
  if (!ok) png->clear();
  return ok;
}
