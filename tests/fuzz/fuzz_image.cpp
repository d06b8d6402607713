// Image targets: the tileset decoders, and PNG's straight-RGBA path of the
// tool, whose output must survive the tool's encoder unchanged.
#include <cstring>
#include <vector>

#include "tests/fuzz/fuzz_targets.h"
#include "video/pcx.h"
#include "video/png.h"
#include "video/tga.h"

namespace {

int DecodeWith(bool (*decode)(DecodedImage*, const uint8_t*, size_t), const uint8_t* data, size_t size) {
  DecodedImage image = {0, 0, nullptr};
  if (!decode(&image, data, size)) {
    FuzzCheck(image.pixels == nullptr, "a refused image is left untouched");
    return 0;
  }
  FuzzCheck(image.pixels != nullptr && image.width > 0 && image.height > 0, "a decoded image has pixels");
  FuzzTouch(image.pixels, size_t(image.width) * image.height * 4);
  FreeDecodedImage(&image);
  return 0;
}

}  // namespace

int FuzzPcx(const uint8_t* data, size_t size) { return DecodeWith(DecodePcx, data, size); }
int FuzzTga(const uint8_t* data, size_t size) { return DecodeWith(DecodeTga, data, size); }

int FuzzPng(const uint8_t* data, size_t size) {
  DecodeWith(DecodePng, data, size);
  RgbaImage image;
  if (!DecodePngRgba(&image, data, size)) return 0;
  FuzzCheck(image.pixels.size() == size_t(image.width) * image.height * 4, "RGBA pixels fill the image");
  if (image.pixels.size() > (1u << 20)) return 0;  // re-encoding big images only slows the search
  std::vector<uint8_t> encoded;
  FuzzCheck(EncodePngRgba(image, &encoded), "a decoded image encodes");
  RgbaImage again;
  FuzzCheck(DecodePngRgba(&again, encoded.data(), encoded.size()), "an encoded image decodes");
  FuzzCheck(again.width == image.width && again.height == image.height && again.pixels == image.pixels,
            "encoding keeps every pixel");
  return 0;
}
