// pelto-tool run --watch (see the header).
#include "tools/run_watch.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "host/dev_channel.h"

namespace fs = std::filesystem;

// ---- debouncing and filtering ----

void SaveDebouncer::Change(double now) {
  if (first_ < 0) first_ = now;
  last_ = now;
}

bool SaveDebouncer::Due(double now) const {
  return first_ >= 0 && (now - last_ >= kQuietSeconds || now - first_ >= kLongestWaitSeconds);
}

int SaveDebouncer::WaitMs(double now) const {
  if (first_ < 0) return -1;
  double until = std::min(last_ + kQuietSeconds, first_ + kLongestWaitSeconds);
  return std::max(0, static_cast<int>((until - now) * 1000.0) + 1);
}

void SaveDebouncer::Reset() { first_ = last_ = -1; }

bool WatchIgnores(const std::string& relative, const std::vector<std::string>& skippedFolders) {
  if (relative.empty()) return false;
  for (const std::string& folder : skippedFolders) {
    if (relative == folder || relative.compare(0, folder.size() + 1, folder + "/") == 0) return true;
  }
  size_t start = 0;
  while (start < relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    if (relative[start] == '.') return true;
    start = end + 1;
  }
  std::string name = relative.substr(relative.rfind('/') == std::string::npos ? 0 : relative.rfind('/') + 1);
  if (!name.empty() && name.back() == '~') return true;
  if (name.size() > 1 && name.front() == '#' && name.back() == '#') return true;
  return false;
}

#ifdef _WIN32
// The session stands on inotify, a socketpair the engine inherits and
// process groups: none of them exists on Windows yet.
int RunWatchSession(const GameBuildOptions&, const std::vector<std::string>&, const std::string&) {
  std::fprintf(stderr, "error: run --watch is not available on Windows yet\n");
  return 1;
}
#else
namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The game folder's watches, one per folder, added as folders appear.
class FolderWatch {
 public:
  FolderWatch(const fs::path& root, std::vector<std::string> skipped) : root_(root), skipped_(std::move(skipped)) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0) Add("");
  }
  ~FolderWatch() {
    if (fd_ >= 0) close(fd_);
  }
  int fd() const { return fd_; }

  // Reads the pending events; true when one of them is a change of the game.
  bool Drain() {
    bool changed = false;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
      ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      for (char* p = buffer; p < buffer + n;) {
        const inotify_event* event = reinterpret_cast<const inotify_event*>(p);
        p += sizeof(inotify_event) + event->len;
        auto folder = folders_.find(event->wd);
        if (folder == folders_.end()) continue;
        if (event->mask & IN_IGNORED) {
          folders_.erase(folder);
          continue;
        }
        std::string name = event->len ? event->name : "";
        std::string relative = folder->second.empty() ? name : (name.empty() ? folder->second : folder->second + "/" + name);
        if (WatchIgnores(relative, skipped_)) continue;
        if ((event->mask & IN_ISDIR) && (event->mask & (IN_CREATE | IN_MOVED_TO))) Add(relative);
        changed = true;
      }
    }
    return changed;
  }

 private:
  void Add(const std::string& relative) {
    fs::path path = relative.empty() ? root_ : root_ / relative;
    int wd = inotify_add_watch(fd_, path.c_str(),
                               IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE | IN_ONLYDIR);
    if (wd < 0) return;
    folders_[wd] = relative;
    std::error_code error;
    for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
      if (!it->is_directory(error) || it->is_symlink(error)) continue;
      std::string child = relative.empty() ? it->path().filename().string()
                                           : relative + "/" + it->path().filename().string();
      if (!WatchIgnores(child, skipped_)) Add(child);
    }
  }

  fs::path root_;
  std::vector<std::string> skipped_;
  int fd_ = -1;
  std::map<int, std::string> folders_;
};

// One build, its errors as the engine's error screen shows them.
bool Build(const GameBuildOptions& options, bool quiet, std::string* errors) {
  GameBuildReport report;
  if (!quiet) report.onLine = [](const std::string& line) { std::printf("%s\n", line.c_str()); };
  report.onWarning = [](const std::string& text) { std::fprintf(stderr, "warning: %s\n", text.c_str()); };
  bool ok = BuildGame(options, &report) == GameBuildStatus::Built;
  errors->clear();
  for (const std::string& error : report.errors) {
    std::fprintf(stderr, "error: %s\n", error.c_str());
    *errors += "error: " + error + "\n";
  }
  if (ok) {
    if (quiet) {
      std::printf("pelto-tool: rebuilt (%d compiled, %d converted, %d packed, %d reused), reloading\n",
                  report.compiled, report.converted, report.packed, report.reused);
    } else {
      std::printf("%s\n", GameBuildSummary(report).c_str());
    }
  }
  std::fflush(stdout);
  std::fflush(stderr);
  return ok;
}

// The folder relative to the game folder, or "" when it lies outside.
std::string Inside(const fs::path& folder, const fs::path& root) {
  fs::path relative = folder.lexically_relative(root);
  std::string text = relative.generic_string();
  if (text.empty() || text == "." || text.compare(0, 2, "..") == 0) return "";
  return text;
}

}  // namespace

int RunWatchSession(const GameBuildOptions& given, const std::vector<std::string>& engineArgs,
                    const std::string& engine) {
  std::error_code error;
  GameBuildOptions options = given;
  fs::path gameDir = fs::weakly_canonical(fs::absolute(options.gameDir.empty() ? "." : options.gameDir), error);
  if (!fs::is_directory(gameDir, error)) {
    std::fprintf(stderr, "error: %s is not a folder\n", options.gameDir.c_str());
    return 1;
  }
  fs::path dataDir = options.dataDir.empty() ? gameDir / "build" : fs::absolute(options.dataDir).lexically_normal();
  options.gameDir = gameDir.string();
  options.dataDir = dataDir.string();

  std::string buildErrors;
  bool built = Build(options, false, &buildErrors);

  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    std::fprintf(stderr, "error: cannot make the development channel: %s\n", std::strerror(errno));
    return 1;
  }
  std::string nonce = MakeDevNonce();
  if (nonce.empty()) {
    std::fprintf(stderr, "error: no random numbers for the development channel\n");
    return 1;
  }
  // Said before the engine starts, so its handshake never waits.
  DevSend(pair[0], "hello", std::string(kDevProtocol) + " " + nonce);
  DevSend(pair[0], "root", gameDir.string());
  if (!built) DevSend(pair[0], "build-error", buildErrors);

  std::vector<std::string> argv = {engine, "--datapath", dataDir.string()};
  argv.insert(argv.end(), engineArgs.begin(), engineArgs.end());
  pid_t child = fork();
  if (child < 0) {
    std::fprintf(stderr, "error: cannot start %s: %s\n", engine.c_str(), std::strerror(errno));
    return 1;
  }
  if (child == 0) {
    // The engine goes with the tool: a watcher killed on its own leaves no
    // game behind that nothing reloads any more.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() == 1) _exit(1);
    fcntl(pair[1], F_SETFD, 0);  // the engine's end survives exec, nothing else does
    std::string channelValue = std::to_string(pair[1]) + ":" + nonce;
    setenv(kDevChannelVariable, channelValue.c_str(), 1);
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(&arg[0]);
    pointers.push_back(nullptr);
    execv(engine.c_str(), pointers.data());
    std::fprintf(stderr, "error: cannot run %s: %s\n", engine.c_str(), std::strerror(errno));
    _exit(1);
  }
  close(pair[1]);
  int channel = pair[0];

  std::vector<std::string> skipped = {"build", "screenshots"};
  if (std::string inside = Inside(dataDir, gameDir); !inside.empty()) skipped.push_back(inside);
  FolderWatch watch(gameDir, skipped);
  if (watch.fd() < 0) std::fprintf(stderr, "warning: cannot watch %s: %s\n", gameDir.c_str(), std::strerror(errno));

  SaveDebouncer debouncer;
  DevMessageReader reader;
  bool engineSpoke = false;
  for (;;) {
    int status = 0;
    pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) {
      if (channel >= 0) close(channel);
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    }
    pollfd fds[2] = {{watch.fd(), POLLIN, 0}, {channel, POLLIN, 0}};
    int wait = debouncer.WaitMs(Now());
    poll(fds, 2, wait < 0 || wait > 200 ? 200 : wait);
    bool rebuild = false;
    if (fds[0].revents & POLLIN && watch.Drain()) debouncer.Change(Now());
    if (channel >= 0 && (fds[1].revents & (POLLIN | POLLHUP))) {
      std::vector<DevMessage> messages;
      bool open = DevReceive(channel, &reader, &messages);
      for (const DevMessage& message : messages) {
        if (message.verb == "hello") engineSpoke = true;
        if (message.verb == "rebuild") rebuild = true;  // R on the error screen
      }
      if (!open) {
        close(channel);
        channel = -1;
        if (!engineSpoke) std::fprintf(stderr, "warning: the engine did not take the development channel\n");
      }
    }
    if (debouncer.Due(Now())) {
      debouncer.Reset();
      rebuild = true;
    }
    if (rebuild && channel >= 0) {
      bool ok = Build(options, true, &buildErrors);
      if (!DevSend(channel, ok ? "reload" : "build-error", ok ? "" : buildErrors)) {
        close(channel);
        channel = -1;
      }
    }
  }
}
#endif  // _WIN32
