// pelto-tool export --windows: a game as one zip for Windows players, who
// unzip it and double-click. The zip holds pelto.exe renamed after the
// game, the game's data archives beside it (the engine mounts the *.DAT
// files of its working folder, which is the exe's folder when started from
// Explorer) and a short README for players.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "tools/commands.h"
#include "tools/export/zip_writer.h"
#include "tools/file_replace.h"
#include "tools/game_build.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] = "usage: pelto-tool export --windows [GAME_DIR] [--data DIR] -o GAME.zip\n";
constexpr int kMaxArchives = 8;  // the engine mounts at most eight

void PrintHelp() {
  std::printf("%s", kUsage);
  std::printf(
      "\nWrites a zip that Windows players unzip and double-click. It holds\n"
      "  NAME.exe     the Windows engine (pelto.exe), named after GAME_DIR\n"
      "  *.DAT        the game's data archives: GAME_DIR built as `pelto-tool build`\n"
      "               builds it (into GAME_DIR/build), or those of --data DIR\n"
      "  README.txt   how to start the game, its options, where it saves\n"
      "NAME is GAME_DIR's folder name (default: the current folder's).\n\n"
      "options:\n"
      "  --windows      the target system (the only one for now; required)\n"
      "  --data DIR     take the built *.DAT archives in DIR instead of building\n"
      "  -o GAME.zip    the zip to write (required)\n"
      "  -h, --help     this text\n\n"
      "pelto.exe is taken from beside pelto-tool or from build-windows/ (of the\n"
      "current folder or of pelto-tool's parent folder); `make windows` builds it.\n");
}

// The folder this program lives in, or "" when the system cannot say.
fs::path OwnFolder() {
#if defined(_WIN32)
  char path[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return fs::path();
  return fs::path(path).parent_path();
#else
  std::error_code ignored;
  fs::path self = fs::read_symlink("/proc/self/exe", ignored);
  return ignored ? fs::path() : self.parent_path();
#endif
}

// pelto.exe beside this program, else in build-windows/ of the current
// folder or of this program's parent (a source tree's build/ folder).
fs::path FindWindowsEngine() {
  fs::path own = OwnFolder();
  std::vector<fs::path> candidates;
  if (!own.empty()) candidates.push_back(own / "pelto.exe");
  candidates.push_back(fs::path("build-windows") / "pelto.exe");
  if (!own.empty()) candidates.push_back(own.parent_path() / "build-windows" / "pelto.exe");
  for (const fs::path& candidate : candidates) {
    std::error_code ignored;
    if (fs::is_regular_file(candidate, ignored)) return candidate;
  }
  return fs::path();
}

// A file name Windows accepts: its reserved characters and control
// characters become '_', trailing dots and spaces go.
std::string WindowsFileName(const std::string& name) {
  std::string safe;
  for (unsigned char c : name) {
    safe += (c < 32 || std::strchr("<>:\"/\\|?*", c)) ? '_' : char(c);
  }
  while (!safe.empty() && (safe.back() == '.' || safe.back() == ' ')) safe.pop_back();
  return safe.empty() ? "game" : safe;
}

bool ReadFile(const fs::path& path, std::vector<uint8_t>* bytes) {
  FILE* file = std::fopen(path.string().c_str(), "rb");
  if (!file) return false;
  uint8_t block[1 << 16];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes->insert(bytes->end(), block, block + got);
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  return !failed;
}

bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::string temp = path + ".part";
  FILE* file = std::fopen(temp.c_str(), "wb");
  if (!file) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  ok = (std::fclose(file) == 0) && ok;
  ok = ok && RenameOver(temp.c_str(), path.c_str()) == 0;
  if (!ok) std::remove(temp.c_str());
  return ok;
}

// The README a player sees first; CRLF line ends, for every Windows editor.
std::string PlayerReadme(const std::string& name, const std::vector<std::string>& archives) {
  std::string text =
      name + "\n" + std::string(name.size(), '=') + "\n\n" +
      "To play, double-click " + name + ".exe.\n\n"
      "Keep these files together in one folder: " + name + ".exe";
  for (const std::string& archive : archives) text += ", " + archive;
  text +=
      ".\n"
      "Nothing needs installing.\n\n"
      "Saved games and settings go to your local application data folder\n"
      "(%LOCALAPPDATA%). To keep them beside the game instead, for example on\n"
      "a USB stick, start it with the option --portable.\n\n"
      "Options (add them to a shortcut's target or type them after the name\n"
      "in a command prompt):\n"
      "  --fullscreen   play in full screen       --windowed   never full screen\n"
      "  --double       a window twice the size   --nocrt      no CRT screen effect\n"
      "  --novsync      no vertical sync          --portable   saves beside the game\n\n"
      "If the game cannot start, a box titled \"Error\" says why.\n\n"
      "Made with pelto.\n";
  std::string crlf;
  for (char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  return crlf;
}

ZipTime LocalZipTime() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
#if defined(_WIN32)
  if (localtime_s(&local, &now) != 0) return ZipTime();
#else
  if (!localtime_r(&now, &local)) return ZipTime();
#endif
  if (local.tm_year < 80 || local.tm_year > 207) return ZipTime();  // outside what MS-DOS dates hold
  ZipTime when;
  when.time = uint16_t(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
  when.date = uint16_t((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
  return when;
}

bool IsArchiveName(const std::string& name) {
  if (name.size() <= 4) return false;
  std::string extension = name.substr(name.size() - 4);
  for (char& c : extension) c = char(std::toupper(static_cast<unsigned char>(c)));
  return extension == ".DAT";
}

}  // namespace

int RunExportCommand(int argc, char** argv) {
  bool windows = false;
  std::string gameDir, dataDir, output;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      PrintHelp();
      return 0;
    } else if (arg == "--windows") {
      windows = true;
    } else if (arg == "-o" || arg == "--data") {
      if (i + 1 >= argc) return UsageError(kUsage, arg + " needs a value");
      (arg == "-o" ? output : dataDir) = argv[++i];
    } else if (!arg.empty() && arg[0] == '-') {
      return UsageError(kUsage, "unknown option " + arg);
    } else if (gameDir.empty()) {
      gameDir = arg;
    } else {
      return UsageError(kUsage, "more than one GAME_DIR");
    }
  }
  if (!windows) return UsageError(kUsage, "name the target system: --windows");
  if (output.empty()) return UsageError(kUsage, "no output zip given (-o GAME.zip)");

  std::error_code problem;
  fs::path game = fs::absolute(gameDir.empty() ? fs::path(".") : fs::path(gameDir), problem);
  if (problem) return CommandFailed("cannot resolve " + gameDir + ": " + problem.message());
  game = game.lexically_normal();
  if (!game.has_filename()) game = game.parent_path();  // "dir/" names dir
  if (!gameDir.empty() && !fs::is_directory(game, problem)) return CommandFailed(gameDir + " is not a folder");
  std::string name = WindowsFileName(game.filename().string());

  fs::path engine = FindWindowsEngine();
  if (engine.empty()) {
    return CommandFailed("pelto.exe not found beside pelto-tool or in build-windows/; build it with `make windows`");
  }

  if (dataDir.empty()) {
    // The game is built first, exactly as `pelto-tool build GAME_DIR` builds
    // it (into GAME_DIR/build, reusing its cache), so what players get is
    // what `run` shows.
    GameBuildOptions options;
    options.gameDir = game.string();
    GameBuildReport report;
    report.onLine = [](const std::string& line) { std::printf("%s\n", line.c_str()); };
    report.onWarning = [](const std::string& text) { std::fprintf(stderr, "warning: %s\n", text.c_str()); };
    GameBuildStatus status = BuildGame(options, &report);
    std::fflush(stdout);
    if (status != GameBuildStatus::Built) {
      for (const std::string& error : report.errors) std::fprintf(stderr, "error: %s\n", error.c_str());
      return 1;
    }
    std::printf("%s\n", GameBuildSummary(report).c_str());
    dataDir = fs::path(report.archivePath).parent_path().string();
  }
  if (!fs::is_directory(dataDir, problem)) return CommandFailed(dataDir + " is not a folder");
  std::vector<std::string> archives;
  for (fs::directory_iterator it(dataDir, problem), end; !problem && it != end; it.increment(problem)) {
    std::error_code ignored;
    std::string file = it->path().filename().string();
    if (IsArchiveName(file) && it->is_regular_file(ignored)) archives.push_back(file);
  }
  if (problem) return CommandFailed("cannot list " + dataDir + ": " + problem.message());
  if (archives.empty()) return CommandFailed("no *.DAT archive in " + dataDir);
  // The engine would leave the ninth and later out; better said now.
  if (archives.size() > kMaxArchives) return CommandFailed(dataDir + " holds more than 8 *.DAT archives");
  std::sort(archives.begin(), archives.end());

  std::vector<ZipEntry> entries(1);
  entries[0].name = name + ".exe";
  entries[0].executable = true;
  if (!ReadFile(engine, &entries[0].bytes)) return CommandFailed("cannot read " + engine.string());
  for (const std::string& archive : archives) {
    ZipEntry entry;
    entry.name = archive;
    fs::path path = fs::path(dataDir) / archive;
    if (!ReadFile(path, &entry.bytes)) return CommandFailed("cannot read " + path.string() + ": " + std::strerror(errno));
    entries.push_back(std::move(entry));
  }
  ZipEntry readme;
  readme.name = "README.txt";
  std::string text = PlayerReadme(name, archives);
  readme.bytes.assign(text.begin(), text.end());
  entries.push_back(std::move(readme));

  std::vector<uint8_t> zip;
  std::string zipError;
  if (!BuildZip(entries, LocalZipTime(), &zip, &zipError)) return CommandFailed(zipError);
  if (!WriteFileAtomically(output, zip)) return CommandFailed("cannot write " + output + ": " + std::strerror(errno));
  std::printf("wrote %s: %s.exe, %zu archive%s, README.txt\n", output.c_str(), name.c_str(), archives.size(),
              archives.size() == 1 ? "" : "s");
  return 0;
}
