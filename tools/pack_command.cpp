// pelto-tool pack: files and folders -> one *.DAT archive for the engine.
// Entry names are the files' paths relative to the -C folder with '/'
// between folders, exactly the strings a script passes to the engine's
// loaders. Everything is read and packed before anything is written; the
// archive then replaces OUT in one rename, so a failed run leaves no
// partial archive behind and an older archive untouched.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "archive/name_hash.h"
#include "archive/pack.h"
#include "archive/unpack.h"
#include "tools/commands.h"
#include "tools/tool_files.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] = "usage: pelto-tool pack -o OUT.DAT [--priority N] [-C DIR] PATH...\n";

void PrintHelp() {
  std::printf("%s", kUsage);
  std::printf(
      "\nPacks files into an archive the engine mounts from its data folder.\n"
      "Each PATH is a file or a folder (packed with everything below it, in\n"
      "sorted order), taken relative to DIR. An entry's name is its path\n"
      "relative to DIR with '/' between folders, as scripts ask for it:\n"
      "  pelto-tool pack -o data/GAME.DAT -C src boot.prg gfx\n"
      "stores src/gfx/tiles.pcx as \"gfx/tiles.pcx\".\n\n"
      "options:\n"
      "  -o OUT.DAT     the archive to write (required)\n"
      "  --priority N   0-255, default 0: an archive with a higher priority\n"
      "                 overrides entries of the same name in lower ones\n"
      "  -C DIR         the folder entry names are relative to (default: .)\n"
      "  -h, --help     this text\n\n"
      "Nothing is written if a file cannot be read, is empty (an entry holds\n"
      "at least one byte), lies outside DIR, or if two names share a hash.\n");
}

struct PackOptions {
  std::string output;
  int priority = 0;
  std::string baseFolder = ".";
  std::vector<std::string> paths;
};

// Returns 0 when the options are complete, otherwise the exit code
// (0 for --help is reported through *helpShown).
int ParseOptions(int argc, char** argv, PackOptions* options, bool* helpShown) {
  bool haveOutput = false;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      options->paths.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-h" || arg == "--help") {
      PrintHelp();
      *helpShown = true;
      return 0;
    } else if (arg == "-o" || arg == "-C" || arg == "--priority") {
      if (i + 1 >= argc) return UsageError(kUsage, "option " + arg + " needs a value");
      std::string value = argv[++i];
      if (arg == "-o") {
        if (value.empty()) return UsageError(kUsage, "-o needs a file name");
        options->output = value;
        haveOutput = true;
      } else if (arg == "-C") {
        if (value.empty()) return UsageError(kUsage, "-C needs a folder");
        options->baseFolder = value;
      } else {
        // Whole decimal numbers 0-255 only: the priority is one byte.
        bool digits = !value.empty() && value.size() <= 3 &&
                      std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
        int priority = digits ? std::atoi(value.c_str()) : -1;
        if (priority < 0 || priority > 255) return UsageError(kUsage, "priority must be a whole number from 0 to 255");
        options->priority = priority;
      }
    } else {
      return UsageError(kUsage, "unknown option " + arg);
    }
  }
  if (!haveOutput) return UsageError(kUsage, "missing -o OUT.DAT");
  if (options->paths.empty()) return UsageError(kUsage, "no PATH to pack");
  return 0;
}

struct Entry {
  std::string name;    // as stored: relative to DIR, '/' separators
  fs::path file;       // where it is read from
  uint32_t hash = 0;
  uint32_t unpackedSize = 0;
  std::vector<uint8_t> block;
};

// The entry name of `file`, or an empty string when it lies outside `base`
// (or is `base` itself): such a path has no name a script could ask for.
std::string EntryName(const fs::path& file, const fs::path& base) {
  std::error_code error;
  fs::path absoluteFile = fs::absolute(file, error).lexically_normal();
  if (error) return "";
  fs::path relative = absoluteFile.lexically_relative(base);
  if (relative.empty() || relative.is_absolute()) return "";
  for (const fs::path& part : relative) {
    if (part == ".." || part == "." || part.empty()) return "";
  }
  return relative.generic_string();
}

// Collects the files below a folder in sorted order. Linked folders met on
// the way are not entered: a link back up would never end.
bool CollectFolder(const fs::path& folder, std::vector<fs::path>* files, std::string* problem) {
  std::error_code error;
  std::vector<fs::path> children;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    children.push_back(it->path());
  }
  if (error) {
    *problem = "cannot read folder " + folder.string() + ": " + error.message();
    return false;
  }
  std::sort(children.begin(), children.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });
  for (const fs::path& child : children) {
    fs::file_status status = fs::symlink_status(child, error);
    if (fs::is_symlink(status)) status = fs::status(child, error);
    if (fs::is_directory(status)) {
      if (fs::is_symlink(fs::symlink_status(child, error))) continue;
      if (!CollectFolder(child, files, problem)) return false;
    } else if (fs::is_regular_file(status)) {
      files->push_back(child);
    } else {
      *problem = "cannot read " + child.string() + ": not a regular file";
      return false;
    }
  }
  return true;
}

bool ReadWholeFile(const fs::path& path, std::vector<uint8_t>* bytes, std::string* problem) {
  FILE* file = std::fopen(path.string().c_str(), "rb");
  if (!file) {
    *problem = "cannot read " + path.string() + ": " + std::strerror(errno);
    return false;
  }
  uint8_t block[1 << 16];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes->insert(bytes->end(), block, block + got);
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) *problem = "cannot read " + path.string();
  return !failed;
}

}  // namespace

int RunPackCommand(int argc, char** argv) {
  PackOptions options;
  bool helpShown = false;
  int argumentStatus = ParseOptions(argc, argv, &options, &helpShown);
  if (helpShown || argumentStatus != 0) return argumentStatus;

  std::error_code error;
  const fs::path base = fs::absolute(options.baseFolder, error).lexically_normal();
  if (error || !fs::is_directory(base, error)) return CommandFailed("-C " + options.baseFolder + " is not a folder");
  const fs::path outputFile = fs::absolute(options.output, error).lexically_normal();

  // Gather the files, in the order given, folders expanded in sorted order.
  std::vector<Entry> entries;
  std::map<std::string, size_t> byName;
  for (const std::string& argument : options.paths) {
    fs::path path = fs::path(argument).is_absolute() ? fs::path(argument) : base / argument;
    std::vector<fs::path> files;
    std::string problem;
    if (fs::is_directory(path, error)) {
      if (!CollectFolder(path, &files, &problem)) return CommandFailed(problem);
    } else if (fs::is_regular_file(path, error)) {
      files.push_back(path);
    } else {
      return CommandFailed("cannot read " + argument + ": " + (fs::exists(path, error) ? "not a regular file" : "no such file"));
    }
    for (const fs::path& file : files) {
      // An archive being replaced is not packed into its successor.
      if (fs::equivalent(file, outputFile, error)) continue;
      std::string name = EntryName(file, base);
      if (name.empty()) {
        return CommandFailed("cannot store " + file.string() + ": it lies outside " + options.baseFolder +
                      ", so it has no entry name (see -C)");
      }
      if (byName.count(name)) continue;  // the same file named twice
      byName[name] = entries.size();
      Entry entry;
      entry.name = name;
      entry.file = file;
      entry.hash = NameHash(name.data(), name.size());
      entries.push_back(std::move(entry));
    }
  }

  // Only one of two names with one hash could ever be found.
  std::map<uint32_t, const Entry*> byHash;
  for (const Entry& entry : entries) {
    auto [it, added] = byHash.emplace(entry.hash, &entry);
    if (!added) {
      return CommandFailed("entries \"" + it->second->name + "\" and \"" + entry.name +
                    "\" have the same name hash; rename one of them");
    }
  }

  // Pack every file, and unpack it again before trusting the result.
  uint64_t totalUnpacked = 0, totalPacked = 0;
  for (Entry& entry : entries) {
    std::vector<uint8_t> bytes;
    std::string problem;
    if (!ReadWholeFile(entry.file, &bytes, &problem)) return CommandFailed(problem);
    if (bytes.empty()) {
      return CommandFailed("cannot store empty file " + entry.file.string() + ": an archive entry holds at least one byte");
    }
    if (bytes.size() > 0x7fffffffu) return CommandFailed("cannot store " + entry.file.string() + ": larger than 2 GiB");
    entry.unpackedSize = uint32_t(bytes.size());
    entry.block = PackEntry(bytes.data(), bytes.size());
    std::vector<uint8_t> check(bytes.size());
    if (entry.block.empty() || !UnpackEntry(entry.block.data(), entry.block.size(), check.data(), check.size()) ||
        check != bytes) {
      return CommandFailed("internal error: packing " + entry.name + " does not unpack to the same bytes");
    }
    totalUnpacked += bytes.size();
    totalPacked += entry.block.size();
    std::printf("%10u -> %10zu  %s\n", entry.unpackedSize, entry.block.size(), entry.name.c_str());
  }

  // Header, blocks, then the directory (sorted by hash) and its offset.
  std::vector<ArchiveBlock> blocks;
  for (const Entry& entry : entries) blocks.push_back({entry.hash, &entry.block});
  std::vector<uint8_t> archive;
  if (!AssembleArchive(blocks, uint8_t(options.priority), &archive)) {
    return CommandFailed("the archive would pass 4 GiB, which its 32-bit offsets cannot address");
  }

  std::string problem;
  if (!WriteFileReplacing(options.output, archive, &problem)) return CommandFailed(problem);
  double ratio = totalUnpacked ? 100.0 * double(totalPacked) / double(totalUnpacked) : 0.0;
  std::printf("%zu entries, %llu -> %llu bytes (%.1f%%), archive %s (%zu bytes, priority %d)\n", entries.size(),
              (unsigned long long)totalUnpacked, (unsigned long long)totalPacked, ratio, options.output.c_str(),
              archive.size(), options.priority);
  return 0;
}
