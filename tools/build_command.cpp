// pelto-tool build and run: a game folder -> its archive (-> the engine).
#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/commands.h"
#include "tools/game_build.h"
#include "tools/run_watch.h"

namespace {

const char kBuildUsage[] = "usage: pelto-tool build [GAME_DIR] [-o DATA_DIR]\n";
const char kRunUsage[] = "usage: pelto-tool run [--watch] [GAME_DIR] [-o DATA_DIR] [-- ENGINE_ARGS...]\n";

const char kBuildHelp[] =
    "\nBuilds the game in GAME_DIR (default: .) into DATA_DIR/GAME.DAT (default\n"
    "DATA_DIR: GAME_DIR/build), the folder the engine runs with --datapath.\n\n"
    "  *.lua          modules: boot.lua is where the game starts, and\n"
    "                 require(\"a.b\") loads a/b.lua; all are compiled into\n"
    "                 boot.prg. require(\"pelto.text\") adds the built-in\n"
    "                 text module and its font.\n"
    "  .xm .mod       music, converted to STEM.trk\n"
    "  .tmx .tmj      Tiled maps, converted as 'pelto-tool convert' does; the\n"
    "                 map's STEM.lua can be required: require(\"maps.level\")\n"
    "  anything else  packed as is, named by its path under GAME_DIR\n\n"
    "Hidden files and folders, DATA_DIR and GAME_DIR/build are left out. A\n"
    "syntax error, or a require of a literal name that no file provides, stops\n"
    "the build and leaves the old archive as it was. Work whose inputs did not\n"
    "change is taken from DATA_DIR/.cache: the lines say what was compiled,\n"
    "converted, packed or reused.\n\n"
    "options:\n"
    "  -o DATA_DIR  where GAME.DAT goes\n"
    "  -h, --help   this text\n";

struct BuildArguments {
  GameBuildOptions options;
  std::vector<std::string> engineArgs;
  bool watch = false;
};

// 0 when complete; otherwise the exit code (help: 0 with *done set).
int ParseArguments(int argc, char** argv, const char* usage, bool allowEngineArgs, BuildArguments* args,
                   bool* done) {
  bool haveGameDir = false, haveDataDir = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--" && allowEngineArgs) {
      for (++i; i < argc; ++i) args->engineArgs.push_back(argv[i]);
      break;
    }
    if (arg == "-h" || arg == "--help") {
      std::printf("%s", usage);
      if (allowEngineArgs) {
        std::printf(
            "\nBuilds the game as 'pelto-tool build' does, then runs the engine beside\n"
            "pelto-tool on it: pelto --datapath DATA_DIR ENGINE_ARGS... The exit code\n"
            "is the engine's (1 if the build fails).\n\n"
            "With --watch the engine runs in development mode and GAME_DIR is\n"
            "watched: every save rebuilds what changed and restarts the game in\n"
            "the same window within a second. Errors, and failed builds, show an\n"
            "error screen with the traceback and the source line (R reloads, Esc\n"
            "quits, C copies the text) instead of ending the game. F12 saves a\n"
            "screenshot and F9 starts and stops a GIF recording, both into\n"
            "GAME_DIR/screenshots; F1 shows frame time, draw calls, sound and\n"
            "memory figures. See docs/devmode.md.\n\n"
            "options:\n"
            "  --watch      rebuild and reload on every save (development mode)\n"
            "  -o DATA_DIR  where GAME.DAT goes (default: GAME_DIR/build)\n"
            "  -h, --help   this text\n");
      } else {
        std::printf("%s", kBuildHelp);
      }
      *done = true;
      return 0;
    }
    if (arg == "--watch" && allowEngineArgs) {
      args->watch = true;
      continue;
    }
    if (arg == "-o") {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') {
        std::fprintf(stderr, "pelto-tool %s: -o needs a folder\n%s", argv[0], usage);
        return 2;
      }
      if (haveDataDir) {
        std::fprintf(stderr, "pelto-tool %s: more than one -o\n%s", argv[0], usage);
        return 2;
      }
      args->options.dataDir = argv[++i];
      haveDataDir = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "pelto-tool %s: unknown option '%s'\n%s", argv[0], arg.c_str(), usage);
      return 2;
    } else {
      if (haveGameDir || arg.empty()) {
        std::fprintf(stderr, "pelto-tool %s: %s\n%s", argv[0], arg.empty() ? "empty folder name" : "more than one GAME_DIR",
                     usage);
        return 2;
      }
      args->options.gameDir = arg;
      haveGameDir = true;
    }
  }
  return 0;
}

// Builds, printing the work lines to stdout and warnings and errors to
// stderr. True when the archive was written.
bool BuildAndReport(const GameBuildOptions& options, GameBuildReport* report) {
  report->onLine = [](const std::string& line) { std::printf("%s\n", line.c_str()); };
  report->onWarning = [](const std::string& text) { std::fprintf(stderr, "warning: %s\n", text.c_str()); };
  GameBuildStatus status = BuildGame(options, report);
  std::fflush(stdout);
  if (status != GameBuildStatus::Built) {
    for (const std::string& error : report->errors) std::fprintf(stderr, "error: %s\n", error.c_str());
    return false;
  }
  std::printf("%s\n", GameBuildSummary(*report).c_str());
  std::fflush(stdout);
  return true;
}

#ifdef _WIN32
// The engine binary beside this tool.
std::string EngineBesideTool() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) return "pelto.exe";
  std::string self(path, length);
  size_t slash = self.find_last_of("/\\");
  return (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "\\pelto.exe";
}

// One argument as the C runtime's command-line splitter reads it back:
// quoted, with backslashes doubled only before a quote.
std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}
#else
// The engine binary beside this tool, found through /proc/self/exe.
std::string EngineBesideTool() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "pelto";
  path[length] = '\0';
  std::string self = path;
  size_t slash = self.rfind('/');
  return (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/pelto";
}
#endif

}  // namespace

int RunBuildCommand(int argc, char** argv) {
  BuildArguments args;
  bool done = false;
  int status = ParseArguments(argc, argv, kBuildUsage, false, &args, &done);
  if (done || status != 0) return status;
  GameBuildReport report;
  return BuildAndReport(args.options, &report) ? 0 : 1;
}

int RunRunCommand(int argc, char** argv) {
  BuildArguments args;
  bool done = false;
  int status = ParseArguments(argc, argv, kRunUsage, true, &args, &done);
  if (done || status != 0) return status;
  if (args.watch) return RunWatchSession(args.options, args.engineArgs, EngineBesideTool());
  GameBuildReport report;
  if (!BuildAndReport(args.options, &report)) return 1;

  std::string engine = EngineBesideTool();
  std::string dataDir = report.archivePath.substr(0, report.archivePath.find_last_of("/\\"));
  std::vector<std::string> engineArgv = {engine, "--datapath", dataDir};
  engineArgv.insert(engineArgv.end(), args.engineArgs.begin(), args.engineArgs.end());
#ifdef _WIN32
  // No exec on Windows: the engine runs as a child and its exit code is ours.
  std::vector<std::string> quoted;
  for (const std::string& arg : engineArgv) quoted.push_back(QuoteArgument(arg));
  std::vector<const char*> pointers;
  for (const std::string& arg : quoted) pointers.push_back(arg.c_str());
  pointers.push_back(nullptr);
  std::fflush(stdout);
  intptr_t code = _spawnv(_P_WAIT, engine.c_str(), pointers.data());
  if (code != -1) return static_cast<int>(code);
#else
  // The engine takes this process over, so its exit code is ours.
  std::vector<char*> pointers;
  for (std::string& arg : engineArgv) pointers.push_back(&arg[0]);
  pointers.push_back(nullptr);
  execv(engine.c_str(), pointers.data());
#endif
  std::fprintf(stderr, "error: cannot run %s: %s\n", engine.c_str(), std::strerror(errno));
  return 1;
}
