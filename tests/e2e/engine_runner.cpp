#include "tests/e2e/engine_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

extern char** environ;

namespace fs = std::filesystem;

// The engine under test is this build's pelto unless PELTO_TEST_ENGINE names
// another, such as build-windows/pelto.exe, which PELTO_TEST_LAUNCHER (wine)
// then starts.
std::string EnginePath() {
  const char* other = std::getenv("PELTO_TEST_ENGINE");
  return other && *other ? other : PELTO_ENGINE_PATH;
}

bool WindowsEngine() {
  std::string path = EnginePath();
  return path.size() > 4 && path.compare(path.size() - 4, 4, ".exe") == 0;
}

std::string Launcher() {
  const char* launcher = std::getenv("PELTO_TEST_LAUNCHER");
  return launcher ? launcher : "";
}

std::string EngineArgv0() {
  if (!WindowsEngine()) return EnginePath();
  // Wine hands a program its own path as Windows names it: the root of the
  // Linux file system is drive Z:.
  std::string path = EnginePath();
  for (char& c : path) c = c == '/' ? '\\' : c;
  return "Z:" + path;
}
std::string ToolPath() { return PELTO_TOOL_PATH; }

RunResult RunProcess(const std::vector<std::string>& argv, const std::string& cwd,
                     const std::map<std::string, std::string>& env, int timeoutSeconds) {
  RunResult result;
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return result;

  // Build the child's environment before forking.
  std::map<std::string, std::string> merged;
  for (char** e = environ; *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq) merged[std::string(*e, eq - *e)] = eq + 1;
  }
  for (const auto& [key, value] : env) {
    if (value.empty()) merged.erase(key); else merged[key] = value;
  }
  std::vector<std::string> envStrings;
  for (const auto& [key, value] : merged) envStrings.push_back(key + "=" + value);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  if (!args.empty() && args[0] == EnginePath() && !Launcher().empty()) args.insert(args.begin(), Launcher());
  std::vector<char*> argp;
  for (auto& s : args) argp.push_back(s.data());
  argp.push_back(nullptr);

  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close(outPipe[0]); close(outPipe[1]); close(errPipe[0]); close(errPipe[1]);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
    execve(argp[0], argp.data(), envp.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  int open = 2;
  char buffer[4096];
  while (open > 0) {
    int left = (int)std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      result.timedOut = true;
      kill(-pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, left) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        (i == 0 ? result.out : result.err).append(buffer, n);
      }
    }
  }
  for (auto& f : fds) if (f.fd >= 0) close(f.fd);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

ScratchDir::ScratchDir() {
  std::string pattern = (fs::temp_directory_path() / "pelto-test-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  if (made) path_ = made;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  // Tests may take write permission away from folders; give it back first.
  for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

std::string ScratchDir::Write(const std::string& relative, const std::string& bytes) const {
  fs::path full = fs::path(path_) / relative;
  fs::create_directories(full.parent_path());
  std::ofstream out(full, std::ios::binary);
  out.write(bytes.data(), (std::streamsize)bytes.size());
  return full.string();
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

std::string ScratchDir::Read(const std::string& relative) const { return ReadFileBytes(path_ + "/" + relative); }

std::string CompileLua(const std::string& source) {
  ScratchDir dir;
  std::string src = dir.Write("chunk.lua", source);
  RunResult r = RunProcess({ToolPath(), "compile", src, "-o", dir / "chunk.prg"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return dir.Read("chunk.prg");
}

void BuildGame(const ScratchDir& dir, const std::map<std::string, std::string>& files) {
  std::vector<std::string> names;
  for (const auto& [name, bytes] : files) {
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".lua") == 0) {
      std::string lua = dir.Write("lua/" + name, bytes);
      std::string prg = name.substr(0, name.size() - 4) + ".prg";
      fs::create_directories(fs::path(dir / ("src/" + prg)).parent_path());
      RunResult r = RunProcess({ToolPath(), "compile", lua, "-o", dir / ("src/" + prg)});
      ASSERT_EQ(r.exitCode, 0) << "compiling " << name << ": " << r.err;
      names.push_back(prg);
    } else {
      dir.Write("src/" + name, bytes);
      names.push_back(name);
    }
  }
  fs::create_directories(dir / "data");
  std::vector<std::string> args = {ToolPath(), "pack", "-o", dir / "data/GAME.DAT", "-C", dir / "src"};
  for (const auto& name : names) args.push_back(name);
  RunResult r = RunProcess(args);
  ASSERT_EQ(r.exitCode, 0) << "packing: " << r.err;
}

RunResult BuildGameFolder(const ScratchDir& dir, const std::map<std::string, std::string>& files) {
  for (const auto& [name, bytes] : files) dir.Write("game/" + name, bytes);
  return RunProcess({ToolPath(), "build", dir / "game", "-o", dir / "data"});
}

RunResult RunGame(const ScratchDir& dir, const std::vector<std::string>& extraArgs,
                  const std::map<std::string, std::string>& env) {
  std::vector<std::string> argv = {EnginePath(), "--datapath", dir / "data"};
  argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
  fs::create_directories(dir / "home");
  // Wine's sound driver reaches ALSA, which complains on stderr when the
  // machine has no sound card; a test HOME of its own routes it nowhere.
  if (WindowsEngine() && !fs::exists(dir / "home/.asoundrc")) dir.Write("home/.asoundrc", "pcm.!default { type null }\n");
  // A test HOME and no XDG_DATA_HOME: the profile folder is the test's own.
  std::map<std::string, std::string> fullEnv = {
      {"PELTO_NO_DIALOG", "1"}, {"HOME", dir / "home"}, {"XDG_DATA_HOME", ""}};
  for (const auto& [key, value] : env) fullEnv[key] = value;
  return RunProcess(argv, dir.path(), fullEnv);
}

RunResult RunBootSource(const std::string& bootSource, const std::vector<std::string>& extraArgs) {
  ScratchDir dir;
  BuildGame(dir, {{"boot.lua", bootSource}});
  return RunGame(dir, extraArgs);
}

std::vector<std::string> ErrorLines(const std::string& err) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < err.size()) {
    size_t end = err.find('\n', start);
    if (end == std::string::npos) end = err.size();
    std::string line = err.substr(start, end - start);
    if (line.rfind("Error: ", 0) == 0) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}
