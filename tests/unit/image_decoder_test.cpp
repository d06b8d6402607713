// PCX and TGA decoding on images written here byte by byte: every accepted
// variant, the colour keys, premultiplication, and refusal of every kind of
// malformed file without reading outside it.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "video/pcx.h"
#include "video/tga.h"
#include "tests/support/image_files.h"

namespace {

using image_files::Bytes;
using image_files::Pcx;
using image_files::Put16;
using image_files::Tga;

// A palette TGA whose map holds the given (r, g, b) colours.
Tga MappedTga(int w, int h, const std::vector<std::vector<uint8_t>>& colours) {
  Tga t{1, w, h};
  for (const auto& c : colours) t.map.insert(t.map.end(), {c[2], c[1], c[0]});
  return t;
}

struct Decoded {
  bool ok;
  DecodedImage image;
  explicit Decoded(bool accepted, const DecodedImage& i) : ok(accepted), image(i) {}
  ~Decoded() {
    if (ok) FreeDecodedImage(&image);
  }
  std::vector<int> Pixel(int x, int y) const {
    const uint8_t* p = image.pixels + (static_cast<size_t>(y) * image.width + x) * 4;
    return {p[0], p[1], p[2], p[3]};
  }
};

// The untouched-on-refusal promise is checked with a sentinel image.
const DecodedImage kSentinel = {77, 88, nullptr};

std::unique_ptr<Decoded> Pcx_(const Bytes& file) {
  DecodedImage image = kSentinel;
  bool ok = DecodePcx(&image, file.data(), file.size());
  if (!ok) {
    EXPECT_TRUE(image.width == 77 && image.height == 88 && image.pixels == nullptr);
  }
  return std::make_unique<Decoded>(ok, image);
}

std::unique_ptr<Decoded> Tga_(const Bytes& file) {
  DecodedImage image = kSentinel;
  bool ok = DecodeTga(&image, file.data(), file.size());
  if (!ok) {
    EXPECT_TRUE(image.width == 77 && image.height == 88 && image.pixels == nullptr);
  }
  return std::make_unique<Decoded>(ok, image);
}

using Px = std::vector<int>;

// ---- PCX ----

TEST(PcxDecoder, LiteralsAndRunsFillRowsFromTheTopWithOpaquePaletteColours) {
  Pcx p(4, 2);
  p.stream = {1, 2, 0xC2, 200, 0xC4, 9};  // row 0: 1 2 200 200; row 1: 9 x 4
  auto d = Pcx_(p.File(3, 5));  // a non-zero origin only shifts xmin/xmax
  ASSERT_TRUE(d->ok);
  EXPECT_EQ(d->image.width, 4);
  EXPECT_EQ(d->image.height, 2);
  EXPECT_EQ(d->Pixel(0, 0), (Px{1, 254, 0, 255}));
  EXPECT_EQ(d->Pixel(1, 0), (Px{2, 253, 1, 255}));
  EXPECT_EQ(d->Pixel(3, 0), (Px{200, 55, 100, 255}));
  EXPECT_EQ(d->Pixel(3, 1), (Px{9, 246, 4, 255}));
}

TEST(PcxDecoder, MagentaIsTheColourKeyAndANearMagentaStaysOpaque) {
  Pcx p(2, 1);
  p.SetColour(7, 255, 0, 255);
  p.SetColour(8, 255, 0, 254);
  p.stream = {7, 8};
  auto d = Pcx_(p.File());
  ASSERT_TRUE(d->ok);
  EXPECT_EQ(d->Pixel(0, 0), (Px{0, 0, 0, 0}));
  EXPECT_EQ(d->Pixel(1, 0), (Px{255, 0, 254, 255}));
}

TEST(PcxDecoder, ARunOfZeroConsumesTwoBytesAndWritesNothing) {
  Pcx p(2, 1);
  p.stream = {0xC0, 50, 3, 4};
  auto d = Pcx_(p.File());
  ASSERT_TRUE(d->ok);
  EXPECT_EQ(d->Pixel(0, 0)[0], 3);
  EXPECT_EQ(d->Pixel(1, 0)[0], 4);
}

TEST(PcxDecoder, ARunNeverSpillsIntoTheNextRow) {
  Pcx p(5, 2);
  // Row 0: 1 1 then a run of 10 that fits 3; row 1 starts with the next byte.
  p.stream = {0xC2, 1, 0xCA, 2, 3, 4, 5, 6, 7};
  auto d = Pcx_(p.File());
  ASSERT_TRUE(d->ok);
  for (int x = 2; x < 5; ++x) EXPECT_EQ(d->Pixel(x, 0)[0], 2);
  for (int x = 0; x < 5; ++x) EXPECT_EQ(d->Pixel(x, 1)[0], 3 + x);
}

TEST(PcxDecoder, RefusesOtherVariantsAndMalformedFiles) {
  Pcx p(4, 2);
  p.stream = {0xC4, 1, 0xC4, 2};
  Bytes good = p.File();
  EXPECT_TRUE(Pcx_(good)->ok);
  for (size_t at : {0, 1, 2, 3, 65}) {  // manufacturer, version, encoding, bits, planes
    Bytes bad = good;
    bad[at] = at == 1 ? 3 : 4;
    EXPECT_FALSE(Pcx_(bad)->ok) << "byte " << at;
  }
  Bytes noMarker = good;
  noMarker[noMarker.size() - 769] = 11;
  EXPECT_FALSE(Pcx_(noMarker)->ok);
  // A stream that ends before the image is complete.
  Pcx shortStream(4, 2);
  shortStream.stream = {0xC4, 1, 0xC3};
  EXPECT_FALSE(Pcx_(shortStream.File())->ok);
  // Shorter than header and palette; and nothing at all.
  Bytes tiny(good.begin(), good.begin() + 800);
  tiny[800 - 769] = 12;
  EXPECT_FALSE(Pcx_(tiny)->ok);
  EXPECT_FALSE(Pcx_(Bytes{})->ok);
}

TEST(PcxDecoder, RefusesEmptyNegativeAndAbsurdSizes) {
  Pcx p(1, 1);
  p.stream = {1};
  Bytes f = p.File();
  Bytes inverted = f;
  Put16(inverted, 4, 10);  // xmin 10 > xmax 0
  EXPECT_FALSE(Pcx_(inverted)->ok);
  Bytes huge = f;
  Put16(huge, 8, 65535);
  Put16(huge, 10, 65534);  // 65536 x 65535: neither fits nor is sane
  EXPECT_FALSE(Pcx_(huge)->ok);
  Bytes large = f;
  Put16(large, 8, 9999);
  Put16(large, 10, 9999);  // 100 Mpixels, above the cap
  EXPECT_FALSE(Pcx_(large)->ok);
}

// ---- TGA ----

TEST(TgaDecoder, TrueColourRowsAreStoredBottomUpAndPremultiplied) {
  Tga t{2, 2, 2};
  t.pixels = {255, 255, 255, 255, 200, 100, 50, 128,  // stored first: bottom row
              1, 2, 3, 0, 10, 20, 30, 255};           // stored last: top row
  auto d = Tga_(t.File());
  ASSERT_TRUE(d->ok);
  EXPECT_EQ(d->Pixel(0, 1), (Px{254, 254, 254, 255}));
  EXPECT_EQ(d->Pixel(1, 1), (Px{25, 50, 100, 128}));
  EXPECT_EQ(d->Pixel(0, 0), (Px{0, 0, 0, 0}));
  EXPECT_EQ(d->Pixel(1, 0), (Px{29, 19, 9, 255}));
}

TEST(TgaDecoder, TrueColourMagentaIsNotAKey) {
  Tga t{2, 1, 1};
  t.pixels = {255, 0, 255, 255};
  auto d = Tga_(t.File());
  ASSERT_TRUE(d->ok);
  EXPECT_EQ(d->Pixel(0, 0), (Px{254, 0, 254, 255}));
}

TEST(TgaDecoder, ColourMappedPixelsSkipTheIdAndUseTheFirstEntryIndex) {
  Tga t = MappedTga(3, 1, {{10, 20, 30}, {255, 0, 255}, {40, 50, 60}});
  t.id = {'h', 'i'};
  t.firstEntry = 16;
  t.pixels = {16, 17, 18};
  auto d = Tga_(t.File());
  ASSERT_TRUE(d->ok);
  EXPECT_EQ(d->Pixel(0, 0), (Px{10, 20, 30, 255}));
  EXPECT_EQ(d->Pixel(1, 0), (Px{0, 0, 0, 0}));  // magenta by default
  EXPECT_EQ(d->Pixel(2, 0), (Px{40, 50, 60, 255}));
}

TEST(TgaDecoder, ColourMapEntriesOfFourBytesAreReadAsTheirFirstThree) {
  Tga t{1, 2, 1};
  t.entryBits = 32;
  t.map = {1, 2, 3, 99, 4, 5, 6, 99};
  t.pixels = {1, 0};
  auto d = Tga_(t.File());
  ASSERT_TRUE(d->ok);
  EXPECT_EQ(d->Pixel(0, 0), (Px{6, 5, 4, 255}));
  EXPECT_EQ(d->Pixel(1, 0), (Px{3, 2, 1, 255}));
}

TEST(TgaDecoder, TheExtensionAreaNamesTheColourKey) {
  Tga t = MappedTga(2, 1, {{10, 20, 30}, {255, 0, 255}});
  t.pixels = {0, 1};
  Tga keyed = t;
  keyed.AddKey(0, 10, 20, 30);
  auto d = Tga_(keyed.File());
  ASSERT_TRUE(d->ok);
  EXPECT_EQ(d->Pixel(0, 0), (Px{0, 0, 0, 0}));
  EXPECT_EQ(d->Pixel(1, 0), (Px{255, 0, 255, 255}));
  // A first key byte other than 0: nothing is transparent.
  Tga unkeyed = t;
  unkeyed.AddKey(255, 10, 20, 30);
  auto u = Tga_(unkeyed.File());
  ASSERT_TRUE(u->ok);
  EXPECT_EQ(u->Pixel(0, 0), (Px{10, 20, 30, 255}));
  EXPECT_EQ(u->Pixel(1, 0), (Px{255, 0, 255, 255}));
  // An extension offset of 0 (none): magenta stays the key.
  Tga none = t;
  none.AddFooter(0);
  auto n = Tga_(none.File());
  ASSERT_TRUE(n->ok);
  EXPECT_EQ(n->Pixel(1, 0), (Px{0, 0, 0, 0}));
}

TEST(TgaDecoder, RefusesOtherTypesDescriptorsAndDepths) {
  Tga top{2, 1, 1};
  top.pixels = {1, 2, 3, 4};
  top.descriptor = 0x28;  // top-left origin
  EXPECT_FALSE(Tga_(top.File())->ok);
  Tga rgb{2, 1, 1};
  rgb.pixels = {1, 2, 3, 4};
  rgb.depth = 24;
  EXPECT_FALSE(Tga_(rgb.File())->ok);
  Tga mapped = MappedTga(1, 1, {{1, 2, 3}});
  mapped.pixels = {0};
  mapped.descriptor = 8;
  EXPECT_FALSE(Tga_(mapped.File())->ok);
  for (int type : {0, 3, 9, 10, 11}) {  // none, grey, and the run-length types
    Tga other{type, 1, 1};
    other.pixels = {1, 2, 3, 4};
    other.descriptor = 8;
    other.depth = 32;
    EXPECT_FALSE(Tga_(other.File())->ok) << "type " << type;
  }
}

TEST(TgaDecoder, RefusesMalformedFilesWithoutReadingOutsideThem) {
  Tga good{2, 2, 2};
  good.pixels = Bytes(16, 9);
  Bytes file = good.File();
  EXPECT_TRUE(Tga_(file)->ok);
  // Pixel data cut short, and a header cut short.
  EXPECT_FALSE(Tga_(Bytes(file.begin(), file.end() - 1))->ok);
  EXPECT_FALSE(Tga_(Bytes(file.begin(), file.begin() + 17))->ok);
  // Sizes of 0.
  Tga empty{2, 0, 2};
  EXPECT_FALSE(Tga_(empty.File())->ok);
  Tga flat{2, 2, 0};
  EXPECT_FALSE(Tga_(flat.File())->ok);
  // A header asking for 65535 x 65535 pixels of a tiny file.
  Tga huge{2, 65535, 65535};
  EXPECT_FALSE(Tga_(huge.File())->ok);
  // An ID length or colour map that pushes the pixels beyond the end.
  Tga longId{2, 1, 1};
  longId.pixels = {1, 2, 3, 4};
  Bytes lying = longId.File();
  lying[0] = 200;
  EXPECT_FALSE(Tga_(lying)->ok);
}

TEST(TgaDecoder, RefusesIndicesOutsideTheColourMapAndKeysOutsideTheFile) {
  Tga below = MappedTga(1, 1, {{1, 2, 3}});
  below.firstEntry = 5;
  below.pixels = {4};
  EXPECT_FALSE(Tga_(below.File())->ok);
  Tga beyond = MappedTga(2, 1, {{1, 2, 3}, {4, 5, 6}});
  beyond.pixels = {1, 2};
  EXPECT_FALSE(Tga_(beyond.File())->ok);
  Tga noMap{1, 1, 1};
  noMap.pixels = {0};
  EXPECT_FALSE(Tga_(noMap.File())->ok);
  // An extension offset pointing past the end of the file.
  Tga keyed = MappedTga(1, 1, {{1, 2, 3}});
  keyed.pixels = {0};
  keyed.AddFooter(0x7fff0000u);
  EXPECT_FALSE(Tga_(keyed.File())->ok);
}

TEST(ImageDecoders, EachRefusesTheOthersFormat) {
  Pcx p(1, 1);
  p.stream = {1};
  Tga t{2, 1, 1};
  t.pixels = {1, 2, 3, 4};
  EXPECT_FALSE(Tga_(p.File())->ok);
  EXPECT_FALSE(Pcx_(t.File())->ok);
}

}  // namespace
