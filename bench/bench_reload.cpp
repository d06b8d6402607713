// Reload latency of `pelto-tool run --watch`: the time from an editor's
// save (a temporary file renamed over a module) to the window showing the
// changed picture, over 20 saves, beside the way without it: the same save,
// then `pelto-tool run` started again by hand (rebuild, new process, new
// window, first frame). The picture is read from the X server as any
// other client sees it. Without a display it runs itself under Xvfb.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const int kSaves = 20;
const int kRestarts = 5;
const char kTitle[] = "bench-reload";

const char kBoot[] =
    "local look = require('lib.look')\n"
    "OpenDisplay('bench-reload', 160, 120, false, 320, 240)\n"
    "while not OsQuit() do\n"
    "  OsUpdate()\n"
    "  Cls(look.r, look.g, look.b)\n"
    "  for i = 1, 200 do FillRect(i % 150, i % 110, i % 150 + 8, i % 110 + 8, 255, i, 0) end\n"
    "  Cls(look.r, look.g, look.b)\n"
    "  Flip()\n"
    "end\n";

void Write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// An editor's save of lib/look.lua with this colour.
void Save(const fs::path& game, int r, int g, int b) {
  fs::path temporary = game / "lib/.look.lua.swp";
  Write(temporary, "return {r = " + std::to_string(r) + ", g = " + std::to_string(g) + ", b = " + std::to_string(b) + "}\n");
  fs::rename(temporary, game / "lib/look.lua");
}

pid_t Start(const std::vector<std::string>& args) {
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

void Stop(pid_t pid) {
  kill(-pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

Window FindWindow(Display* display) {
  Window root = 0, parent = 0, *children = nullptr;
  unsigned int count = 0;
  Window found = 0;
  if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) return 0;
  for (unsigned int i = 0; i < count && !found; ++i) {
    char* name = nullptr;
    if (XFetchName(display, children[i], &name) && name) {
      if (std::strcmp(name, kTitle) == 0) found = children[i];
      XFree(name);
    }
  }
  if (children) XFree(children);
  return found;
}

int IgnoreErrors(Display*, XErrorEvent*) { return 0; }

// The window's centre pixel as 0xRRGGBB, or -1.
long Centre(Display* display, Window window) {
  XImage* image = XGetImage(display, window, 160, 120, 1, 1, AllPlanes, ZPixmap);
  if (!image) return -1;
  unsigned long v = XGetPixel(image, 0, 0);
  XDestroyImage(image);
  return static_cast<long>(v & 0xffffff);
}

// Waits for a window of the title showing the colour; milliseconds since `from`, or -1.
double WaitFor(Display* display, long colour, Clock::time_point from, Window* window) {
  auto found = Clock::now();
  while (Clock::now() - from < std::chrono::seconds(20)) {
    // A window going away may still be listed for a moment: look again
    // now and then while the colour is not there.
    if (!*window || Clock::now() - found > std::chrono::milliseconds(20)) {
      *window = FindWindow(display);
      found = Clock::now();
    }
    if (*window && Centre(display, *window) == colour) {
      return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return -1;
}

void Report(const char* what, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  if (ms.empty() || ms.front() < 0) {
    std::printf("  %-34s failed\n", what);
    return;
  }
  std::printf("  %-34s median %7.1f ms   worst %7.1f ms   (%zu saves)\n", what, ms[ms.size() / 2], ms.back(), ms.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("DISPLAY") || !std::getenv("DISPLAY")[0]) {
    execlp("xvfb-run", "xvfb-run", "-a", "-s", "-screen 0 1280x1024x24 -nolisten tcp", argv[0], (char*)nullptr);
    std::perror("bench_reload: xvfb-run");
    return 1;
  }
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "bench_reload: no X display\n");
    return 1;
  }
  XSetErrorHandler(IgnoreErrors);
  char pattern[] = "/tmp/pelto-bench-reload-XXXXXX";
  fs::path game = fs::path(mkdtemp(pattern)) / "game";
  Write(game / "boot.lua", kBoot);
  for (int i = 0; i < 8; ++i) Write(game / ("lib/extra" + std::to_string(i) + ".lua"), "return " + std::to_string(i) + "\n");
  Save(game, 0, 0, 0);
  setenv("PELTO_NO_DIALOG", "1", 1);

  std::printf("reload latency, save to changed picture (320x240 window, Xvfb, software OpenGL):\n");
  std::vector<double> watch;
  pid_t session = Start({PELTO_TOOL_PATH, "run", "--watch", game.string(), "--", "--nocrt"});
  Window window = 0;
  if (WaitFor(display, 0, Clock::now(), &window) >= 0) {
    for (int i = 1; i <= kSaves; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      int r = (i * 37) % 256, g = (i * 91) % 256, b = 200;
      auto saved = Clock::now();
      Save(game, r, g, b);
      watch.push_back(WaitFor(display, r << 16 | g << 8 | b, saved, &window));
      if (watch.back() < 0) break;
    }
  }
  Stop(session);
  Report("pelto-tool run --watch (reload)", watch);

  // By hand: the game is closed, the file saved, and run started again.
  std::vector<double> restart;
  for (int i = 1; i <= kRestarts; ++i) {
    int r = 10 + i, g = 20, b = 30;
    auto saved = Clock::now();
    Save(game, r, g, b);
    pid_t run = Start({PELTO_TOOL_PATH, "run", game.string(), "--", "--nocrt"});
    Window fresh = 0;
    restart.push_back(WaitFor(display, r << 16 | g << 8 | b, saved, &fresh));
    Stop(run);
    if (restart.back() < 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  Report("save, then pelto-tool run again", restart);
  XCloseDisplay(display);
  fs::remove_all(game.parent_path());
  return 0;
}
