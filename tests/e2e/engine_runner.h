// Helpers for end-to-end tests: a scratch game folder, pelto-tool to compile
// and pack it, and the engine run as a subprocess with its output captured.
#pragma once

#include <map>
#include <string>
#include <vector>

struct RunResult {
  int exitCode = -1;     // the process exit status; -1 when killed by a signal
  int signal = 0;        // the signal that ended it, if any
  bool timedOut = false;
  std::string out;       // stdout
  std::string err;       // stderr
};

// Runs argv[0] with the arguments, in cwd (if not empty), with env entries
// added to (or, for an empty value, removed from) the current environment.
RunResult RunProcess(const std::vector<std::string>& argv, const std::string& cwd = "",
                     const std::map<std::string, std::string>& env = {}, int timeoutSeconds = 60);

// The engine under test: this build's pelto, or the program PELTO_TEST_ENGINE
// names (build-windows/pelto.exe), which PELTO_TEST_LAUNCHER (wine) starts.
std::string EnginePath();
// True when the engine under test is a Windows build (run through Wine).
bool WindowsEngine();
// What starts a Windows program here (wine), or "" when programs start as they are.
std::string Launcher();
// The program path the engine sees as argv[0].
std::string EngineArgv0();
std::string ToolPath();

// A fresh temporary folder, removed with its contents when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }
  // Writes a file (creating its folders) and returns its full path.
  std::string Write(const std::string& relative, const std::string& bytes) const;
  std::string Read(const std::string& relative) const;

 private:
  std::string path_;
};

std::string ReadFileBytes(const std::string& path);

// Compiles Lua source with pelto-tool into the engine's chunk form; fails the
// current test if the tool does not succeed. Returns the chunk bytes.
std::string CompileLua(const std::string& source);

// Builds a game in `dir`: every file of `files` (name -> bytes) is written
// under dir/src and packed with pelto-tool into dir/data/GAME.DAT. A name that
// ends in ".lua" is compiled first and stored with the extension ".prg".
void BuildGame(const ScratchDir& dir, const std::map<std::string, std::string>& files);

// Writes `files` (name -> bytes, boot.lua among them) under dir/game and
// builds that folder with `pelto-tool build` into dir/data. Returns the
// tool's run.
RunResult BuildGameFolder(const ScratchDir& dir, const std::map<std::string, std::string>& files);

// Runs the engine on dir/data with PELTO_NO_DIALOG=1 and a test HOME.
RunResult RunGame(const ScratchDir& dir, const std::vector<std::string>& extraArgs = {},
                  const std::map<std::string, std::string>& env = {});

// Compiles boot.lua from `bootSource`, packs it alone and runs it.
RunResult RunBootSource(const std::string& bootSource, const std::vector<std::string>& extraArgs = {});

// The "Error: ..." lines of a run's stderr, in order.
std::vector<std::string> ErrorLines(const std::string& err);
