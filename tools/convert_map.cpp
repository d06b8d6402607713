// pelto-tool convert MAP.tmx|MAP.tmj -o DIR: reads the map and the files it
// names, lets the Tiled converter do the work, prints its warnings and
// writes the results. Every output goes to a temporary file first and is
// renamed into place only once all of them are written, so a failed run
// leaves DIR as it was.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "tools/file_replace.h"
#include "tools/commands.h"
#include "tools/convert/tiled_convert.h"

namespace fs = std::filesystem;

namespace {

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// The input's file name without its folder and its last extension.
std::string StemOf(const std::string& path) {
  std::string name = fs::path(path).filename().string();
  size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

int Failed(const char* file, const std::string& message) {
  std::fprintf(stderr, "error: %s: %s\n", file, message.c_str());
  return 1;
}

}  // namespace

int RunConvertMap(const char* inputPath, const char* outDir, bool strict) {
  MapConversion result;
  const bool ok = ConvertTiledMap(inputPath, StemOf(inputPath), "", ReadWholeFile, &result);
  // Under --strict every warning is an error and nothing is written.
  for (const std::string& warning : result.warnings) {
    std::fprintf(stderr, "%s: %s: %s\n", strict ? "error" : "warning", inputPath, warning.c_str());
  }
  if (!ok) return Failed(inputPath, result.error);
  if (strict && !result.warnings.empty()) return 1;

  std::error_code ec;
  fs::create_directories(outDir, ec);
  if (ec || !fs::is_directory(outDir, ec)) return Failed(outDir, "cannot create the folder");
  std::vector<std::pair<fs::path, fs::path>> written;  // temporary -> final
  auto removeTemporaries = [&] {
    for (const auto& w : written) fs::remove(w.first, ec);
  };
  for (const ConvertedFile& file : result.files) {
    fs::path final = fs::path(outDir) / file.name;
    fs::path temporary = final;
    temporary += ".tmp";
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    written.emplace_back(temporary, final);
    out.write(reinterpret_cast<const char*>(file.bytes.data()), static_cast<std::streamsize>(file.bytes.size()));
    out.close();
    if (!out) {
      removeTemporaries();
      return Failed(final.string().c_str(), "cannot write the file");
    }
  }
  for (const auto& w : written) {
    // RenameOver: Windows' plain rename refuses to replace a file.
    if (RenameOver(w.first.string().c_str(), w.second.string().c_str()) != 0) {
      ec = std::error_code(errno, std::generic_category());
      removeTemporaries();
      return Failed(w.second.string().c_str(), "cannot write the file (" + ec.message() + ")");
    }
  }
  return 0;
}
