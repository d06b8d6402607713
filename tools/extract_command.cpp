// pelto-tool extract: writes named entries of an archive back to files.
// An entry is found the way the engine finds it, by the hash of its name
// (of two records with one hash, the first in the archive's directory), and
// unpacked with the engine's own decoder, so a file is written only when its
// check word holds. Each name is handled on its own: the good ones are
// written, and every damaged or unknown one is reported (exit 1).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "archive/archive_set.h"
#include "archive/name_hash.h"
#include "tools/commands.h"
#include "tools/tool_files.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] = "usage: pelto-tool extract ARCHIVE NAME... [-C DIR]\n";

void PrintHelp() {
  std::printf("%s", kUsage);
  std::printf(
      "\nWrites the entries called NAME to DIR/NAME (DIR defaults to the current\n"
      "folder), creating the folders NAME names. A NAME is an entry name as\n"
      "scripts ask for it, such as boot.prg or gfx/tiles.png:\n\n"
      "  pelto-tool extract build/GAME.DAT boot.prg gfx/tiles.png -C unpacked\n\n"
      "Archives keep only hashes of their names: `pelto-tool list ARCHIVE\n"
      "--names DIR` shows which names an archive holds.\n\n"
      "options:\n"
      "  -C DIR       the folder to write into (default: .)\n"
      "  -h, --help   this text\n\n"
      "A name the archive does not hold, or an entry whose check word fails\n"
      "(BAD in the listing), is an error: it is not written, the other names\n"
      "still are, and the exit code is 1.\n");
}

// A name that stays inside the output folder: relative, with no empty, "."
// or ".." part. Other names could never be written safely.
bool IsPlainRelativeName(const std::string& name) {
  if (name.empty() || name[0] == '/') return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

int RunExtractCommand(int argc, char** argv) {
  std::string archivePath, outputFolder = ".";
  bool haveArchive = false, haveFolder = false;
  std::vector<std::string> names;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (!optionsEnded && (arg == "-h" || arg == "--help")) {
      PrintHelp();
      return 0;
    }
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg == "-C") {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') return UsageError(kUsage, "-C needs a folder");
      if (haveFolder) return UsageError(kUsage, "more than one -C");
      outputFolder = argv[++i];
      haveFolder = true;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      return UsageError(kUsage, "unknown option " + arg);
    } else if (!haveArchive) {
      archivePath = arg;
      haveArchive = true;
    } else {
      names.push_back(arg);
    }
  }
  if (!haveArchive || archivePath.empty()) return UsageError(kUsage, "no archive");
  if (names.empty()) return UsageError(kUsage, "no NAME to extract");

  ArchiveContents contents;
  const char* reason = "";
  errno = 0;
  MountStatus status = ReadArchiveContents(archivePath.c_str(), &contents, &reason);
  if (status == MountStatus::CannotAccess) {
    return CommandFailed("cannot read " + archivePath + ": " + (errno ? std::strerror(errno) : "not a regular file"));
  }
  if (status == MountStatus::OutOfMemory) return CommandFailed(archivePath + ": out of memory");
  if (status != MountStatus::Ok) return CommandFailed(archivePath + ": not a usable archive: " + reason);

  int failures = 0;
  std::set<std::string> done;
  for (const std::string& name : names) {
    if (!done.insert(name).second) continue;  // named twice
    if (!IsPlainRelativeName(name)) {
      std::fprintf(stderr, "error: %s: not an entry name that can be written inside %s\n", name.c_str(),
                   outputFolder.c_str());
      ++failures;
      continue;
    }
    const uint32_t hash = NameHash(name.data(), name.size());
    const ArchiveEntryRecord* found = nullptr;
    for (const ArchiveEntryRecord& entry : contents.entries) {
      if (entry.nameHash == hash) {
        found = &entry;
        break;
      }
    }
    if (!found) {
      std::fprintf(stderr, "error: %s: no entry of that name in %s\n", name.c_str(), archivePath.c_str());
      ++failures;
      continue;
    }
    AssetBuffer buffer{0, nullptr};
    LoadStatus load = LoadArchiveBlock(archivePath.c_str(), found->entryOffset, &buffer, nullptr);
    if (load != LoadStatus::Ok) {
      const char* why = load == LoadStatus::Corrupt     ? "the entry is damaged (BAD): its check word does not match"
                        : load == LoadStatus::OutOfMemory ? "out of memory"
                                                          : "the archive went away";
      std::fprintf(stderr, "error: %s: %s\n", name.c_str(), why);
      ++failures;
      continue;
    }
    const std::string target = (fs::path(outputFolder) / name).string();
    std::string problem;
    std::vector<uint8_t> bytes(buffer.data, buffer.data + buffer.size);
    std::free(buffer.data);
    bool written = WriteFileReplacing(target, bytes, &problem);
    if (!written) {
      std::fprintf(stderr, "error: %s\n", problem.c_str());
      ++failures;
      continue;
    }
    std::printf("%10d  %s\n", buffer.size, target.c_str());
  }
  return failures ? 1 : 0;
}
