// The development mode through the real engine: the test plays the part of
// `pelto-tool run --watch` on the development channel (a socket pair and
// the nonce in PELTO_DEV_CHANNEL), rebuilds the game with pelto-tool and
// looks at the window and the files written. Each game runs on an X server
// of its own, so keys sent with xdotool reach it alone. The same games run
// without the channel must behave exactly as they always did.
#include <fcntl.h>
#include <gif_lib.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/dev_channel.h"
#include "tests/e2e/engine_runner.h"
#include "tests/e2e/dev_support.h"
#include "tests/e2e/private_display.h"
#include "tests/e2e/window_probe.h"
#include "video/png.h"

namespace fs = std::filesystem;
using std::chrono::milliseconds;

namespace {

// A 64 x 48 screen in a 128 x 96 window: a background colour with a yellow
// rectangle. It reports the capture keys if they ever reach it, and ends on
// a close request, or on F12 when `quitOnF12`.
std::string SceneGame(const std::string& title, const std::string& rgb, bool quitOnF12 = false) {
  return "OpenDisplay(\"" + title + "\", 64, 48, false, 128, 96)\n"
         "while not OsQuit() do\n"
         "  OsUpdate()\n"
         "  for _, k in ipairs({pelto.KEY_F1, pelto.KEY_F9, pelto.KEY_F12}) do\n"
         "    if KeyPressed(k) then print('game saw key ' .. k) " +
         std::string(quitOnF12 ? "if k == pelto.KEY_F12 then return end " : "") +
         "end\n"
         "  end\n"
         "  Cls(" + rgb + ")\n"
         "  FillRect(4, 4, 11, 9, 255, 255, 0)\n"
         "  Flip()\n"
         "end\n";
}

// Fails at line 5 inside update(), called from line 9 of the main chunk.
std::string FailingGame(const std::string& title) {
  return "OpenDisplay(\"" + title + "\", 64, 48, false, 128, 96)\n"  // 1
         "local frames = 0\n"                                          // 2
         "local function update()\n"                                   // 3
         "  frames = frames + 1\n"                                     // 4
         "  if frames == 5 then missing_function() end\n"              // 5
         "end\n"                                                       // 6
         "while not OsQuit() do\n"                                     // 7
         "  OsUpdate()\n"                                              // 8
         "  update()\n"                                                // 9
         "  Cls(0, 0, 255)\n"                                          // 10
         "  Flip()\n"                                                  // 11
         "end\n";                                                      // 12
}

// The engine with a development channel, on a private display. The game is
// dir/data; its sources (the chunks' file names) live in dir/lua.
class DevEngine {
 public:
  DevEngine(const ScratchDir& dir, const PrivateDisplay& display, const std::vector<std::string>& args,
            bool channel = true, const std::string& channelValue = "")
      : dir_(dir), display_(display) {
    std::map<std::string, std::string> env = {{"DISPLAY", display.name()}};
    if (channel) {
      int fds[2];
      EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
      tool_ = fds[0];
      engineEnd_ = fds[1];
      fcntl(engineEnd_, F_SETFD, 0);  // inherited by the engine alone
      std::string nonce = MakeDevNonce();
      env[kDevChannelVariable] = channelValue.empty() ? std::to_string(engineEnd_) + ":" + nonce : channelValue;
      Send("hello", std::string(kDevProtocol) + " " + nonce);
      Send("root", dir.path());
    } else if (!channelValue.empty()) {
      env[kDevChannelVariable] = channelValue;
    }
    run_ = std::async(std::launch::async, [this, args, env] { return RunGame(dir_, args, env); });
  }
  ~DevEngine() {
    if (run_.valid()) run_.wait();
    if (tool_ >= 0) close(tool_);
    if (engineEnd_ >= 0) close(engineEnd_);
  }

  void Send(const std::string& verb, const std::string& payload = "") { DevSend(tool_, verb, payload); }

  // The next message of this verb from the engine (others are skipped).
  bool WaitFor(const std::string& verb, std::string* payload = nullptr, int timeoutMs = 20000) {
    auto deadline = std::chrono::steady_clock::now() + milliseconds(timeoutMs);
    for (;;) {
      for (size_t i = 0; i < inbox_.size(); ++i) {
        if (inbox_[i].verb != verb) continue;
        if (payload) *payload = inbox_[i].payload;
        inbox_.erase(inbox_.begin(), inbox_.begin() + static_cast<long>(i) + 1);
        return true;
      }
      if (std::chrono::steady_clock::now() > deadline || Ended()) return false;
      pollfd p = {tool_, POLLIN, 0};
      if (poll(&p, 1, 50) > 0) DevReceive(tool_, &reader_, &inbox_);
      // Once the engine has the channel, the test's copy of its end goes.
      if (engineEnd_ >= 0 && !inbox_.empty()) {
        close(engineEnd_);
        engineEnd_ = -1;
      }
    }
  }

  bool Ended() { return run_.wait_for(milliseconds(0)) == std::future_status::ready; }

  // The engine's window, once mapped and focused (keys need the focus).
  std::string Window(const std::string& title) { return FocusedWindow(display_, title, [this] { return Ended(); }); }

  void Key(const std::string& key) { HoldKey(display_, key); }

  RunResult Finish() { return run_.get(); }

 private:
  const ScratchDir& dir_;
  const PrivateDisplay& display_;
  int tool_ = -1, engineEnd_ = -1;
  DevMessageReader reader_;
  std::vector<DevMessage> inbox_;
  std::future<RunResult> run_;
};


TEST(DevMode, ReloadShowsTheRebuiltGameInTheSameWindow) {
  START_DISPLAY(display);
  ScratchDir dir;
  BuildGame(dir, {{"boot.lua", SceneGame("dev-reload", "200, 40, 40")}});
  DevEngine engine(dir, display, {"--nocrt"});
  ASSERT_TRUE(engine.WaitFor("hello"));
  ASSERT_TRUE(engine.WaitFor("started"));
  Screen screen(display);
  std::string id = engine.Window("dev-reload");
  ASSERT_FALSE(id.empty());
  unsigned long window = std::strtoul(id.c_str(), nullptr, 16);
  ASSERT_TRUE(screen.WaitPixel(window, 64, 64, 0xc82828));

  for (int round = 0; round < 2; ++round) {
    std::string colour = round == 0 ? "40, 40, 200" : "10, 220, 30";
    uint32_t want = round == 0 ? 0x2828c8 : 0x0adc1e;
    BuildGame(dir, {{"boot.lua", SceneGame("dev-reload", colour)}});
    engine.Send("reload");
    std::string run;
    ASSERT_TRUE(engine.WaitFor("started", &run));
    EXPECT_EQ(run, std::to_string(round + 2));
    EXPECT_TRUE(screen.WaitPixel(window, 64, 64, want)) << "round " << round;
    EXPECT_EQ(screen.probe().Find("dev-reload"), window) << "a new window opened";
  }
  EXPECT_FALSE(engine.Ended());

  // Without the filter a screenshot reads the middle of each magnified
  // pixel: still exactly the frame as drawn, at 1:1.
  engine.Key("F12");
  std::vector<std::string> pngs;
  for (int i = 0; i < 100 && pngs.empty(); ++i, Pause(50)) pngs = Files(dir / "screenshots", ".png");
  ASSERT_EQ(pngs.size(), 1u) << "no screenshot";
  std::string bytes = ReadFileBytes(pngs[0]);
  RgbaImage png;
  ASSERT_TRUE(DecodePngRgba(&png, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  ASSERT_EQ(png.width, 64u);
  ASSERT_EQ(png.height, 48u);
  int wrong = 0;
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) {
      const uint8_t* p = &png.pixels[(y * 64 + x) * 4];
      bool yellow = x >= 4 && x <= 11 && y >= 4 && y <= 9;
      wrong += (p[0] << 16 | p[1] << 8 | p[2]) != (yellow ? 0xffff00 : 0x0adc1e);
    }
  }
  EXPECT_EQ(wrong, 0);

  screen.probe().RequestClose(window);
  RunResult result = engine.Finish();
  EXPECT_EQ(result.exitCode, 0) << result.err;
}

TEST(DevMode, RuntimeAndLoadErrorsShowTheErrorScreenUntilTheGameIsMended) {
  START_DISPLAY(display);
  ScratchDir dir;
  BuildGame(dir, {{"boot.lua", FailingGame("dev-errors")}});
  DevEngine engine(dir, display, {"--nocrt"});
  ASSERT_TRUE(engine.WaitFor("started"));
  Screen screen(display);
  std::string id = engine.Window("dev-errors");
  ASSERT_FALSE(id.empty());
  unsigned long window = std::strtoul(id.c_str(), nullptr, 16);
  // The runtime error: the error screen, and the engine stays.
  ASSERT_TRUE(screen.WaitPixel(window, 0, 0, kErrorBackground)) << "no error screen";
  Pause(300);
  EXPECT_FALSE(engine.Ended());

  // A syntax error reported by the build.
  std::string broken = dir.Write("lua/broken.lua", "local a = 1\n  local b = = 2\nreturn a\n");
  RunResult compile = RunProcess({ToolPath(), "compile", broken, "-o", dir / "broken.prg"});
  ASSERT_EQ(compile.exitCode, 1);
  engine.Send("build-error", compile.err);
  Pause(500);
  EXPECT_EQ(screen.Pixel(window, 0, 0), kErrorBackground);

  // A chunk that does not load.
  BuildGame(dir, {{"boot.prg", "this is not a chunk"}});
  engine.Send("reload");
  Pause(800);
  EXPECT_EQ(screen.Pixel(window, 0, 0), kErrorBackground);
  EXPECT_FALSE(engine.Ended());

  // Mended: the game runs again in the same window.
  BuildGame(dir, {{"boot.lua", SceneGame("dev-errors", "10, 220, 30")}});
  engine.Send("reload");
  ASSERT_TRUE(engine.WaitFor("started"));
  EXPECT_TRUE(screen.WaitPixel(window, 64, 64, 0x0adc1e));
  EXPECT_EQ(screen.probe().Find("dev-errors"), window);
  screen.probe().RequestClose(window);
  RunResult result = engine.Finish();
  EXPECT_EQ(result.exitCode, 0);

  const std::string& err = result.err;
  std::string boot = dir / "lua/boot.lua";
  EXPECT_NE(err.find("Runtime error\n"), std::string::npos) << err;
  EXPECT_NE(err.find("lua/boot.lua:5: attempt to call global 'missing_function' (a nil value)\n"), std::string::npos)
      << err;
  size_t trace = err.find("stack traceback:\n");
  ASSERT_NE(trace, std::string::npos) << err;
  size_t inUpdate = err.find("lua/boot.lua:5: in function 'update'\n", trace);
  size_t inMain = err.find("lua/boot.lua:9: in main chunk\n", trace);
  EXPECT_NE(inUpdate, std::string::npos) << err;
  EXPECT_NE(inMain, std::string::npos) << err;
  EXPECT_LT(inUpdate, inMain);
  EXPECT_NE(err.find(">    5 |   if frames == 5 then missing_function() end\n"), std::string::npos) << err;
  EXPECT_NE(err.find("Build error\n"), std::string::npos) << err;
  EXPECT_NE(err.find("lua/broken.lua:2: unexpected symbol near '='"), std::string::npos) << err;
  EXPECT_NE(err.find(">    2 |   local b = = 2\n"), std::string::npos) << err;
  EXPECT_NE(err.find("Cannot load boot.prg\n"), std::string::npos) << err;
  // No release boxes in development mode.
  EXPECT_EQ(err.find("Error: "), std::string::npos) << err;
}

TEST(DevMode, MissingAssetNamesTheEntryRKeyReloadsAndEscQuits) {
  START_DISPLAY(display);
  ScratchDir dir;
  // Loaded inside a coroutine whose failure the script ignores: the run
  // still ends on the error screen.
  BuildGame(dir, {{"boot.lua",
                   "OpenDisplay('dev-asset', 64, 48)\n"
                   "local co = coroutine.create(function() return LoadTileset('gfx/none.pcx', 8, 8) end)\n"
                   "coroutine.resume(co)\n"
                   "while not OsQuit() do OsUpdate() Flip() end\n"}});
  DevEngine engine(dir, display, {"--nocrt"});
  ASSERT_TRUE(engine.WaitFor("started"));
  Screen screen(display);
  std::string id = engine.Window("dev-asset");
  ASSERT_FALSE(id.empty());
  unsigned long window = std::strtoul(id.c_str(), nullptr, 16);
  ASSERT_TRUE(screen.WaitPixel(window, 0, 0, kErrorBackground));
  // R runs the game again from archives mounted afresh: a game that shows
  // green for a moment, then fails the same way.
  BuildGame(dir, {{"boot.lua",
                   "OpenDisplay('dev-asset', 64, 48, false, 128, 96)\n"
                   "local start = OsTicks()\n"
                   "while OsTicks() - start < 1500 do OsUpdate() Cls(10, 220, 30) Flip() end\n"
                   "LoadTileset('gfx/none.pcx', 8, 8)\n"}});
  HoldKey(display, "r");
  EXPECT_TRUE(screen.WaitPixel(window, 64, 64, 0x0adc1e, 5000)) << "R did not reload";
  ASSERT_TRUE(screen.WaitPixel(window, 0, 0, kErrorBackground));
  HoldKey(display, "Escape");
  RunResult result = engine.Finish();
  EXPECT_EQ(result.exitCode, 1) << "Esc on the error screen quits with 1";
  EXPECT_NE(result.err.find("lua/boot.lua:2: Data file missing or corrupt. (no entry named \"gfx/none.pcx\")"),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("lua/boot.lua:4: Data file missing or corrupt. (no entry named \"gfx/none.pcx\")"),
            std::string::npos)
      << result.err;
}

TEST(DevMode, AnErrorBeforeAnyWindowGetsOneThatTheMendedGameKeeps) {
  START_DISPLAY(display);
  ScratchDir dir;
  BuildGame(dir, {{"boot.lua", "local t = nil\nprint(t.x)\n"}});
  DevEngine engine(dir, display, {"--nocrt"});
  ASSERT_TRUE(engine.WaitFor("started"));
  Screen screen(display);
  std::string id = engine.Window("pelto (development)");
  ASSERT_FALSE(id.empty()) << "no window for the error screen";
  unsigned long window = std::strtoul(id.c_str(), nullptr, 16);
  ASSERT_TRUE(screen.WaitPixel(window, 0, 0, kErrorBackground));
  BuildGame(dir, {{"boot.lua", SceneGame("dev-late", "10, 220, 30")}});
  engine.Send("reload");
  ASSERT_TRUE(engine.WaitFor("started"));
  EXPECT_TRUE(screen.WaitPixel(window, 64, 64, 0x0adc1e));
  EXPECT_EQ(screen.probe().Find("dev-late"), window) << "the game opened a window of its own";
  int width = 0, height = 0;
  EXPECT_TRUE(screen.probe().Size(window, &width, &height));
  EXPECT_EQ(width, 128);
  EXPECT_EQ(height, 96);
  screen.probe().RequestClose(window);
  RunResult result = engine.Finish();
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(result.err.find("lua/boot.lua:2: attempt to index local 't' (a nil value)"), std::string::npos)
      << result.err;
}

bool ReadGif(const std::string& path, int* width, int* height, int* frames, int* totalDelay) {
  int error = 0;
  GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
  if (!gif) return false;
  bool ok = DGifSlurp(gif) == GIF_OK;
  *width = gif->SWidth;
  *height = gif->SHeight;
  *frames = gif->ImageCount;
  *totalDelay = 0;
  for (int i = 0; ok && i < gif->ImageCount; ++i) {
    GraphicsControlBlock control;
    if (DGifSavedExtensionToGCB(gif, i, &control) == GIF_OK) *totalDelay += control.DelayTime;
  }
  DGifCloseFile(gif, &error);
  return ok;
}

TEST(DevMode, CaptureKeysWriteThePictureAndNeverReachTheGame) {
  START_DISPLAY(display);
  ScratchDir dir;
  // A moving square, so a recording has frames that differ.
  std::string game =
      "OpenDisplay('dev-capture', 64, 48, false, 128, 96)\n"
      "local x = 0\n"
      "while not OsQuit() do\n"
      "  OsUpdate()\n"
      "  for _, k in ipairs({pelto.KEY_F1, pelto.KEY_F9, pelto.KEY_F12}) do\n"
      "    if KeyPressed(k) then print('game saw key ' .. k) end\n"
      "  end\n"
      "  Cls(30, 60, 90)\n"
      "  FillRect(4, 4, 11, 9, 255, 255, 0)\n"
      "  x = (x + 1) % 40\n"
      "  FillRect(20 + x, 30, 23 + x, 33, 0, 255, 255)\n"
      "  Flip()\n"
      "  local t = OsTicks() while OsTicks() - t < 20 do end\n"
      "end\n";
  BuildGame(dir, {{"boot.lua", game}});
  DevEngine engine(dir, display, {});
  ASSERT_TRUE(engine.WaitFor("started"));
  Screen screen(display);
  std::string id = engine.Window("dev-capture");
  ASSERT_FALSE(id.empty());
  unsigned long window = std::strtoul(id.c_str(), nullptr, 16);
  Pause(300);
  std::string shots = dir / "screenshots";

  engine.Key("F12");
  std::vector<std::string> pngs;
  for (int i = 0; i < 100 && pngs.empty(); ++i, Pause(50)) pngs = Files(shots, ".png");
  ASSERT_EQ(pngs.size(), 1u) << "no screenshot";
  std::string bytes = ReadFileBytes(pngs[0]);
  RgbaImage png;
  ASSERT_TRUE(DecodePngRgba(&png, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  ASSERT_EQ(png.width, 64u);
  ASSERT_EQ(png.height, 48u);
  // The frame as drawn: the background, the yellow square, the moving one.
  int wrong = 0, square = 0;
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) {
      const uint8_t* p = &png.pixels[(y * 64 + x) * 4];
      uint32_t c = p[0] << 16 | p[1] << 8 | p[2];
      bool yellow = x >= 4 && x <= 11 && y >= 4 && y <= 9;
      if (y >= 30 && y <= 33 && c == 0x00ffff) {
        ++square;
        continue;
      }
      if (c != (yellow ? 0xffff00u : 0x1e3c5au) || p[3] != 255) ++wrong;
    }
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(square, 16) << "the moving square, 4 x 4";

  // F1 puts the overlay on the window's top-left corner, and takes it away.
  WindowImage before = screen.Grab(window);
  engine.Key("F1");
  Pause(300);
  WindowImage with = screen.Grab(window);
  std::string report;
  EXPECT_GT(CountMismatches(with, before, 8, &report), 100) << "the overlay did not show";

  // F9 twice: a GIF at the virtual size with several frames.
  engine.Key("F9");
  Pause(1200);
  engine.Key("F9");
  std::vector<std::string> gifs;
  for (int i = 0; i < 100 && gifs.empty(); ++i, Pause(50)) gifs = Files(shots, ".gif");
  ASSERT_EQ(gifs.size(), 1u) << "no recording";
  int width = 0, height = 0, frames = 0, delay = 0;
  ASSERT_TRUE(ReadGif(gifs[0], &width, &height, &frames, &delay));
  EXPECT_EQ(width, 64);
  EXPECT_EQ(height, 48);
  EXPECT_GE(frames, 5);
  EXPECT_GE(delay, 80);   // about 1.4 s between the presses
  EXPECT_LE(delay, 400);

  screen.probe().RequestClose(window);
  RunResult result = engine.Finish();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out.find("game saw key"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("pelto: saved " + pngs[0] + "\n"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("pelto: saved " + gifs[0] + "\n"), std::string::npos) << result.out;
}

// The same games without a channel, or with a variable that names none:
// F12 is the game's key, nothing is written, and an error ends the run with
// the two boxes and exit code 1, as ever.
TEST(DevMode, WithoutTheChannelEveryBehaviourStaysAsItWas) {
  for (std::string channelValue : {std::string(""), std::string("5:0123456789abcdef0123456789abcdef"), std::string("junk")}) {
    SCOPED_TRACE("PELTO_DEV_CHANNEL=" + channelValue);
    {
      START_DISPLAY(display);
      ScratchDir dir;
      BuildGame(dir, {{"boot.lua", SceneGame("release-keys", "30, 60, 90", true)}});
      DevEngine engine(dir, display, {}, false, channelValue);
      std::string id = engine.Window("release-keys");
      ASSERT_FALSE(id.empty());
      Pause(300);
      engine.Key("F1");
      engine.Key("F12");
      RunResult result = engine.Finish();
      EXPECT_EQ(result.exitCode, 0) << result.err;
      EXPECT_NE(result.out.find("game saw key 258\n"), std::string::npos) << result.out;
      EXPECT_NE(result.out.find("game saw key 269\n"), std::string::npos) << result.out;
      EXPECT_FALSE(fs::exists(dir / "screenshots"));
      EXPECT_EQ(result.err, "");
    }
    ScratchDir dir;
    BuildGame(dir, {{"boot.lua", FailingGame("release-error")}});
    std::map<std::string, std::string> env;
    if (!channelValue.empty()) env[kDevChannelVariable] = channelValue;
    RunResult result = RunGame(dir, {}, env);
    EXPECT_EQ(result.exitCode, 1);
    std::string where = dir / "lua/boot.lua";
    std::vector<std::string> lines = ErrorLines(result.err);
    ASSERT_EQ(lines.size(), 2u) << result.err;
    EXPECT_NE(lines[0].find("Error: Lua runtime error ["), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("boot.lua:5: attempt to call global 'missing_function' (a nil value)]"), std::string::npos);
    EXPECT_EQ(lines[1], "Error: A fatal error occurred.");
    EXPECT_EQ(result.err.find("stack traceback"), std::string::npos);
  }
}

}  // namespace
