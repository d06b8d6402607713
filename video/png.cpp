// PNG decoding and encoding over libspng. libspng does the parsing (every
// colour type and depth, tRNS, Adam7), checks the chunk CRCs and has zlib
// check the Adler-32; this file walks the chunks first so that nothing cut
// or damaged gets through, sets the limits, and premultiplies for the engine.
#include "video/png.h"

#include <spng.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

const uint8_t kSignature[8] = {137, 'P', 'N', 'G', 13, 10, 26, 10};

// Ancillary chunks (text, ICC profiles, Exif) are parsed and then ignored;
// these limits keep a hostile file from making libspng hold or inflate more
// than a real image ever carries. Image data (IDAT) is not subject to them.
const size_t kChunkLimit = 16u << 20;  // one ancillary chunk, decompressed, bytes
const size_t kCacheLimit = 64u << 20;  // all ancillary chunks together, bytes

struct ContextDeleter {
  void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Context = std::unique_ptr<spng_ctx, ContextDeleter>;

uint32_t BigEndian32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

void PutBigEndian32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// The file as libspng gets it, rebuilt from the original:
//  - every chunk must lie whole inside the file, up to a complete IEND, so
//    a file cut anywhere is refused (libspng alone accepts one cut inside
//    IEND's CRC). Bytes after IEND are ignored, as every PNG reader does.
//  - the IDAT chunks, their CRCs checked here, become one chunk holding the
//    whole zlib stream, with a fresh CRC, followed by 8 sentinel bytes.
//    libspng hands zlib one chunk at a time and stops after the last pixel,
//    so a checksum that sits in a later IDAT chunk than the last pixel data
//    would never be read. Given the whole stream at once, zlib reaches the
//    Adler-32 while producing the last row and checks it. A stream that ends
//    without its Adler-32 gets the zero sentinel checked instead and fails
//    (a chance match would mean the pixels were right anyway); one whose
//    last block is not marked final reads the sentinel as a stored block
//    whose length check fails.
// Chunks other than IDAT are copied as they are and libspng checks their
// CRCs. False when the file is damaged or is no PNG.
bool Reassemble(const uint8_t* data, size_t size, std::vector<uint8_t>* file) {
  static const uint8_t kIend[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xae, 0x42, 0x60, 0x82};
  static const uint8_t kSentinel[8] = {};
  if (data == nullptr || size < sizeof kSignature || std::memcmp(data, kSignature, sizeof kSignature) != 0)
    return false;
  size_t firstIdat = 0, afterIdat = 0, end = 0;  // offsets of the chunk runs
  uint64_t idatBytes = 0;
  uint32_t idatCrc = crc32(0, reinterpret_cast<const Bytef*>("IDAT"), 4);  // of the merged chunk
  for (size_t at = sizeof kSignature; end == 0;) {
    if (size - at < 12) return false;
    const uint32_t length = BigEndian32(data + at);
    if (length > 0x7fffffffu || length > size - at - 12) return false;  // 31-bit lengths, inside the file
    const uint8_t* type = data + at + 4;
    if (std::memcmp(type, "IDAT", 4) == 0) {
      if (afterIdat != 0) return false;  // image data must be one run of chunks
      if (firstIdat == 0) firstIdat = at;
      const uint32_t dataCrc = crc32(0, type + 4, length);
      if (crc32_combine(crc32(0, type, 4), dataCrc, length) != BigEndian32(type + 4 + length)) return false;
      idatCrc = crc32_combine(idatCrc, dataCrc, length);
      idatBytes += length;
    } else {
      if (firstIdat != 0 && afterIdat == 0) afterIdat = at;
      if (std::memcmp(type, "IEND", 4) == 0) {
        if (std::memcmp(data + at, kIend, sizeof kIend) != 0) return false;
        end = at + sizeof kIend;
      }
    }
    at += 12 + static_cast<size_t>(length);
  }
  if (firstIdat == 0 || idatBytes + sizeof kSentinel > 0x7fffffffu) return false;
  idatCrc = crc32(idatCrc, kSentinel, sizeof kSentinel);

  // An allocation failure is a refusal like any other, not an exception.
  try {
    file->resize(firstIdat + 12 + idatBytes + sizeof kSentinel + (end - afterIdat));
  } catch (...) {
    return false;
  }
  uint8_t* out = file->data();
  std::memcpy(out, data, firstIdat);  // signature and the chunks before the image data
  out += firstIdat;
  PutBigEndian32(out, static_cast<uint32_t>(idatBytes + sizeof kSentinel));
  std::memcpy(out + 4, "IDAT", 4);
  out += 8;
  for (size_t at = firstIdat; at < afterIdat;) {
    const uint32_t length = BigEndian32(data + at);
    std::memcpy(out, data + at + 8, length);
    out += length;
    at += 12 + static_cast<size_t>(length);
  }
  std::memcpy(out, kSentinel, sizeof kSentinel);
  PutBigEndian32(out + sizeof kSentinel, idatCrc);
  out += sizeof kSentinel + 4;
  std::memcpy(out, data + afterIdat, end - afterIdat);  // the chunks after it, IEND last
  return true;
}

// A decoding context over the rebuilt file, with every check on, and the
// image size once the header has been read and found acceptable.
struct Decoder {
  std::vector<uint8_t> file;  // what libspng reads; must outlive the context
  Context ctx;
  uint32_t width = 0, height = 0;

  bool Open(const uint8_t* data, size_t size) {
    if (!Reassemble(data, size, &file)) return false;
    ctx.reset(spng_ctx_new(0));  // no SPNG_CTX_IGNORE_ADLER32: zlib checks the Adler-32
    if (!ctx) return false;
    // A bad CRC anywhere, even in a chunk we would ignore, means the file
    // was damaged on the way: refuse it rather than show half-right pixels.
    // DecodedImage holds 16-bit sizes; libspng refuses larger headers itself.
    if (spng_set_crc_action(ctx.get(), SPNG_CRC_ERROR, SPNG_CRC_ERROR) != 0 ||
        spng_set_image_limits(ctx.get(), 65535, 65535) != 0 ||
        spng_set_chunk_limits(ctx.get(), kChunkLimit, kCacheLimit) != 0 ||
        spng_set_png_buffer(ctx.get(), file.data(), file.size()) != 0)
      return false;
    spng_ihdr ihdr{};
    if (spng_get_ihdr(ctx.get(), &ihdr) != 0) return false;
    if (ihdr.width == 0 || ihdr.height == 0 ||
        static_cast<uint64_t>(ihdr.width) * ihdr.height > kMaxImagePixels)
      return false;
    size_t length = 0;
    if (spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &length) != 0 ||
        length != static_cast<size_t>(ihdr.width) * ihdr.height * 4)
      return false;
    width = ihdr.width;
    height = ihdr.height;
    return true;
  }
};

// Decodes the whole image as straight 8-bit RGBA into `out` (width x height
// x 4 bytes), then reads the chunks after the image data through IEND, so a
// file cut anywhere, or damaged after its last pixel, is refused too.
// 16-bit samples keep their high byte (libspng's own reduction): a 16-bit
// export of 8-bit art (every sample c * 257) gives back exactly c, and it
// costs no second pass. gAMA, cHRM, sRGB and iCCP are not applied: pixels
// are used as stored, as pixel art expects and as PCX and TGA behave.
bool DecodeInto(spng_ctx* ctx, uint8_t* out, size_t length) {
  if (spng_decode_image(ctx, out, length, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0) return false;
  return spng_decode_chunks(ctx) == 0;
}

// round(c * a / 255) for c, a in 0..255, exactly, without a division.
inline uint32_t MultiplyRounded(uint32_t c, uint32_t a) {
  uint32_t t = c * a + 128;
  return (t + (t >> 8)) >> 8;
}

// Premultiplies in place. Rounded rather than the TGA decoder's (c * a) >> 8
// (which that format keeps for compatibility): an opaque pixel keeps its
// exact colour, so art drawn with pure white stays 255, and alpha 0 gives
// (0, 0, 0, 0) whatever colour the art tool left under it.
void Premultiply(uint8_t* pixels, size_t count) {
  for (size_t i = 0; i < count; ++i, pixels += 4) {
    uint32_t a = pixels[3];
    if (a == 255) continue;  // the common case in tilesets: nothing to do
    pixels[0] = static_cast<uint8_t>(MultiplyRounded(pixels[0], a));
    pixels[1] = static_cast<uint8_t>(MultiplyRounded(pixels[1], a));
    pixels[2] = static_cast<uint8_t>(MultiplyRounded(pixels[2], a));
  }
}

}  // namespace

bool DecodePng(DecodedImage* image, const uint8_t* data, size_t size) {
  Decoder decoder;
  if (!decoder.Open(data, size)) return false;
  const uint32_t width = decoder.width, height = decoder.height;
  const size_t count = static_cast<size_t>(width) * height;
  uint8_t* pixels = static_cast<uint8_t*>(std::malloc(count * 4));
  if (pixels == nullptr) return false;
  if (!DecodeInto(decoder.ctx.get(), pixels, count * 4)) {
    std::free(pixels);
    return false;
  }
  Premultiply(pixels, count);
  image->width = static_cast<uint16_t>(width);
  image->height = static_cast<uint16_t>(height);
  image->pixels = pixels;
  return true;
}

bool DecodePngRgba(RgbaImage* image, const uint8_t* data, size_t size) {
  *image = RgbaImage{};
  Decoder decoder;
  if (!decoder.Open(data, size)) return false;
  const uint32_t width = decoder.width, height = decoder.height;
  std::vector<uint8_t> pixels;
  const size_t length = static_cast<size_t>(width) * height * 4;
  // An allocation failure is a refusal like any other, not an exception.
  try {
    pixels.resize(length);
  } catch (...) {
    return false;
  }
  if (!DecodeInto(decoder.ctx.get(), pixels.data(), length)) return false;
  image->width = width;
  image->height = height;
  image->pixels = std::move(pixels);
  return true;
}

bool EncodePngRgba(const RgbaImage& image, std::vector<uint8_t>* png) {
  png->clear();
  // PNG sizes are 31-bit and never 0.
  if (image.width == 0 || image.height == 0 || image.width > 0x7fffffffu || image.height > 0x7fffffffu)
    return false;
  if (image.pixels.size() / 4 / image.width != image.height ||
      image.pixels.size() != static_cast<uint64_t>(image.width) * image.height * 4)
    return false;
  Context ctx(spng_ctx_new(SPNG_CTX_ENCODER));
  if (!ctx) return false;
  spng_ihdr ihdr{};
  ihdr.width = image.width;
  ihdr.height = image.height;
  ihdr.bit_depth = 8;
  ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
  if (spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1) != 0 || spng_set_ihdr(ctx.get(), &ihdr) != 0 ||
      spng_encode_image(ctx.get(), image.pixels.data(), image.pixels.size(), SPNG_FMT_PNG,
                        SPNG_ENCODE_FINALIZE) != 0)
    return false;
  size_t length = 0;
  int error = 0;
  void* bytes = spng_get_png_buffer(ctx.get(), &length, &error);
  if (bytes == nullptr || error != 0) {
    std::free(bytes);
    return false;
  }
  const uint8_t* begin = static_cast<const uint8_t*>(bytes);
  bool ok = true;
  try {
    png->assign(begin, begin + length);
  } catch (...) {
    png->clear();
    ok = false;
  }
  std::free(bytes);  // the buffer is the caller's, allocated with libspng's default malloc
  return ok;
}
