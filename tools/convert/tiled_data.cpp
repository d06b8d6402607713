// Tile layer data as Tiled stores it (CSV, base64, base64 with zlib, gzip or
// zstd), colours and paths: the pieces both map readers share. Every decoder
// is bounded by the cell count the layer declares, so a small hostile file
// cannot ask for more memory than its own header admits.
#include <zlib.h>
#include <zstd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/convert/tiled_model.h"

std::string TiledDirectory(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// "a/./b/../c" -> "a/c": the reader gets one spelling of each file, whatever
// way the map names it. Leading ".." that cannot be undone stay.
static std::string Normalize(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  const bool absolute = !path.empty() && path[0] == '/';
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") parts.pop_back();
      else if (!absolute) parts.push_back(part);
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string out = absolute ? "/" : "";
  for (size_t i = 0; i < parts.size(); ++i) out += (i ? "/" : "") + parts[i];
  return out;
}

std::string TiledResolve(const std::string& fromFile, const std::string& source) {
  if (source.size() > 1 && source[1] == ':') return source;  // a Windows drive letter
  if (!source.empty() && (source[0] == '/' || source[0] == '\\')) return Normalize(source);
  return Normalize(TiledDirectory(fromFile) + source);
}

namespace {

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

// Strict base64: whitespace between characters is allowed (Tiled indents the
// text), anything else outside the alphabet, or padding in the middle, is not.
bool DecodeTiledBase64(const std::string& text, std::vector<uint8_t>* out, std::string* error) {
  out->clear();
  out->reserve(text.size() / 4 * 3);
  uint32_t bits = 0;
  int count = 0, padding = 0;
  for (char c : text) {
    if (c == ' ' || c == '\n' || c == '\r' || c == '\t') continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    int v = Base64Value(c);
    if (v < 0 || padding > 0) {
      *error = "not valid base64";
      return false;
    }
    bits = bits << 6 | static_cast<uint32_t>(v);
    if (++count == 4) {
      out->push_back(static_cast<uint8_t>(bits >> 16));
      out->push_back(static_cast<uint8_t>(bits >> 8));
      out->push_back(static_cast<uint8_t>(bits));
      bits = 0;
      count = 0;
    }
  }
  if (count == 1 || padding > 2 || (padding > 0 && (count + padding) % 4 != 0)) {
    *error = "not valid base64";
    return false;
  }
  if (count == 2) out->push_back(static_cast<uint8_t>(bits >> 4));
  if (count == 3) {
    out->push_back(static_cast<uint8_t>(bits >> 10));
    out->push_back(static_cast<uint8_t>(bits >> 2));
  }
  return true;
}

namespace {

// zlib or gzip stream into exactly `size` bytes; a longer or shorter stream,
// or a damaged one, is refused.
bool Inflate(const std::vector<uint8_t>& in, bool gzip, size_t size, std::vector<uint8_t>* out,
             std::string* error) {
  out->assign(size, 0);
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (inflateInit2(&z, gzip ? 16 + MAX_WBITS : MAX_WBITS) != Z_OK) {
    *error = "out of memory";
    return false;
  }
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  uint8_t spare;  // one byte past the end tells a stream that is too long
  z.next_out = size ? out->data() : &spare;
  z.avail_out = size ? static_cast<uInt>(size) : 1;
  int status = inflate(&z, Z_FINISH);
  if (status == Z_BUF_ERROR && z.avail_out == 0 && size) {
    z.next_out = &spare;
    z.avail_out = 1;
    status = inflate(&z, Z_FINISH);
    if (status != Z_BUF_ERROR || z.avail_out == 0) status = Z_DATA_ERROR;
  }
  bool ok = status == Z_STREAM_END && z.total_out == size;
  inflateEnd(&z);
  if (!ok) {
    *error = std::string("layer data: the ") + (gzip ? "gzip" : "zlib") + " stream is damaged or holds " +
             "another number of cells than the layer";
    return false;
  }
  return true;
}

bool Unzstd(const std::vector<uint8_t>& in, size_t size, std::vector<uint8_t>* out, std::string* error) {
  out->assign(size + 1, 0);  // one byte more tells a frame that is too long
  ZSTD_DCtx* ctx = ZSTD_createDCtx();
  if (!ctx) {
    *error = "out of memory";
    return false;
  }
  ZSTD_inBuffer input = {in.data(), in.size(), 0};
  ZSTD_outBuffer output = {out->data(), out->size(), 0};
  bool ok = false;
  for (;;) {
    size_t result = ZSTD_decompressStream(ctx, &output, &input);
    if (ZSTD_isError(result)) break;
    if (result == 0) {  // a frame ended
      ok = input.pos == input.size;
      break;
    }
    if (input.pos == input.size && output.pos < output.size) break;  // truncated
    if (output.pos == output.size) break;                             // too long
  }
  ZSTD_freeDCtx(ctx);
  if (!ok || output.pos != size) {
    *error = "layer data: the zstd stream is damaged or holds another number of cells than the layer";
    return false;
  }
  out->resize(size);
  return true;
}

}  // namespace

bool DecodeTiledBase64Data(const std::string& text, const std::string& compression, int64_t count,
                           std::vector<uint32_t>* gids, std::string* error) {
  std::vector<uint8_t> packed, raw;
  if (!DecodeTiledBase64(text, &packed, error)) {
    *error = "layer data: " + *error;
    return false;
  }
  const size_t size = static_cast<size_t>(count) * 4;
  if (compression.empty()) {
    raw.swap(packed);
  } else if (compression == "zlib" || compression == "gzip") {
    if (!Inflate(packed, compression == "gzip", size, &raw, error)) return false;
  } else if (compression == "zstd") {
    if (!Unzstd(packed, size, &raw, error)) return false;
  } else {
    *error = "layer data: unknown compression \"" + compression + "\"";
    return false;
  }
  if (raw.size() != size) {
    *error = "layer data holds " + std::to_string(raw.size() / 4) + " cells, not " + std::to_string(count);
    return false;
  }
  gids->resize(static_cast<size_t>(count));
  for (size_t i = 0; i < gids->size(); ++i) {
    const uint8_t* p = raw.data() + 4 * i;
    (*gids)[i] = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  }
  return true;
}

bool DecodeTiledCsv(const std::string& text, int64_t count, std::vector<uint32_t>* gids, std::string* error) {
  gids->clear();
  gids->reserve(static_cast<size_t>(count));
  size_t i = 0, n = text.size();
  auto skipSpace = [&] {
    while (i < n && (text[i] == ' ' || text[i] == '\n' || text[i] == '\r' || text[i] == '\t')) ++i;
  };
  skipSpace();
  while (i < n) {
    if (text[i] < '0' || text[i] > '9') {
      *error = "layer data: CSV holds something other than tile numbers";
      return false;
    }
    uint64_t value = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9') {
      value = value * 10 + static_cast<uint64_t>(text[i++] - '0');
      if (value > 0xffffffffu) {
        *error = "layer data: a CSV tile number is larger than 32 bits";
        return false;
      }
    }
    if (static_cast<int64_t>(gids->size()) >= count) {
      *error = "layer data holds more than " + std::to_string(count) + " cells";
      return false;
    }
    gids->push_back(static_cast<uint32_t>(value));
    skipSpace();
    if (i < n && text[i] == ',') {
      ++i;
      skipSpace();
    } else if (i < n) {
      *error = "layer data: CSV holds something other than tile numbers";
      return false;
    }
  }
  if (static_cast<int64_t>(gids->size()) != count) {
    *error = "layer data holds " + std::to_string(gids->size()) + " cells, not " + std::to_string(count);
    return false;
  }
  return true;
}

bool ParseTiledColor(const std::string& text, uint32_t* argb) {
  std::string hex = !text.empty() && text[0] == '#' ? text.substr(1) : text;
  if (hex.size() != 6 && hex.size() != 8) return false;
  uint32_t value = 0;
  for (char c : hex) {
    int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (digit < 0) return false;
    value = value << 4 | static_cast<uint32_t>(digit);
  }
  *argb = hex.size() == 6 ? 0xff000000u | value : value;
  return true;
}

std::string TiledColorString(uint32_t argb) {
  char text[16];
  std::snprintf(text, sizeof text, "#%08x", argb);
  return text;
}

bool ParseTiledInt(const std::string& text, int64_t* value) {
  if (text.empty() || text.size() > 18) return false;
  size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  *value = text[0] == '-' ? -v : v;
  return true;
}

bool ParseTiledNumber(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(v)) return false;
  *value = v;
  return true;
}
