// pelto-tool list: what an archive holds. Archives store name hashes, not
// names, so each entry is shown by its hash, its packed and unpacked size
// and whether its check word holds (OK or BAD); --names DIR puts a name
// beside every hash that a path under DIR hashes to. The archive is read
// with the engine's own archive code, so an archive the engine would refuse
// is refused here too, with the reason.
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "archive/archive_set.h"
#include "archive/name_hash.h"
#include "tools/commands.h"
#include "tools/convert/tiled_convert.h"
#include "tools/stdlib.h"
#include "tools/tool_files.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] = "usage: pelto-tool list ARCHIVE [--names DIR]\n";

void PrintHelp() {
  std::printf("%s", kUsage);
  std::printf(
      "\nLists the entries of an archive, one line each: the entry's name hash,\n"
      "its packed and unpacked size in bytes, and OK or BAD for its check word\n"
      "(BAD: the entry is damaged and the engine would refuse to load it).\n"
      "Archives keep no names, only their hashes. With --names DIR, every file\n"
      "under DIR is hashed by its path relative to DIR (with '/'), and a\n"
      "matching entry shows that path as its name. The names pelto-tool build\n"
      "gives what it makes are tried too: X.lua also as X.prg, X.xm and X.mod\n"
      "as X.trk, the map files and tileset of each Tiled map, and the files of\n"
      "the standard modules (the font of pelto.text).\n\n"
      "  pelto-tool list build/GAME.DAT --names .\n\n"
      "options:\n"
      "  --names DIR  name the entries from the files under DIR\n"
      "  -h, --help   this text\n\n"
      "Exit code 0 when every entry is OK, 1 when an entry is BAD or the\n"
      "archive cannot be read.\n");
}

bool EndsWith(const std::string& text, const char* suffix) {
  size_t n = std::strlen(suffix);
  return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

// Adds name under its hash unless a name is there already (the walk is in
// sorted order, so the first name in that order is kept).
void AddName(const std::string& name, std::map<uint32_t, std::string>* names) {
  names->emplace(NameHash(name.data(), name.size()), name);
}

// The entries a build makes of a Tiled map (its map files and tileset),
// found by converting it as the build does. A map that does not convert
// names nothing.
void AddConvertedMapNames(const fs::path& base, const std::string& path, std::map<uint32_t, std::string>* names) {
  size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string file = path.substr(folder.size());
  const std::string stem = file.substr(0, file.rfind('.'));
  ReadFileFn readFile = [](const std::string& from, std::vector<uint8_t>* bytes) {
    std::string problem;
    return ReadWholeFile(from, bytes, &problem);
  };
  MapConversion map;
  const std::string mapPath = fs::absolute(base / path).lexically_normal().string();
  if (!ConvertTiledMap(mapPath, stem, folder, readFile, &map)) return;
  for (const ConvertedFile& converted : map.files) {
    if (!EndsWith(converted.name, ".lua")) AddName(folder + converted.name, names);
  }
}

// Every file under folder, by its path relative to folder, plus the names
// pelto-tool build stores compiled scripts and converted music under.
bool CollectNames(const std::string& folder, std::map<uint32_t, std::string>* names, std::string* problem) {
  std::error_code error;
  if (!fs::is_directory(folder, error)) {
    *problem = "--names " + folder + ": not a folder";
    return false;
  }
  std::vector<std::string> paths;
  const fs::path base(folder);
  // Linked folders are not entered: a link back up would never end.
  for (fs::recursive_directory_iterator it(base, fs::directory_options::skip_permission_denied, error), end;
       !error && it != end; it.increment(error)) {
    if (it->is_regular_file(error)) paths.push_back(it->path().lexically_relative(base).generic_string());
  }
  if (error) {
    *problem = "--names " + folder + ": " + error.message();
    return false;
  }
  std::sort(paths.begin(), paths.end());
  for (const std::string& path : paths) AddName(path, names);
  for (const std::string& path : paths) {
    std::string stem = path.substr(0, path.rfind('.'));
    if (EndsWith(path, ".lua")) AddName(stem + ".prg", names);
    if (EndsWith(path, ".xm") || EndsWith(path, ".mod")) AddName(stem + ".trk", names);
    if (EndsWith(path, ".tmx") || EndsWith(path, ".tmj")) AddConvertedMapNames(base, path, names);
  }
  std::string source;
  std::vector<StdlibFile> files;
  if (FindStdlibModule("pelto.text", &source, &files)) {
    for (const StdlibFile& file : files) AddName(file.name, names);
  }
  return true;
}

}  // namespace

int RunListCommand(int argc, char** argv) {
  std::string archivePath, namesFolder;
  bool haveArchive = false, haveNames = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      PrintHelp();
      return 0;
    }
    if (arg == "--names") {
      if (i + 1 >= argc) return UsageError(kUsage, "--names needs a folder");
      if (haveNames) return UsageError(kUsage, "more than one --names");
      namesFolder = argv[++i];
      haveNames = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError(kUsage, "unknown option " + arg);
    } else {
      if (haveArchive) return UsageError(kUsage, "more than one archive");
      archivePath = arg;
      haveArchive = true;
    }
  }
  if (!haveArchive || archivePath.empty()) return UsageError(kUsage, "no archive to list");

  std::map<uint32_t, std::string> names;
  std::string problem;
  if (haveNames && !CollectNames(namesFolder, &names, &problem)) return CommandFailed(problem);

  ArchiveContents contents;
  const char* reason = "";
  errno = 0;
  MountStatus status = ReadArchiveContents(archivePath.c_str(), &contents, &reason);
  if (status == MountStatus::CannotAccess) {
    return CommandFailed("cannot read " + archivePath + ": " + (errno ? std::strerror(errno) : "not a regular file"));
  }
  if (status == MountStatus::OutOfMemory) return CommandFailed(archivePath + ": out of memory");
  if (status != MountStatus::Ok) return CommandFailed(archivePath + ": not a usable archive: " + reason);

  std::printf("%-8s  %10s  %10s  %-5s  %s\n", "hash", "packed", "unpacked", "check", "name");
  size_t bad = 0;
  uint64_t totalPacked = 0, totalUnpacked = 0;
  for (const ArchiveEntryRecord& entry : contents.entries) {
    AssetBuffer buffer{0, nullptr};
    EntryBlockHeader header{0, 0};
    LoadStatus load = LoadArchiveBlock(archivePath.c_str(), entry.entryOffset, &buffer, &header);
    std::free(buffer.data);
    if (load == LoadStatus::Missing) return CommandFailed("cannot read " + archivePath + ": it went away");
    // An entry too large to unpack here is not known to be damaged.
    const char* check = load == LoadStatus::Ok ? "OK" : load == LoadStatus::OutOfMemory ? "?" : "BAD";
    if (load == LoadStatus::Corrupt) ++bad;
    totalPacked += header.blockSize;
    totalUnpacked += header.unpackedSize;
    auto name = names.find(entry.nameHash);
    std::printf("%08" PRIx32 "  %10" PRIu32 "  %10" PRIu32 "  %s", entry.nameHash, header.blockSize,
                header.unpackedSize, check);
    if (name != names.end()) std::printf("%*s%s", int(7 - std::strlen(check)), "", name->second.c_str());
    std::printf("\n");
  }
  std::printf("%zu entries, %" PRIu64 " -> %" PRIu64 " bytes, priority %d", contents.entries.size(), totalUnpacked,
              totalPacked, contents.priority);
  if (bad) std::printf(", %zu BAD", bad);
  std::printf("\n");
  if (bad) return CommandFailed(archivePath + ": " + std::to_string(bad) + (bad == 1 ? " entry is" : " entries are") +
                         " damaged (BAD)");
  return 0;
}
