// PNG decoding on files written here by libpng: every colour type, bit
// depth and interlacing against pixels computed here, tRNS in all its
// forms, premultiplication, damaged and absurd files, and the writer's
// round trip.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/png_files.h"
#include "video/png.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Rgba {
  int r, g, b, a;
  bool operator==(const Rgba& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};
std::ostream& operator<<(std::ostream& os, const Rgba& c) {
  return os << "(" << c.r << ", " << c.g << ", " << c.b << ", " << c.a << ")";
}

// A small deterministic generator, so failures repeat.
struct Lcg {
  uint32_t state;
  uint32_t Next() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  }
};

// Reduction to 8 bits that the decoder promises: low depths scaled so the
// largest value is 255, 16-bit samples keep their high byte.
int To8(uint32_t v, int depth) {
  if (depth == 16) return static_cast<int>(v >> 8);
  return static_cast<int>(v * 255 / ((1u << depth) - 1));
}

int Premultiplied(int c, int a) { return static_cast<int>(std::lround(c * a / 255.0)); }

// The straight colour of pixel (x, y) as the file describes it.
Rgba Expected(const PngPicture& s, uint32_t x, uint32_t y) {
  const int n = PngChannels(s.colourType);
  const uint16_t* v = &s.samples[(static_cast<size_t>(y) * s.width + x) * n];
  switch (s.colourType) {
    case PNG_COLOR_TYPE_GRAY: {
      int g = To8(v[0], s.depth);
      return {g, g, g, s.transparentColour && v[0] == s.key[0] ? 0 : 255};
    }
    case PNG_COLOR_TYPE_RGB: {
      bool key = s.transparentColour && v[0] == s.key[0] && v[1] == s.key[1] && v[2] == s.key[2];
      return {To8(v[0], s.depth), To8(v[1], s.depth), To8(v[2], s.depth), key ? 0 : 255};
    }
    case PNG_COLOR_TYPE_PALETTE: {
      const png_color& c = s.palette[v[0]];
      return {c.red, c.green, c.blue, v[0] < s.paletteAlphas.size() ? s.paletteAlphas[v[0]] : 255};
    }
    case PNG_COLOR_TYPE_GRAY_ALPHA: {
      int g = To8(v[0], s.depth);
      return {g, g, g, To8(v[1], s.depth)};
    }
    default:
      return {To8(v[0], s.depth), To8(v[1], s.depth), To8(v[2], s.depth), To8(v[3], s.depth)};
  }
}

// Random samples over the whole range; with a transparent colour, a third
// of the pixels are the key and some differ from it only in a low bit (at
// 16 bits: the same high byte), which must stay opaque.
PngPicture MakePicture(int colourType, int depth, bool interlaced, bool trns, uint32_t w, uint32_t h) {
  PngPicture s;
  s.width = w;
  s.height = h;
  s.colourType = colourType;
  s.depth = depth;
  s.interlaced = interlaced;
  Lcg rng{static_cast<uint32_t>(colourType * 1000 + depth * 10 + interlaced + trns * 7 + w)};
  const uint32_t top = (1u << depth) - 1;
  const int n = PngChannels(colourType);
  if (colourType == PNG_COLOR_TYPE_PALETTE) {
    const uint32_t entries = depth == 8 ? 200 : top + 1;
    for (uint32_t i = 0; i < entries; ++i)
      s.palette.push_back({static_cast<png_byte>(rng.Next()), static_cast<png_byte>(rng.Next()),
                           static_cast<png_byte>(rng.Next())});
    if (trns) {
      // Fewer alphas than entries: the rest are opaque. 0 and 255 included.
      for (uint32_t i = 0; i + 1 < entries; ++i)
        s.paletteAlphas.push_back(i == 0 ? 0 : i == 1 ? 255 : static_cast<uint8_t>(rng.Next()));
    }
    for (uint32_t i = 0; i < w * h; ++i) s.samples.push_back(static_cast<uint16_t>(rng.Next() % entries));
    return s;
  }
  for (uint32_t i = 0; i < w * h * n; ++i) s.samples.push_back(static_cast<uint16_t>(rng.Next() & top));
  if (trns) {
    s.transparentColour = true;
    for (int c = 0; c < 3; ++c) s.key[c] = static_cast<uint16_t>(rng.Next() & top);
    for (uint32_t i = 0; i < w * h; ++i) {
      uint16_t* p = &s.samples[i * n];
      if (i % 3 == 0) {
        for (int c = 0; c < n; ++c) p[c] = s.key[c];
      } else if (i % 3 == 1) {
        for (int c = 0; c < n; ++c) p[c] = s.key[c];
        p[n - 1] ^= 1;  // one low bit away from the key
      }
    }
  }
  return s;
}

struct Case {
  int colourType, depth;
  bool interlaced, trns;
};

std::vector<Case> AllCases() {
  const std::vector<std::pair<int, std::vector<int>>> depths = {
      {PNG_COLOR_TYPE_GRAY, {1, 2, 4, 8, 16}}, {PNG_COLOR_TYPE_RGB, {8, 16}},
      {PNG_COLOR_TYPE_PALETTE, {1, 2, 4, 8}},  {PNG_COLOR_TYPE_GRAY_ALPHA, {8, 16}},
      {PNG_COLOR_TYPE_RGBA, {8, 16}}};
  std::vector<Case> cases;
  for (const auto& [type, list] : depths)
    for (int depth : list)
      for (bool interlaced : {false, true})
        for (bool trns : {false, true})
          if (!trns || type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_RGB || type == PNG_COLOR_TYPE_PALETTE)
            cases.push_back({type, depth, interlaced, trns});
  return cases;
}

std::string Name(const Case& c) {
  return "type " + std::to_string(c.colourType) + " depth " + std::to_string(c.depth) +
         (c.interlaced ? " Adam7" : "") + (c.trns ? " tRNS" : "");
}

// Both entry points on one file: the straight pixels must be the file's,
// the premultiplied ones round(c * a / 255) of them.
void ExpectDecodes(const PngPicture& picture, const Bytes& file, const std::string& what) {
  RgbaImage straight;
  ASSERT_TRUE(DecodePngRgba(&straight, file.data(), file.size())) << what;
  ASSERT_EQ(straight.width, picture.width) << what;
  ASSERT_EQ(straight.height, picture.height) << what;
  DecodedImage pre{};
  ASSERT_TRUE(DecodePng(&pre, file.data(), file.size())) << what;
  ASSERT_EQ(pre.width, picture.width) << what;
  ASSERT_EQ(pre.height, picture.height) << what;
  int bad = 0;
  for (uint32_t y = 0; y < picture.height && bad < 5; ++y)
    for (uint32_t x = 0; x < picture.width && bad < 5; ++x) {
      Rgba want = Expected(picture, x, y);
      const uint8_t* s = &straight.pixels[(y * picture.width + x) * 4];
      const uint8_t* p = &pre.pixels[(y * picture.width + x) * 4];
      Rgba gotStraight{s[0], s[1], s[2], s[3]}, gotPre{p[0], p[1], p[2], p[3]};
      Rgba wantPre{Premultiplied(want.r, want.a), Premultiplied(want.g, want.a), Premultiplied(want.b, want.a), want.a};
      if (!(gotStraight == want) || !(gotPre == wantPre)) {
        ++bad;
        ADD_FAILURE() << what << " pixel " << x << "," << y << ": straight " << gotStraight << " want " << want
                      << ", premultiplied " << gotPre << " want " << wantPre;
      }
    }
  FreeDecodedImage(&pre);
}

TEST(PngDecoder, EveryColourTypeDepthInterlaceAndTransparencyGivesTheFilesPixels) {
  // 13 x 11 leaves partial Adam7 blocks and bit-packed rows that end
  // mid-byte; 3 x 2 leaves some Adam7 passes empty.
  for (const Case& c : AllCases())
    for (auto size : {std::pair<uint32_t, uint32_t>{13, 11}, {3, 2}}) {
      PngPicture picture = MakePicture(c.colourType, c.depth, c.interlaced, c.trns, size.first, size.second);
      Bytes file = WritePng(picture);
      ASSERT_FALSE(file.empty()) << Name(c);
      ExpectDecodes(picture, file, Name(c) + " " + std::to_string(size.first) + "x" + std::to_string(size.second));
    }
}

TEST(PngDecoder, PremultiplyingRoundsSoOpaqueKeepsItsColourAndClearIsAllZero) {
  // Every colour value under every alpha value.
  PngPicture picture;
  picture.width = 256;
  picture.height = 256;
  for (uint32_t a = 0; a < 256; ++a)
    for (uint32_t c = 0; c < 256; ++c) picture.samples.insert(picture.samples.end(), {uint16_t(c), uint16_t(255 - c), uint16_t(c ^ a), uint16_t(a)});
  ExpectDecodes(picture, WritePng(picture), "all colours x all alphas");
  // The two promises spelled out.
  DecodedImage image{};
  Bytes file = WritePng(picture);
  ASSERT_TRUE(DecodePng(&image, file.data(), file.size()));
  const uint8_t* opaque = image.pixels + (255 * 256 + 255) * 4;
  EXPECT_EQ(Rgba({opaque[0], opaque[1], opaque[2], opaque[3]}), Rgba({255, 0, 0, 255}));
  const uint8_t* clear = image.pixels + 200 * 4;
  EXPECT_EQ(Rgba({clear[0], clear[1], clear[2], clear[3]}), Rgba({0, 0, 0, 0}));
  FreeDecodedImage(&image);
}

// ---- damaged and hostile files ----

// A refusal leaves both kinds of image as they were (empty for RgbaImage).
bool Refused(const Bytes& file, size_t size) {
  DecodedImage image = {77, 88, nullptr};
  bool accepted = DecodePng(&image, file.data(), size);
  if (accepted) FreeDecodedImage(&image);
  EXPECT_TRUE(accepted || (image.width == 77 && image.height == 88 && image.pixels == nullptr));
  RgbaImage rgba;
  rgba.width = 5;
  rgba.pixels.resize(3);
  bool acceptedRgba = DecodePngRgba(&rgba, file.data(), size);
  EXPECT_TRUE(acceptedRgba || (rgba.width == 0 && rgba.height == 0 && rgba.pixels.empty()));
  return !accepted && !acceptedRgba;
}

// A small file with everything the decoder walks through: palette, tRNS,
// text, interlacing and image data split over several IDAT chunks.
Bytes SmallDamageTarget() {
  PngPicture picture = MakePicture(PNG_COLOR_TYPE_PALETTE, 4, true, true, 9, 7);
  picture.idatSize = 12;
  picture.text = "made by the tests";
  return WritePng(picture);
}

TEST(PngDecoder, RefusesAFileCutAtAnyByteOrWithAnyBitFlipped) {
  Bytes file = SmallDamageTarget();
  std::vector<PngChunk> chunks = PngChunks(file);
  ASSERT_GE(chunks.size(), 7u);  // IHDR PLTE tRNS tEXt IDAT... IEND
  ASSERT_FALSE(Refused(file, file.size()));
  for (size_t cut = 0; cut < file.size(); ++cut) EXPECT_TRUE(Refused(file, cut)) << "cut at " << cut;
  // Every flip lands in the signature, a length, a type, chunk data or a
  // CRC: each must be caught.
  for (size_t at = 0; at < file.size(); ++at) {
    Bytes damaged = file;
    damaged[at] ^= static_cast<uint8_t>(1u << (at % 8));
    std::string where = "signature";
    for (const PngChunk& c : chunks)
      if (at >= c.offset) where = c.type + " +" + std::to_string(at - c.offset);
    EXPECT_TRUE(Refused(damaged, damaged.size())) << "bit flipped at " << at << " (" << where << ")";
  }
}

TEST(PngDecoder, RefusesABadAdler32OrDeflateStreamEvenWithGoodCrcs) {
  // Enough noise for many IDAT chunks, so the checksum sits in the last.
  PngPicture picture = MakePicture(PNG_COLOR_TYPE_RGBA, 8, false, false, 64, 64);
  picture.idatSize = 256;
  Bytes file = WritePng(picture);
  std::vector<PngChunk> idats;
  for (const PngChunk& c : PngChunks(file))
    if (c.type == "IDAT") idats.push_back(c);
  ASSERT_GE(idats.size(), 10u);
  ASSERT_FALSE(Refused(file, file.size()));
  const PngChunk& last = idats.back();
  // The Adler-32 is the last four bytes of the zlib stream.
  for (size_t k = 1; k <= 4; ++k) {
    Bytes damaged = file;
    damaged[last.offset + 8 + last.length - k] ^= 0x10;
    PngFixCrc(&damaged, last);
    EXPECT_TRUE(Refused(damaged, damaged.size())) << "Adler-32 byte " << k << " from the end";
  }
  // The checksum alone in an IDAT chunk of its own, after the last pixel
  // data: read and checked all the same.
  for (uint8_t flip : {0, 1}) {
    Bytes split(file.begin(), file.begin() + last.offset);
    Bytes head(file.begin() + last.offset + 8, file.begin() + last.offset + 8 + last.length - 4);
    Bytes adler(file.begin() + last.offset + 8 + last.length - 4, file.begin() + last.offset + 8 + last.length);
    adler[2] ^= flip;
    for (const Bytes& chunk : {PngMakeChunk("IDAT", head), PngMakeChunk("IDAT", adler), PngMakeChunk("IEND", {})})
      split.insert(split.end(), chunk.begin(), chunk.end());
    EXPECT_EQ(Refused(split, split.size()), flip == 1) << "Adler-32 in its own chunk, flipped " << int(flip);
  }
  // The stream cut short of its checksum, the chunk otherwise sound.
  {
    Bytes damaged = file;
    PngChunk shorter = last;
    shorter.length -= 4;
    damaged.erase(damaged.begin() + last.offset + 8 + shorter.length, damaged.begin() + last.offset + 8 + last.length);
    PngPutBig32(&damaged[last.offset], shorter.length);
    PngFixCrc(&damaged, shorter);
    EXPECT_TRUE(Refused(damaged, damaged.size())) << "stream without its Adler-32";
  }
  // All the image data, but the stream never finished: flushed without a
  // final block, so no end and no Adler-32.
  {
    std::vector<uint8_t> raw;  // filter byte 0, then the row, for each row
    for (uint32_t y = 0; y < 64; ++y) {
      raw.push_back(0);
      for (uint32_t x = 0; x < 64 * 4; ++x) raw.push_back(static_cast<uint8_t>(picture.samples[y * 64 * 4 + x]));
    }
    z_stream z{};
    ASSERT_EQ(deflateInit(&z, 6), Z_OK);
    Bytes packed(compressBound(static_cast<uLong>(raw.size())) + 64);
    z.next_in = raw.data();
    z.avail_in = static_cast<uInt>(raw.size());
    z.next_out = packed.data();
    z.avail_out = static_cast<uInt>(packed.size());
    ASSERT_EQ(deflate(&z, Z_SYNC_FLUSH), Z_OK);
    packed.resize(packed.size() - z.avail_out);
    deflateEnd(&z);
    Bytes unfinished(file.begin(), file.begin() + idats[0].offset);
    for (const Bytes& chunk : {PngMakeChunk("IDAT", packed), PngMakeChunk("IEND", {})})
      unfinished.insert(unfinished.end(), chunk.begin(), chunk.end());
    EXPECT_TRUE(Refused(unfinished, unfinished.size())) << "stream flushed but never finished";
  }
  // Deflate data changed in the middle.
  Bytes damaged = file;
  damaged[idats[3].offset + 8 + 100] ^= 0x5a;
  PngFixCrc(&damaged, idats[3]);
  EXPECT_TRUE(Refused(damaged, damaged.size())) << "deflate data changed";
}

// A file assembled chunk by chunk: any header, a little image data.
Bytes Assembled(uint32_t width, uint32_t height, int depth, int colourType, const std::vector<Bytes>& extra = {}) {
  Bytes file = {137, 'P', 'N', 'G', 13, 10, 26, 10};
  Bytes ihdr(13, 0);
  PngPutBig32(&ihdr[0], width);
  PngPutBig32(&ihdr[4], height);
  ihdr[8] = static_cast<uint8_t>(depth);
  ihdr[9] = static_cast<uint8_t>(colourType);
  auto add = [&](const Bytes& chunk) { file.insert(file.end(), chunk.begin(), chunk.end()); };
  add(PngMakeChunk("IHDR", ihdr));
  for (const Bytes& chunk : extra) add(chunk);
  Bytes raw(1 + 4 * 4, 0x40);
  raw[0] = 0;  // filter type None
  Bytes packed(compressBound(static_cast<uLong>(raw.size())));
  uLongf packedSize = packed.size();
  compress(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()));
  packed.resize(packedSize);
  add(PngMakeChunk("IDAT", packed));
  add(PngMakeChunk("IEND", {}));
  return file;
}

TEST(PngDecoder, RefusesAbsurdSizesBeforeAllocating) {
  // The assembled file itself is sound: a 4 x 1 RGBA image.
  ASSERT_FALSE(Refused(Assembled(4, 1, 8, 6), Assembled(4, 1, 8, 6).size()));
  struct Size {
    uint32_t w, h;
  } sizes[] = {{65536, 1}, {1, 65536}, {65535, 65535}, {8192, 8193}, {0, 4}, {4, 0}, {0x80000000u, 1},
               {0xffffffffu, 0xffffffffu}, {4, 1000}};  // the last: fits, but its data is missing
  for (const Size& s : sizes)
    EXPECT_TRUE(Refused(Assembled(s.w, s.h, 8, 6), Assembled(s.w, s.h, 8, 6).size())) << s.w << " x " << s.h;
  // Impossible depth and colour type pairs.
  EXPECT_TRUE(Refused(Assembled(4, 1, 3, 6), Assembled(4, 1, 3, 6).size()));
  EXPECT_TRUE(Refused(Assembled(4, 1, 16, 3), Assembled(4, 1, 16, 3).size()));
  // A compressed text chunk that inflates to 24 MiB: refused without
  // holding it (a decompression bomb must not cost its full size).
  Bytes text = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 0};
  Bytes zeros(24u << 20, 'z'), packed(compressBound(static_cast<uLong>(zeros.size())));
  uLongf packedSize = packed.size();
  compress2(packed.data(), &packedSize, zeros.data(), static_cast<uLong>(zeros.size()), 1);
  text.insert(text.end(), packed.begin(), packed.begin() + packedSize);
  Bytes bomb = Assembled(4, 1, 8, 6, {PngMakeChunk("zTXt", text)});
  EXPECT_TRUE(Refused(bomb, bomb.size()));
}

TEST(PngDecoder, SkipsOddColourChunksButRefusesACompressedChunkThatDoesNotInflate) {
  // Colour chunks are never applied, so values a strict reader would reject
  // (gamma 0, an unknown rendering intent, a profile that is no ICC profile)
  // cost nothing: the pixels come out as stored.
  Bytes junk(300, 7), packed(compressBound(300));
  uLongf packedSize = packed.size();
  compress(packed.data(), &packedSize, junk.data(), static_cast<uLong>(junk.size()));
  Bytes iccp = {'x', 0, 0};
  iccp.insert(iccp.end(), packed.begin(), packed.begin() + packedSize);
  Bytes odd = Assembled(4, 1, 8, 6, {PngMakeChunk("gAMA", {0, 0, 0, 0}), PngMakeChunk("sRGB", {9}),
                                     PngMakeChunk("iCCP", iccp)});
  RgbaImage image;
  ASSERT_TRUE(DecodePngRgba(&image, odd.data(), odd.size()));
  EXPECT_EQ(image.pixels, Bytes(16, 0x40));
  // The same profile with its zlib stream damaged under a good CRC.
  iccp[iccp.size() / 2] ^= 0x55;
  Bytes damaged = Assembled(4, 1, 8, 6, {PngMakeChunk("iCCP", iccp)});
  EXPECT_TRUE(Refused(damaged, damaged.size()));
}

TEST(PngDecoder, RefusesWhatIsNotAPng) {
  Bytes nothing;
  EXPECT_TRUE(Refused(nothing, 0));
  DecodedImage image{};
  EXPECT_FALSE(DecodePng(&image, nullptr, 100));
  Bytes pcxLike(2000, 10);
  EXPECT_TRUE(Refused(pcxLike, pcxLike.size()));
}

// ---- the writer ----

TEST(PngEncoder, RoundTripsStraightRgbaExactlyAndLibpngReadsTheSame) {
  RgbaImage image;
  image.width = 37;
  image.height = 23;
  Lcg rng{42};
  for (size_t i = 0; i < size_t{37} * 23 * 4; ++i) image.pixels.push_back(static_cast<uint8_t>(rng.Next()));
  image.pixels[3] = 0;  // a clear pixel keeps its colour in straight RGBA
  image.pixels[0] = 200;
  Bytes png;
  ASSERT_TRUE(EncodePngRgba(image, &png));
  RgbaImage back;
  ASSERT_TRUE(DecodePngRgba(&back, png.data(), png.size()));
  EXPECT_EQ(back.width, 37u);
  EXPECT_EQ(back.height, 23u);
  EXPECT_EQ(back.pixels, image.pixels);
  // An independent reader (what an art tool opens) sees the same pixels.
  png_image peer{};
  peer.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_memory(&peer, png.data(), png.size()));
  peer.format = PNG_FORMAT_RGBA;
  Bytes peerPixels(PNG_IMAGE_SIZE(peer));
  ASSERT_TRUE(png_image_finish_read(&peer, nullptr, peerPixels.data(), 0, nullptr));
  EXPECT_EQ(peerPixels, image.pixels);
}

TEST(PngEncoder, RefusesAnEmptyImageOrPixelsOfTheWrongSize) {
  Bytes png = {1, 2, 3};
  RgbaImage image;
  EXPECT_FALSE(EncodePngRgba(image, &png));
  EXPECT_TRUE(png.empty());
  image.width = 4;
  image.height = 4;
  image.pixels.resize(4 * 4 * 4 - 1);
  EXPECT_FALSE(EncodePngRgba(image, &png));
  image.pixels.resize(4 * 4 * 4);
  EXPECT_TRUE(EncodePngRgba(image, &png));
}

}  // namespace
