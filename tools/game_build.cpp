// pelto-tool build: a game folder -> DATA_DIR/GAME.DAT.
//
// Every *.lua file is a module, compiled on its own and bundled into
// boot.prg; .xm/.mod music and .tmx/.tmj maps go through their converters;
// every other file is packed as is. Compiled modules, conversions and packed
// entry blocks are kept in DATA_DIR/.cache under a hash of what they were
// made from, so a rebuild redoes only the work whose inputs changed.
// Nothing is written unless the whole build succeeds, and then the archive
// replaces the old one in one rename.
#include "tools/game_build.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "archive/name_hash.h"
#include "archive/pack.h"
#include "host/chunk_translate.h"
#include "tools/convert/tiled_convert.h"
#include "tools/convert/tracker_convert.h"
#include "tools/lua_bundle.h"
#include "tools/stdlib.h"
#include "tools/tool_files.h"

namespace fs = std::filesystem;

namespace {

// Bumped whenever what a cache file holds changes meaning, so that an older
// tool's cache is never taken for this one's.
constexpr char kCacheVersion[] = "pelto-build-cache-1";

uint64_t KeyOf(const std::string& kind, const std::string& salt, const std::vector<uint8_t>& bytes) {
  uint64_t hash = ContentHash(kCacheVersion, sizeof kCacheVersion);
  hash = ContentHash(kind.data(), kind.size() + 0, hash);
  hash = ContentHash(salt.data(), salt.size(), hash ^ 0xff);
  return ContentHash(bytes.data(), bytes.size(), hash ^ 0x55);
}

// Byte records for the cache: lengths and strings, little-endian.
class Writer {
 public:
  void U64(uint64_t value) {
    for (int i = 0; i < 8; ++i) bytes.push_back(uint8_t(value >> (8 * i)));
  }
  void Bytes(const void* data, size_t size) {
    U64(size);
    const uint8_t* first = static_cast<const uint8_t*>(data);
    bytes.insert(bytes.end(), first, first + size);
  }
  void Text(const std::string& text) { Bytes(text.data(), text.size()); }
  std::vector<uint8_t> bytes;
};

class Reader {
 public:
  explicit Reader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  bool U64(uint64_t* value) {
    if (bytes_.size() - pos_ < 8) return false;
    *value = 0;
    for (int i = 0; i < 8; ++i) *value |= uint64_t(bytes_[pos_ + size_t(i)]) << (8 * i);
    pos_ += 8;
    return true;
  }
  bool Bytes(std::vector<uint8_t>* out) {
    uint64_t size = 0;
    if (!U64(&size) || size > bytes_.size() - pos_) return false;
    out->assign(bytes_.begin() + long(pos_), bytes_.begin() + long(pos_ + size));
    pos_ += size_t(size);
    return true;
  }
  bool Text(std::string* out) {
    std::vector<uint8_t> raw;
    if (!Bytes(&raw)) return false;
    out->assign(raw.begin(), raw.end());
    return true;
  }
  bool AtEnd() const { return pos_ == bytes_.size(); }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t pos_ = 0;
};

// One file per item, "KIND-KEY", its content followed by its own hash so a
// damaged file is a miss, not a wrong build. Files no build used are pruned.
class BuildCache {
 public:
  explicit BuildCache(fs::path folder) : folder_(std::move(folder)) {}

  bool Get(const std::string& kind, uint64_t key, std::vector<uint8_t>* bytes) {
    std::string problem;
    std::string name = FileName(kind, key);
    if (!ReadWholeFile((folder_ / name).string(), bytes, &problem) || bytes->size() < 8) return false;
    uint64_t stored = 0;
    for (int i = 0; i < 8; ++i) stored |= uint64_t((*bytes)[bytes->size() - 8 + size_t(i)]) << (8 * i);
    bytes->resize(bytes->size() - 8);
    if (stored != ContentHash(bytes->data(), bytes->size())) return false;
    used_.insert(name);
    return true;
  }

  // A cache that cannot be written only costs the next build time.
  void Put(const std::string& kind, uint64_t key, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> stored = bytes;
    uint64_t hash = ContentHash(bytes.data(), bytes.size());
    for (int i = 0; i < 8; ++i) stored.push_back(uint8_t(hash >> (8 * i)));
    std::string name = FileName(kind, key), problem;
    if (WriteFileReplacing((folder_ / name).string(), stored, &problem)) used_.insert(name);
  }

  void Prune() {
    std::error_code error;
    std::vector<fs::path> stale;
    for (fs::directory_iterator it(folder_, error), end; !error && it != end; it.increment(error)) {
      if (!used_.count(it->path().filename().string())) stale.push_back(it->path());
    }
    for (const fs::path& path : stale) fs::remove(path, error);
  }

 private:
  static std::string FileName(const std::string& kind, uint64_t key) {
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(key));
    return kind + "-" + hex;
  }

  fs::path folder_;
  std::set<std::string> used_;
};

struct SourceFile {
  std::string name;  // relative to the game folder, '/' between folders
  fs::path path;
};

bool IsHidden(const fs::path& path) {
  std::string name = path.filename().string();
  return !name.empty() && name[0] == '.';
}

// The game's files in sorted order, hidden files and folders and the output
// folders left out. Linked folders are not entered: a link back up would
// never end.
bool ScanFolder(const fs::path& folder, const std::string& prefix, const std::vector<fs::path>& skip,
                std::vector<SourceFile>* files, std::string* problem) {
  std::error_code error;
  std::vector<fs::path> children;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (!IsHidden(it->path())) children.push_back(it->path());
  }
  if (error) {
    *problem = "cannot read folder " + folder.string() + ": " + error.message();
    return false;
  }
  std::sort(children.begin(), children.end());
  for (const fs::path& child : children) {
    std::string name = prefix + child.filename().string();
    fs::file_status status = fs::status(child, error);
    if (fs::is_directory(status)) {
      if (fs::is_symlink(fs::symlink_status(child, error))) continue;
      if (std::any_of(skip.begin(), skip.end(), [&](const fs::path& s) { return fs::equivalent(child, s, error); }))
        continue;
      if (!ScanFolder(child, name + "/", skip, files, problem)) return false;
    } else if (fs::is_regular_file(status)) {
      files->push_back({name, child});
    }
    // Sockets, pipes and broken links are nothing a game can load.
  }
  return true;
}

bool HasExtension(const std::string& name, const char* extension) {
  std::string lower = fs::path(name).extension().string();
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return lower == extension;
}

std::string FolderOf(const std::string& name) {
  size_t slash = name.rfind('/');
  return slash == std::string::npos ? "" : name.substr(0, slash + 1);
}

std::string StemOf(const std::string& name) { return fs::path(name).stem().string(); }

// A converter's output, as kept in the cache.
struct Conversion {
  std::vector<StdlibFile> files;  // entry names relative to the game folder
  std::vector<std::string> warnings;
  std::string error;
  std::vector<std::pair<std::string, uint64_t>> inputs;  // other files it read, with their content hashes
};

std::vector<uint8_t> SaveConversion(const Conversion& conversion) {
  Writer out;
  out.U64(conversion.files.size());
  for (const StdlibFile& file : conversion.files) {
    out.Text(file.name);
    out.Bytes(file.bytes.data(), file.bytes.size());
  }
  out.U64(conversion.warnings.size());
  for (const std::string& warning : conversion.warnings) out.Text(warning);
  out.U64(conversion.inputs.size());
  for (const auto& [path, hash] : conversion.inputs) {
    out.Text(path);
    out.U64(hash);
  }
  return out.bytes;
}

bool LoadConversion(const std::vector<uint8_t>& bytes, Conversion* conversion) {
  Reader in(bytes);
  uint64_t count = 0;
  if (!in.U64(&count) || count > bytes.size()) return false;
  conversion->files.resize(size_t(count));
  for (StdlibFile& file : conversion->files) {
    if (!in.Text(&file.name) || !in.Bytes(&file.bytes)) return false;
  }
  if (!in.U64(&count) || count > bytes.size()) return false;
  conversion->warnings.resize(size_t(count));
  for (std::string& warning : conversion->warnings) {
    if (!in.Text(&warning)) return false;
  }
  if (!in.U64(&count) || count > bytes.size()) return false;
  conversion->inputs.resize(size_t(count));
  for (auto& [path, hash] : conversion->inputs) {
    if (!in.Text(&path) || !in.U64(&hash)) return false;
  }
  return in.AtEnd();
}

// The converters for music and maps. Each gets the source's bytes and its
// name in the game folder; output names are relative to the game folder, in
// the source's own folder.
bool ConvertSource(const SourceFile& source, const std::vector<uint8_t>& bytes, Conversion* conversion) {
  const std::string folder = FolderOf(source.name), stem = StemOf(source.name);
  if (HasExtension(source.name, ".xm") || HasExtension(source.name, ".mod")) {
    TrackerConversion music;
    bool ok = HasExtension(source.name, ".xm") ? ConvertXmToTrk(bytes.data(), bytes.size(), &music)
                                               : ConvertModToTrk(bytes.data(), bytes.size(), &music);
    conversion->warnings = music.warnings;
    if (!ok) {
      conversion->error = music.error;
      return false;
    }
    conversion->files.push_back({folder + stem + ".trk", std::move(music.trk)});
    return true;
  }
  // A map reads the tilesets and images it names: each is recorded with its
  // hash, so that the cached conversion is redone when one of them changes.
  const std::string mapPath = fs::absolute(source.path).lexically_normal().string();
  ReadFileFn readFile = [&](const std::string& path, std::vector<uint8_t>* out) {
    if (path == mapPath) {
      *out = bytes;
      return true;
    }
    std::string problem;
    if (!ReadWholeFile(path, out, &problem)) return false;
    conversion->inputs.emplace_back(path, ContentHash(out->data(), out->size()));
    return true;
  };
  MapConversion map;
  bool ok = ConvertTiledMap(mapPath, stem, folder, readFile, &map);
  conversion->warnings = map.warnings;
  if (!ok) {
    conversion->error = map.error;
    return false;
  }
  for (ConvertedFile& file : map.files) conversion->files.push_back({folder + file.name, std::move(file.bytes)});
  return true;
}

bool IsConvertedKind(const std::string& name) {
  return HasExtension(name, ".xm") || HasExtension(name, ".mod") || HasExtension(name, ".tmx") ||
         HasExtension(name, ".tmj");
}

struct Module {
  std::string name;      // "lib.vec"
  std::string fileName;  // "lib/vec.lua", as errors name it
  std::vector<uint8_t> dump;
  std::vector<RequireSite> requires;
};

struct Entry {
  std::string name;
  std::string origin;  // the source it came from, for messages
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> block;
};

class GameBuilder {
 public:
  GameBuilder(const GameBuildOptions& options, GameBuildReport* report) : options_(options), report_(report) {}

  GameBuildStatus Run();

 private:
  void Line(const char* verb, const std::string& what) {
    char head[16];
    std::snprintf(head, sizeof head, "%-10s", verb);
    std::string line = head + what;
    report_->lines.push_back(line);
    if (report_->onLine) report_->onLine(line);
  }
  void Warning(const std::string& text) {
    report_->warnings.push_back(text);
    if (report_->onWarning) report_->onWarning(text);
  }
  GameBuildStatus Fail(const std::string& error) {
    report_->errors.push_back(error);
    return GameBuildStatus::Failed;
  }

  bool AddModule(const std::string& fileName, const std::string& source, const std::string& origin);
  bool Convert(const SourceFile& file, const std::vector<uint8_t>& bytes);
  bool AddEntry(const std::string& name, const std::string& origin, std::vector<uint8_t> bytes);
  bool ResolveRequires();
  void Pack(Entry* entry);

  GameBuildOptions options_;
  GameBuildReport* report_;
  BuildCache* cache_ = nullptr;
  std::map<std::string, Module> modules_;           // by module name
  std::map<std::string, size_t> entryIndex_;        // by entry name
  std::vector<Entry> entries_;
};

bool GameBuilder::AddModule(const std::string& fileName, const std::string& source, const std::string& origin) {
  Module module;
  module.name = ModuleNameOfPath(fileName);
  module.fileName = fileName;
  auto existing = modules_.find(module.name);
  if (existing != modules_.end()) {
    report_->errors.push_back(origin + " and " + existing->second.fileName + " are both module '" + module.name + "'");
    return false;
  }
  // "@name" makes messages read "lib/vec.lua:12: ...".
  const std::string chunkName = "@" + fileName;
  std::vector<uint8_t> sourceBytes(source.begin(), source.end());
  const uint64_t key = KeyOf("lua", chunkName, sourceBytes);
  if (cache_->Get("lua", key, &module.dump) && FindRequires(module.dump, &module.requires)) {
    Line("reused", origin);
    ++report_->reused;
  } else {
    std::string message;
    module.requires.clear();
    if (!CompileLuaModule(source, chunkName, &module.dump, &message)) {
      report_->errors.push_back(message);
      return false;
    }
    if (!FindRequires(module.dump, &module.requires)) {
      report_->errors.push_back(fileName + ": internal error: cannot read its compiled form");
      return false;
    }
    cache_->Put("lua", key, module.dump);
    Line("compiled", origin);
    ++report_->compiled;
  }
  modules_[module.name] = std::move(module);
  return true;
}

bool GameBuilder::AddEntry(const std::string& name, const std::string& origin, std::vector<uint8_t> bytes) {
  auto existing = entryIndex_.find(name);
  if (existing != entryIndex_.end()) {
    report_->errors.push_back("entry " + name + " comes from both " + entries_[existing->second].origin + " and " +
                              origin);
    return false;
  }
  if (bytes.empty()) {
    // An archive entry holds at least one byte; an empty placeholder is no
    // reason to stop the build.
    Warning(origin + ": empty, not packed");
    return true;
  }
  if (bytes.size() > 0x7fffffffu) {
    report_->errors.push_back(origin + ": larger than 2 GiB");
    return false;
  }
  entryIndex_[name] = entries_.size();
  entries_.push_back({name, origin, std::move(bytes), {}});
  return true;
}

bool GameBuilder::Convert(const SourceFile& file, const std::vector<uint8_t>& bytes) {
  const uint64_t key = KeyOf("convert", file.name, bytes);
  Conversion conversion;
  std::vector<uint8_t> cached;
  bool reused = cache_->Get("convert", key, &cached) && LoadConversion(cached, &conversion);
  // A map's result also depends on the tilesets and images it names.
  for (size_t i = 0; reused && i < conversion.inputs.size(); ++i) {
    std::vector<uint8_t> input;
    std::string problem;
    reused = ReadWholeFile(conversion.inputs[i].first, &input, &problem) &&
             ContentHash(input.data(), input.size()) == conversion.inputs[i].second;
  }
  if (!reused) {
    conversion = Conversion();
    if (!ConvertSource(file, bytes, &conversion)) {
      report_->errors.push_back(file.name + ": " + conversion.error);
      return false;
    }
    cache_->Put("convert", key, SaveConversion(conversion));
    ++report_->converted;
  } else {
    ++report_->reused;
  }
  std::string outputs;
  for (const StdlibFile& output : conversion.files) outputs += (outputs.empty() ? "" : ", ") + output.name;
  Line(reused ? "reused" : "converted", file.name + " -> " + outputs);
  for (const std::string& warning : conversion.warnings) Warning(file.name + ": " + warning);
  bool ok = true;
  for (StdlibFile& output : conversion.files) {
    if (HasExtension(output.name, ".lua")) {
      // A map's description becomes a module: require("maps.level").
      ok = AddModule(output.name, std::string(output.bytes.begin(), output.bytes.end()), output.name) && ok;
    } else {
      ok = AddEntry(output.name, file.name, std::move(output.bytes)) && ok;
    }
  }
  return ok;
}

// Every literal require names a module of the game, a library the engine
// opens, or a standard module (added here with its files, and its own
// requires checked in turn).
bool GameBuilder::ResolveRequires() {
  static const std::set<std::string> kOpenLibraries = {"_G", "string", "table", "math", "coroutine"};
  bool ok = true;
  std::set<std::string> checked;
  bool added = true;
  while (added) {
    added = false;
    std::vector<std::string> names;
    for (const auto& [name, module] : modules_) names.push_back(name);
    for (const std::string& name : names) {
      if (checked.count(name)) continue;
      checked.insert(name);
      for (const RequireSite& site : modules_[name].requires) {
        if (modules_.count(site.name) || kOpenLibraries.count(site.name)) continue;
        std::string source;
        if (FindStdlibModule(site.name, &source, nullptr)) {
          std::string fileName = site.name;
          std::replace(fileName.begin(), fileName.end(), '.', '/');
          fileName += ".lua";
          if (!AddModule(fileName, source, fileName + " (standard module)")) return false;
          // Making the font images costs more than a whole unchanged
          // rebuild, so they are cached like conversions.
          Conversion made;
          std::vector<uint8_t> cached, sourceBytes(source.begin(), source.end());
          const uint64_t key = KeyOf("stdlib", site.name, sourceBytes);
          if (!cache_->Get("stdlib", key, &cached) || !LoadConversion(cached, &made)) {
            made = Conversion();
            FindStdlibModule(site.name, &source, &made.files);
            cache_->Put("stdlib", key, SaveConversion(made));
          }
          for (StdlibFile& file : made.files) {
            if (!AddEntry(file.name, site.name, std::move(file.bytes))) return false;
          }
          added = true;
          continue;
        }
        report_->errors.push_back(modules_[name].fileName + ":" + std::to_string(site.line) + ": module '" +
                                  site.name + "' not found");
        ok = false;
      }
    }
  }
  return ok;
}

void GameBuilder::Pack(Entry* entry) {
  const uint64_t key = KeyOf("pack", "", entry->bytes);
  char sizes[64];
  if (cache_->Get("pack", key, &entry->block)) {
    std::snprintf(sizes, sizeof sizes, " (%zu -> %zu)", entry->bytes.size(), entry->block.size());
    Line("reused", entry->name + sizes);
    ++report_->reused;
    return;
  }
  entry->block = PackEntry(entry->bytes.data(), entry->bytes.size());
  cache_->Put("pack", key, entry->block);
  std::snprintf(sizes, sizeof sizes, " (%zu -> %zu)", entry->bytes.size(), entry->block.size());
  Line("packed", entry->name + sizes);
  ++report_->packed;
}

GameBuildStatus GameBuilder::Run() {
  std::error_code error;
  if (options_.gameDir.empty()) options_.gameDir = ".";
  const fs::path gameDir = options_.gameDir;
  if (!fs::is_directory(gameDir, error)) return Fail(options_.gameDir + " is not a folder");
  // GAME_DIR/build is left out even when -o names another folder: it holds
  // the default build's archive, which is no asset of the game.
  const fs::path defaultDataDir = (gameDir / "build").lexically_normal();
  if (options_.dataDir.empty()) options_.dataDir = defaultDataDir.string();
  const fs::path dataDir = fs::path(options_.dataDir).lexically_normal();
  report_->archivePath = (dataDir / "GAME.DAT").string();
  if (!fs::is_regular_file(gameDir / "boot.lua", error)) {
    return Fail("no boot.lua in " + options_.gameDir + ": it is where the game starts");
  }

  std::vector<SourceFile> files;
  std::string problem;
  if (!ScanFolder(gameDir, "", {dataDir, defaultDataDir}, &files, &problem)) return Fail(problem);

  BuildCache cache(dataDir / ".cache");
  cache_ = &cache;

  // Modules and converted assets first: a map's description is a module.
  bool ok = true;
  std::vector<std::pair<const SourceFile*, std::vector<uint8_t>>> plain;
  for (const SourceFile& file : files) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(file.path.string(), &bytes, &problem)) return Fail(problem);
    if (HasExtension(file.name, ".lua")) {
      ok = AddModule(file.name, std::string(bytes.begin(), bytes.end()), file.name) && ok;
    } else if (IsConvertedKind(file.name)) {
      ok = Convert(file, bytes) && ok;
    } else {
      plain.emplace_back(&file, std::move(bytes));
    }
  }
  if (!ok) return GameBuildStatus::Failed;
  if (!ResolveRequires()) return GameBuildStatus::Failed;

  // boot.prg: every module in one chunk, in the engine's form.
  std::vector<BundleModule> bundleModules;
  for (auto& [name, module] : modules_) bundleModules.push_back({name, module.dump});
  std::vector<uint8_t> bundle, chunk;
  if (!BundleModules(bundleModules, "boot", &bundle, &problem)) return Fail(problem);
  ChunkError chunkError = TranslateStandardChunk(bundle.data(), bundle.size(), &chunk);
  if (chunkError != ChunkError::None) {
    return Fail(std::string("cannot translate the bundled modules (") + ChunkErrorReason(chunkError) + ")");
  }
  if (!AddEntry("boot.prg", "the modules", std::move(chunk))) return GameBuildStatus::Failed;
  for (auto& [file, bytes] : plain) {
    if (!AddEntry(file->name, file->name, std::move(bytes))) ok = false;
  }
  if (!ok) return GameBuildStatus::Failed;

  // Only one of two names with one hash could ever be found.
  std::map<uint32_t, const Entry*> byHash;
  for (const Entry& entry : entries_) {
    auto [it, added] = byHash.emplace(NameHash(entry.name.data(), entry.name.size()), &entry);
    if (!added) {
      return Fail("entries " + it->second->name + " and " + entry.name + " have the same name hash; rename one of them");
    }
  }

  std::vector<ArchiveBlock> blocks;
  for (Entry& entry : entries_) {
    Pack(&entry);
    blocks.push_back({NameHash(entry.name.data(), entry.name.size()), &entry.block});
    report_->unpackedBytes += entry.bytes.size();
    report_->packedBytes += entry.block.size();
  }
  std::vector<uint8_t> archive;
  if (!AssembleArchive(blocks, 0, &archive)) {
    return Fail("the archive would pass 4 GiB, which its 32-bit offsets cannot address");
  }
  if (!WriteFileReplacing(report_->archivePath, archive, &problem)) return Fail(problem);
  report_->entries = entries_.size();
  report_->archiveBytes = archive.size();
  cache.Prune();
  return GameBuildStatus::Built;
}

}  // namespace

GameBuildStatus BuildGame(const GameBuildOptions& options, GameBuildReport* report) {
  GameBuilder builder(options, report);
  return builder.Run();
}

std::string GameBuildSummary(const GameBuildReport& report) {
  double ratio = report.unpackedBytes ? 100.0 * double(report.packedBytes) / double(report.unpackedBytes) : 0.0;
  char line[512];
  std::snprintf(line, sizeof line, "%zu entries, %llu -> %llu bytes (%.1f%%), %s (%llu bytes)", report.entries,
                (unsigned long long)report.unpackedBytes, (unsigned long long)report.packedBytes, ratio,
                report.archivePath.c_str(), (unsigned long long)report.archiveBytes);
  return line;
}
