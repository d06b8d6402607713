// The development mode (see the header): the channel to the tool, runs of
// the game that end on a reload, the error screen, the capture keys and the
// overlay. Everything here runs on the main thread.
//
// How a reload interrupts the script: the script's loop runs inside
// lua_pcall, so the run is ended by a Lua error whose value is a private
// light userdata (kStopRun). Every engine API function is registered
// through a trampoline that, after the call, raises it once a stop is
// pending; OsUpdate and Flip poll the channel first, so a reload lands
// within a frame. A count hook raises it too, so even a script stuck in a
// loop that calls nothing is stopped. A script that catches the error with
// pcall gets it again at its next engine call or hook. Release runs register
// the plain functions and set no hook.
#include "host/dev_mode.h"

#include <ctime>
#include <lua.hpp>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "archive/asset.h"
#include "audio/audio_stream.h"
#include "audio/mixer.h"
#include "audio/tracker.h"
#include "banks/bank.h"
#include "banks/random.h"
#include "host/api_table.h"
#include "host/chunk_loaders.h"
#include "host/dev_channel.h"
#include "host/error_report.h"
#include "host/host.h"
#include "host/script_host.h"
#include "input/input_events.h"
#include "video/capture.h"
#include "video/dev_screen.h"
#include "video/display.h"
#include "video/display_state.h"
#include "video/playfield.h"
#include "video/render_stats.h"
#include "video/text_canvas.h"
#include "video/tilemap.h"
#include "video/tileset.h"
#include "video/window.h"

namespace fs = std::filesystem;

namespace {

// Script key codes of the keys the development mode takes.
constexpr int kKeyEsc = 257;
constexpr int kKeyF1 = 258;
constexpr int kKeyF9 = 266;
constexpr int kKeyF12 = 269;
constexpr int kKeyPress = 1;

constexpr double kGifLimitSeconds = 60.0;
constexpr int kHookInstructions = 10000;  // instructions between two looks at the channel from the hook
constexpr int kGraphFrames = 120;

const char kStopRun = 0;  // its address is the error value that ends a run

enum class Pending { None, Reload, BuildError };

struct DevState {
  bool active = false;
  int fd = -1;
  DevMessageReader reader;
  std::string root;           // the game folder: screenshots and source files
  DisplayState startDisplay;  // the display record as the options left it
  bool mounted = false;
  int runNumber = 0;

  lua_State* L = nullptr;          // the running game's state
  lua_State* apiThread = nullptr;  // the thread inside an engine API call, if any
  bool stopRun = false;            // unwind the running script
  std::string fatalText;           // a fatal error of this run, raised again until the run ends
  Pending pending = Pending::None;
  std::string buildError;
  double lastPoll = 0;

  // Keys and captures.
  bool onErrorScreen = false;
  int errorKey = 0;
  bool overlay = false;
  bool screenshotWanted = false;
  bool gifToggle = false;
  double gifStart = 0;

  // Overlay figures.
  double lastFlip = -1;
  float frameMs[kGraphFrames] = {};
  int frameCursor = 0;
  int frameCount = 0;
  RenderStats lastStats = {0, 0};
};

DevState dev;

// ---- the channel ----

void HandleMessage(const DevMessage& message) {
  if (message.verb == "root") {
    dev.root = message.payload;
  } else if (message.verb == "reload") {
    dev.pending = Pending::Reload;
    dev.stopRun = true;
  } else if (message.verb == "build-error") {
    dev.pending = Pending::BuildError;
    dev.buildError = message.payload;
    dev.stopRun = true;
  }
  // Unknown verbs come from a newer tool: ignored.
}

void PollChannel() {
  dev.lastPoll = WindowTime();
  if (dev.fd < 0) return;
  std::vector<DevMessage> messages;
  bool open = DevReceive(dev.fd, &dev.reader, &messages);
  for (const DevMessage& message : messages) HandleMessage(message);
  if (!open) {
    // The tool is gone: the game goes on without reloads.
    close(dev.fd);
    dev.fd = -1;
  }
}

void Send(const char* verb, const std::string& payload) {
  if (dev.fd >= 0 && !DevSend(dev.fd, verb, payload)) {
    close(dev.fd);
    dev.fd = -1;
  }
}

std::string GameFolder() { return dev.root.empty() ? std::string(".") : dev.root; }

// ---- interrupting the script ----

[[noreturn]] void RaiseStop(lua_State* L) {
  lua_pushlightuserdata(L, const_cast<char*>(&kStopRun));
  lua_error(L);
  std::abort();  // lua_error does not return
}

// A fatal error ends the run even when a coroutine's resume or a pcall
// caught it: it comes back at the next engine call or hook.
void RaisePending(lua_State* L) {
  if (dev.stopRun) RaiseStop(L);
  if (!dev.fatalText.empty()) {
    lua_pushlstring(L, dev.fatalText.data(), dev.fatalText.size());
    lua_error(L);
  }
}

bool polls[128];  // per engine API entry: OsUpdate and Flip look at the channel

int ApiTrampoline(lua_State* L) {
  int index = static_cast<int>(lua_tointeger(L, lua_upvalueindex(1)));
  RaisePending(L);
  dev.apiThread = L;
  int results = kEngineApi[index].function(L);
  dev.apiThread = nullptr;
  if (polls[index]) PollChannel();
  RaisePending(L);
  return results;
}

void CountHook(lua_State* L, lua_Debug*) {
  if (WindowTime() - dev.lastPoll > 0.05) PollChannel();
  RaisePending(L);
}

void RegisterTrampolines(lua_State* L) {
  for (int i = 0; kEngineApi[i].function; ++i) {
    polls[i] = std::strcmp(kEngineApi[i].name, "OsUpdate") == 0 || std::strcmp(kEngineApi[i].name, "Flip") == 0;
    lua_pushinteger(L, i);
    lua_pushcclosure(L, ApiTrampoline, 1);
    lua_setfield(L, LUA_GLOBALSINDEX, kEngineApi[i].name);
  }
}

// ---- errors ----

ErrorReport collected;  // the traceback the message handler took

TraceLevel LevelOf(const lua_Debug& ar) {
  TraceLevel level;
  bool native = std::strcmp(ar.what, "C") == 0;
  level.where = native ? "[C]" : ar.short_src;
  if (!native && ar.source && ar.source[0] == '@') level.source = ar.source + 1;
  level.line = ar.currentline;
  if (ar.namewhat && *ar.namewhat) {
    level.function = std::string("function '") + (ar.name ? ar.name : "?") + "'";
  } else if (std::strcmp(ar.what, "main") == 0) {
    level.function = "main chunk";
  } else if (native) {
    level.function = "?";
  } else {
    level.function = std::string("function <") + ar.short_src + ":" + std::to_string(ar.linedefined) + ">";
  }
  return level;
}

// The message handler of a run: a stop passes through; any other error has
// its traceback taken while the stack is still there. Like Lua's own
// traceback, a deep stack shows its first 12 and last 10 levels.
int MessageHandler(lua_State* L) {
  if (lua_touserdata(L, 1) == &kStopRun) return 1;
  collected.levels.clear();
  lua_Debug ar;
  int depth = 1;
  while (lua_getstack(L, depth, &ar)) ++depth;
  for (int level = 1; level < depth; ++level) {
    if (level == 13 && depth - 1 > 22) {
      TraceLevel skipped;
      skipped.where = "...";
      skipped.function = "(" + std::to_string(depth - 1 - 22) + " levels skipped)";
      collected.levels.push_back(skipped);
      level = depth - 11;
      continue;
    }
    if (!lua_getstack(L, level, &ar) || !lua_getinfo(L, "Sln", &ar)) break;
    collected.levels.push_back(LevelOf(ar));
  }
  return 1;
}

std::string ErrorValueText(lua_State* L, int index) {
  const char* text = lua_tostring(L, index);
  if (text) return text;
  return std::string("(error object is a ") + luaL_typename(L, index) + " value)";
}

bool ReadSource(const std::string& name, std::string* text) {
  fs::path path(name);
  if (path.is_relative()) path = fs::path(GameFolder()) / path;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream all;
  all << in.rdbuf();
  *text = all.str();
  return true;
}

ErrorReport MakeReport(const std::string& title, const std::string& message) {
  ErrorReport report;
  report.title = title;
  report.message = message;
  return report;
}

// ---- one run of the game ----

enum class RunEnd { Returned, Stopped, Failed };

struct BootLoad {
  const AssetBuffer* boot;
  int status;
};

int LoadBoot(lua_State* L) {
  BootLoad* load = static_cast<BootLoad*>(lua_touserdata(L, 1));
  load->status = LoadEngineChunk(L, reinterpret_cast<const char*>(load->boot->data),
                                 static_cast<size_t>(load->boot->size), "boot.prg");
  return 1;  // the function or the message, left for the caller
}

RunEnd RunOnce(ErrorReport* report) {
  dev.stopRun = false;
  dev.fatalText.clear();
  dev.pending = Pending::None;
  if (!dev.mounted) {
    const char* message = nullptr;
    if (!RemountArchives(&message)) {
      *report = MakeReport("Cannot start the game", message ? message : "Cannot find game data.");
      return RunEnd::Failed;
    }
    dev.mounted = true;
  }
  lua_State* L = luaL_newstate();
  if (!L) {
    *report = MakeReport("Cannot start the game", "Out of memory.");
    return RunEnd::Failed;
  }
  RunEnd end = RunEnd::Failed;
  AssetBuffer boot = {0, nullptr};
  if (lua_cpcall(L, SetUpScriptState, nullptr) != 0) {
    *report = MakeReport("Cannot start the game", "The Lua state could not be set up.");
  } else if (!AssetTryLoad(&boot, "boot.prg")) {
    *report = MakeReport("Cannot start the game", "boot.prg: no such entry in the game's archives, or it is damaged.");
  } else {
    RegisterTrampolines(L);
    lua_pushcfunction(L, MessageHandler);
    BootLoad load = {&boot, 0};
    // The loader runs protected: its function or message stays on the stack.
    lua_pushcfunction(L, LoadBoot);
    lua_pushlightuserdata(L, &load);
    int status = lua_pcall(L, 1, 1, 0);
    if (status == 0) status = load.status;
    if (status != 0) {
      *report = MakeReport("Cannot load boot.prg", status == LUA_ERRMEM ? "Out of memory." : ErrorValueText(L, -1));
    } else {
      ++dev.runNumber;
      Send("started", std::to_string(dev.runNumber));
      dev.L = L;
      dev.lastPoll = WindowTime();
      lua_sethook(L, CountHook, LUA_MASKCOUNT, kHookInstructions);
      collected = ErrorReport();
      status = lua_pcall(L, 0, 0, -2);
      dev.apiThread = nullptr;
      dev.L = nullptr;
      if (dev.stopRun) {
        end = RunEnd::Stopped;
      } else if (status == 0) {
        end = RunEnd::Returned;
      } else if (status == LUA_ERRMEM) {
        *report = MakeReport("Runtime error", "Out of memory.");
      } else {
        *report = collected;
        report->title = "Runtime error";
        report->message = ErrorValueText(L, -1);
      }
    }
  }
  AssetFree(&boot);
  lua_close(L);
  return end;
}

// Everything a run may have changed goes back to how start-up left it; the
// window stays open, parked for the next run's OpenDisplay.
void ResetForNextRun() {
  ParkDisplayWindow();
  DeleteCurrentMusic();
  MixerShutdown();
  MixerInit();
  SetMusicVolumeLevel(1.0);
  for (int slot = 0; slot < kTilesetSlots; ++slot) DeleteTileset(slot);
  ClearTilesets();
  ClearMaps();
  ClearPlayfields();
  ClearBanks();
  Random() = kRandomInitial;
  ClearKeyState();
  WindowSetCursorVisible(true);
  Display() = dev.startDisplay;
  HostClearCloseRequest();
  dev.mounted = false;  // the archives were rebuilt: mounted again before the run
}

// ---- the error screen ----

enum class ScreenEnd { Reload, Quit };

const CanvasColour kBackground = {24, 16, 40, 255};
const CanvasColour kTitleColour = {255, 96, 96, 255};
const CanvasColour kTextColour = {232, 232, 232, 255};
const CanvasColour kMarkColour = {255, 220, 96, 255};
const CanvasColour kHelpColour = {120, 200, 255, 255};

void PaintErrorScreen(TextCanvas* canvas, int width, int height, const std::string& text, const std::string& status) {
  int scale = width >= 1200 && height >= 800 ? 2 : 1;
  int glyph = 8 * scale, lineHeight = 10 * scale, margin = 8;
  CanvasReset(canvas, width, height, kBackground);
  int columns = std::max((width - 2 * margin) / glyph, 1);
  int rows = std::max((height - 2 * margin) / lineHeight - 2, 1);
  std::vector<std::string> lines = WrapText(text, columns);
  int y = margin;
  for (size_t i = 0; i < lines.size() && static_cast<int>(i) < rows; ++i) {
    CanvasColour colour = i == 0 ? kTitleColour : (!lines[i].empty() && lines[i][0] == '>') ? kMarkColour : kTextColour;
    CanvasText(canvas, margin, y, lines[i], colour, scale);
    y += lineHeight;
  }
  std::string help = "R reload   Esc quit   C copy text";
  if (!status.empty()) help += "   " + status;
  CanvasText(canvas, margin, height - margin - glyph, help.substr(0, static_cast<size_t>(columns)), kHelpColour, scale);
}

ScreenEnd ErrorScreen(ErrorReport report, bool buildError) {
  LocateSource(&report, ReadSource);
  std::string text = FormatErrorReport(report);
  std::fprintf(stderr, "%s", text.c_str());
  std::fflush(stderr);
  dev.onErrorScreen = true;
  dev.errorKey = 0;
  std::string status;
  TextCanvas canvas;
  int paintedWidth = 0, paintedHeight = 0;
  bool dirty = true;
  ScreenEnd end = ScreenEnd::Quit;
  for (;;) {
    int width = 0, height = 0;
    bool window = EnsureDevWindow(&width, &height);
    if (window) {
      if (dirty || width != paintedWidth || height != paintedHeight) {
        PaintErrorScreen(&canvas, width, height, text, status);
        paintedWidth = width;
        paintedHeight = height;
        dirty = false;
      }
      DrawCanvasOverlay(canvas, 0, 0);
      PresentDevFrame();
    }
    WindowPollEvents();
    if (HostCloseRequested()) break;
    int key = dev.errorKey;
    dev.errorKey = 0;
    if (key == kKeyEsc) break;
    if (key == 'C') {
      WindowSetClipboard(text.c_str());
      status = "(copied)";
      dirty = true;
    }
    if (key == 'R') {
      // A build error is mended by building again, which is the tool's job.
      if (buildError && dev.fd >= 0) {
        Send("rebuild", "");
        status = "(building...)";
        dirty = true;
      } else {
        end = ScreenEnd::Reload;
        break;
      }
    }
    PollChannel();
    if (dev.pending == Pending::Reload) {
      end = ScreenEnd::Reload;
      break;
    }
    if (dev.pending == Pending::BuildError) {
      dev.pending = Pending::None;
      report = MakeReport("Build error", dev.buildError);
      LocateSource(&report, ReadSource);
      text = FormatErrorReport(report);
      std::fprintf(stderr, "%s", text.c_str());
      buildError = true;
      status.clear();
      dirty = true;
    }
    if (!window && dev.fd < 0) break;  // nothing to show it on and nobody to mend it
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  dev.onErrorScreen = false;
  dev.pending = Pending::None;
  return end;
}

// ---- capture keys and the overlay ----

std::string CapturePath(const char* extension) {
  std::time_t now = std::time(nullptr);
  std::tm local;
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  char stamp[64];
  std::strftime(stamp, sizeof stamp, "pelto-%Y%m%d-%H%M%S", &local);
  fs::path folder = fs::absolute(fs::path(GameFolder()) / "screenshots");
  for (int n = 1;; ++n) {
    std::string name = std::string(stamp) + (n > 1 ? "-" + std::to_string(n) : "") + extension;
    std::error_code error;
    if (!fs::exists(folder / name, error) && !fs::exists(folder / (name + ".part"), error)) return (folder / name).string();
  }
}

bool KeyFilter(int code, int action) {
  if (dev.onErrorScreen) {
    if (action == kKeyPress) dev.errorKey = code;
    return true;
  }
  if (code != kKeyF1 && code != kKeyF9 && code != kKeyF12) return false;
  if (action == kKeyPress) {
    if (code == kKeyF1) dev.overlay = !dev.overlay;
    if (code == kKeyF9) dev.gifToggle = true;
    if (code == kKeyF12) dev.screenshotWanted = true;
  }
  return true;
}

// Flip, before the filter: the frame as the game drew it.
void BeforeFilter() {
  double now = WindowTime();
  if (dev.gifToggle) {
    dev.gifToggle = false;
    if (CaptureGifRunning()) {
      CaptureGifStop(now - dev.gifStart);
    } else {
      const DisplayState& d = Display();
      std::string path = CapturePath(".gif");
      if (CaptureGifStart(path, d.displayWidth, d.displayHeight)) {
        dev.gifStart = now;
        std::printf("pelto: recording %s (F9 stops)\n", path.c_str());
        std::fflush(stdout);
      }
    }
  }
  if (CaptureGifRunning() && now - dev.gifStart > kGifLimitSeconds) CaptureGifStop(kGifLimitSeconds);
  if (!dev.screenshotWanted && !CaptureGifRunning()) return;
  RgbaImage frame;
  if (!ReadVirtualScreen(&frame)) return;
  if (dev.screenshotWanted) {
    dev.screenshotWanted = false;
    CaptureSavePng(frame, CapturePath(".png"));
  }
  if (CaptureGifRunning()) CaptureGifFrame(frame, now - dev.gifStart);
}

void PaintOverlay(TextCanvas* canvas) {
  const int width = 26 * 8 + 8, graphHeight = 24;
  CanvasReset(canvas, width, 5 * 10 + graphHeight + 12, {0, 0, 0, 176});
  float last = dev.frameCount > 0 ? dev.frameMs[(dev.frameCursor + kGraphFrames - 1) % kGraphFrames] : 0.0f;
  float sum = 0;
  int counted = std::min(dev.frameCount, 30);
  for (int i = 1; i <= counted; ++i) sum += dev.frameMs[(dev.frameCursor + kGraphFrames - i) % kGraphFrames];
  double fps = sum > 0 ? 1000.0 * counted / sum : 0.0;
  char line[64];
  int y = 4;
  auto text = [&](const char* s) {
    CanvasText(canvas, 4, y, s, kTextColour, 1);
    y += 10;
  };
  std::snprintf(line, sizeof line, "%5.1f fps %6.1f ms", fps, last);
  text(line);
  // The graph: one column per frame, 0-50 ms, a mark at 16.7 ms.
  int graphTop = y;
  CanvasFill(canvas, 4, graphTop + graphHeight - 1 - graphHeight / 3, kGraphFrames, 1, {60, 90, 60, 255});
  for (int i = 0; i < std::min(dev.frameCount, kGraphFrames); ++i) {
    float ms = dev.frameMs[(dev.frameCursor + kGraphFrames - std::min(dev.frameCount, kGraphFrames) + i) % kGraphFrames];
    int h = std::min(static_cast<int>(ms * graphHeight / 50.0f) + 1, graphHeight);
    CanvasFill(canvas, 4 + i, graphTop + graphHeight - h, 1, h, ms > 17.0f ? kTitleColour : kHelpColour);
  }
  y += graphHeight + 4;
  std::snprintf(line, sizeof line, "draws %u quads %u", dev.lastStats.drawCalls, dev.lastStats.quads);
  text(line);
  int playing = 0;
  for (int ch = 0; ch < Mixer().channelCount; ++ch) {
    if (Mixer().channels[ch].state.load(std::memory_order_relaxed) & (CHANNEL_PLAYING | CHANNEL_START_REQUEST)) ++playing;
  }
  std::snprintf(line, sizeof line, "channels %d/%d", playing, kMixerChannelCount);
  text(line);
  if (Music* music = CurrentMusic()) {
    // The sequencer moves these on the audio thread; a torn read only shows a
    // stale figure for a frame.
    unsigned order = __atomic_load_n(&music->orderPosition, __ATOMIC_RELAXED);
    unsigned row = __atomic_load_n(&music->row, __ATOMIC_RELAXED);
    std::snprintf(line, sizeof line, "music order %u row %u", order, row);
  } else {
    std::snprintf(line, sizeof line, "music none");
  }
  text(line);
  int kb = dev.L ? lua_gc(dev.L, LUA_GCCOUNT, 0) : 0;
  std::snprintf(line, sizeof line, "lua %d KB", kb);
  text(line);
}

// Flip, after the filter: the frame's figures, and the overlay on top.
void BeforeSwap() {
  double now = WindowTime();
  if (dev.lastFlip >= 0) {
    dev.frameMs[dev.frameCursor] = static_cast<float>((now - dev.lastFlip) * 1000.0);
    dev.frameCursor = (dev.frameCursor + 1) % kGraphFrames;
    ++dev.frameCount;
  }
  dev.lastFlip = now;
  dev.lastStats = FrameRenderStats();
  FrameRenderStats() = {0, 0};
  if (!dev.overlay) return;
  TextCanvas canvas;
  PaintOverlay(&canvas);
  DrawCanvasOverlay(canvas, 4, 4);
}

}  // namespace

bool DevModeActive() { return dev.active; }

void DevModeStart() {
#ifdef _WIN32
  // No development channel on Windows yet (host/dev_channel.cpp): release
  // behaviour.
  return;
#endif
  const char* channelValue = std::getenv(kDevChannelVariable);
  if (!channelValue) return;
  std::vector<DevMessage> early;
  int fd = DevChannelAccept(channelValue, 3000, &dev.reader, &early);
  if (fd < 0) return;
  // The descriptor is the engine's alone: nothing it starts inherits it.
#ifndef _WIN32
  unsetenv(kDevChannelVariable);
#endif
  dev.active = true;
  dev.fd = fd;
  dev.startDisplay = Display();
  for (const DevMessage& message : early) HandleMessage(message);
  InputSetKeyFilter(KeyFilter);
  SetFlipHooks(BeforeFilter, BeforeSwap);
}

int DevModeRunScripts() {
  for (;;) {
    ErrorReport report;
    // A build that failed before this run could start (the tool's first
    // build, say) goes straight to the error screen.
    RunEnd end = dev.pending == Pending::BuildError ? RunEnd::Stopped : RunOnce(&report);
    if (end == RunEnd::Returned) return 0;
    bool buildError = false;
    if (end == RunEnd::Stopped) {
      if (dev.pending != Pending::BuildError) {
        ResetForNextRun();
        continue;
      }
      report = MakeReport("Build error", dev.buildError);
      buildError = true;
    }
    dev.pending = Pending::None;
    // Sound stops and the window waits while the error is shown.
    ResetForNextRun();
    if (ErrorScreen(report, buildError) == ScreenEnd::Quit) return 1;
    // A window the error screen had to open is the next run's window too.
    ParkDisplayWindow();
  }
}

void DevModeFatal(int code) {
  if (!dev.active || !dev.apiThread) return;
  lua_State* L = dev.apiThread;
  dev.apiThread = nullptr;
  std::string detail = FatalDetail();
  SetFatalDetail(nullptr, nullptr);
  luaL_where(L, 1);
  if (!detail.empty()) {
    lua_pushfstring(L, "%s (%s)", FatalErrorMessage(code), detail.c_str());
  } else {
    lua_pushstring(L, FatalErrorMessage(code));
  }
  lua_concat(L, 2);
  dev.fatalText = lua_tostring(L, -1);
  lua_error(L);
}

void DevModeShutdown() {
  if (!dev.active) return;
  if (CaptureGifRunning()) CaptureGifStop(WindowTime() - dev.gifStart);
  CaptureShutdown();
  if (dev.fd >= 0) close(dev.fd);
  dev.fd = -1;
}
