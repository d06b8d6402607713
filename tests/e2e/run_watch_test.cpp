// `pelto-tool run --watch` end to end: a game folder with modules, edited
// the way editors save, while the engine runs on a private X server. The
// same folder under plain `pelto-tool run` behaves as it always did.
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>

#include <gtest/gtest.h>

#include "tests/e2e/dev_support.h"
#include "tests/e2e/engine_runner.h"

namespace fs = std::filesystem;

namespace {

// boot.lua draws the colour lib/look.lua returns and moves a square with
// lib/mover.lua, whose step() fails when asked to.
const char kBoot[] =
    "local look = require('lib.look')\n"        // 1
    "local mover = require('lib.mover')\n"      // 2
    "OpenDisplay('watch-game', 64, 48, false, 128, 96)\n"  // 3
    "local x = 0\n"                             // 4
    "while not OsQuit() do\n"                   // 5
    "  OsUpdate()\n"                            // 6
    "  if KeyPressed(pelto.KEY_F12) then print('game saw F12') return end\n"  // 7
    "  x = mover.step(x, look.fail)\n"          // 8
    "  Cls(look.r, look.g, look.b)\n"           // 9
    "  Flip()\n"                                // 10
    "end\n";                                    // 11

const char kMover[] =
    "local M = {}\n"                            // 1
    "function M.step(x, fail)\n"                // 2
    "  if fail then return x + nil end\n"       // 3
    "  return (x + 1) % 10\n"                   // 4
    "end\n"                                     // 5
    "return M\n";

std::string Look(const std::string& r, const std::string& g, const std::string& b, bool fail = false) {
  return "return {r = " + r + ", g = " + g + ", b = " + b + (fail ? ", fail = true" : "") + "}\n";
}

// An editor's save: the new text goes to a temporary file beside the old
// one, which it then replaces with a rename.
void SaveByRename(const ScratchDir& dir, const std::string& relative, const std::string& text) {
  std::string temporary = dir.Write("game/" + relative + ".tmp~", text);
  fs::rename(temporary, dir / ("game/" + relative));
}

class WatchRun {
 public:
  WatchRun(const ScratchDir& dir, const PrivateDisplay& display, bool watch) : display_(display) {
    std::vector<std::string> argv = {ToolPath(), "run"};
    if (watch) argv.push_back("--watch");
    argv.insert(argv.end(), {dir / "game", "--", "--nocrt"});
    std::map<std::string, std::string> env = {
        {"DISPLAY", display.name()}, {"PELTO_NO_DIALOG", "1"}, {"HOME", dir.path()}, {"XDG_DATA_HOME", ""}};
    run_ = std::async(std::launch::async, [argv, env, dir = dir.path()] { return RunProcess(argv, dir, env, 90); });
  }
  ~WatchRun() {
    if (run_.valid()) run_.wait();
  }
  bool Ended() { return run_.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; }
  unsigned long Window(const std::string& title) {
    std::string id = FocusedWindow(display_, title, [this] { return Ended(); });
    return id.empty() ? 0 : std::strtoul(id.c_str(), nullptr, 16);
  }
  RunResult Finish() { return run_.get(); }

 private:
  const PrivateDisplay& display_;
  std::future<RunResult> run_;
};

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(RunWatch, SavesReloadTheGameOnceEachInTheSameWindowAndErrorsRecover) {
  START_DISPLAY(display);
  ScratchDir dir;
  dir.Write("game/boot.lua", kBoot);
  dir.Write("game/lib/mover.lua", kMover);
  dir.Write("game/lib/look.lua", Look("200", "40", "40"));
  WatchRun run(dir, display, true);
  unsigned long window = run.Window("watch-game");
  ASSERT_NE(window, 0u) << "no window";
  Screen screen(display);
  ASSERT_TRUE(screen.WaitPixel(window, 64, 64, 0xc82828));

  // One save through a temporary file and a rename: one rebuild, one reload.
  SaveByRename(dir, "lib/look.lua", Look("40", "40", "200"));
  EXPECT_TRUE(screen.WaitPixel(window, 64, 64, 0x2828c8));
  Pause(600);  // long enough for a second reload to show up in the count

  // A runtime error inside a module: the error screen; then mended.
  SaveByRename(dir, "lib/look.lua", Look("40", "40", "200", true));
  EXPECT_TRUE(screen.WaitPixel(window, 0, 0, kErrorBackground)) << "no error screen";
  Pause(300);
  EXPECT_FALSE(run.Ended());
  // A syntax error: the build fails, and the error screen shows it.
  dir.Write("game/lib/mover.lua", "local M = {}\nfunction M.step(x)\n  return x +\nend\nreturn M\n");
  Pause(800);
  EXPECT_EQ(screen.Pixel(window, 0, 0), kErrorBackground);
  dir.Write("game/lib/mover.lua", kMover);
  SaveByRename(dir, "lib/look.lua", Look("10", "220", "30"));
  EXPECT_TRUE(screen.WaitPixel(window, 64, 64, 0x0adc1e)) << "the mended game did not come back";
  EXPECT_EQ(screen.probe().Find("watch-game"), window) << "a new window opened";
  // F12 belongs to the development mode: a screenshot, and the game goes on.
  HoldKey(display, "F12");
  Pause(500);
  EXPECT_FALSE(run.Ended());
  EXPECT_EQ(Files(dir / "game/screenshots", ".png").size(), 1u);

  screen.probe().RequestClose(window);
  RunResult result = run.Finish();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  // Three successful builds: the first save, the one that fails at run
  // time, and the mending (two saves at once); the rename saves count once
  // each, the failed build prints no such line, and the screenshot folder
  // is not watched.
  EXPECT_EQ(Count(result.out, "pelto-tool: rebuilt"), 3u) << result.out;
  EXPECT_EQ(result.out.find("game saw F12"), std::string::npos);
  const std::string& err = result.err;
  size_t trace = err.find("stack traceback:\n");
  ASSERT_NE(trace, std::string::npos) << err;
  EXPECT_NE(err.find("lib/mover.lua:3: attempt to perform arithmetic on a nil value\n"), std::string::npos) << err;
  EXPECT_NE(err.find("lib/mover.lua:3: in function 'step'\n", trace), std::string::npos) << err;
  EXPECT_NE(err.find("boot.lua:8: in main chunk\n", trace), std::string::npos) << err;
  EXPECT_NE(err.find(">    3 |   if fail then return x + nil end\n"), std::string::npos) << err;
  EXPECT_NE(err.find("Build error\nerror: lib/mover.lua:4: unexpected symbol near 'end'"), std::string::npos) << err;
  EXPECT_NE(err.find(">    4 | end\n"), std::string::npos) << err;
}

TEST(RunWatch, PlainRunKeepsTheReleaseBehaviour) {
  START_DISPLAY(display);
  ScratchDir dir;
  dir.Write("game/boot.lua", kBoot);
  dir.Write("game/lib/mover.lua", kMover);
  dir.Write("game/lib/look.lua", Look("200", "40", "40"));
  {
    WatchRun run(dir, display, false);
    unsigned long window = run.Window("watch-game");
    ASSERT_NE(window, 0u);
    Pause(300);
    HoldKey(display, "F12");
    RunResult result = run.Finish();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("game saw F12\n"), std::string::npos) << result.out;
    EXPECT_FALSE(fs::exists(dir / "game/screenshots"));
  }
  dir.Write("game/lib/look.lua", Look("200", "40", "40", true));
  WatchRun run(dir, display, false);
  RunResult result = run.Finish();
  EXPECT_EQ(result.exitCode, 1);
  std::vector<std::string> lines = ErrorLines(result.err);
  ASSERT_EQ(lines.size(), 2u) << result.err;
  EXPECT_EQ(lines[0], "Error: Lua runtime error [lib/mover.lua:3: attempt to perform arithmetic on a nil value]");
  EXPECT_EQ(lines[1], "Error: A fatal error occurred.");
}

}  // namespace
