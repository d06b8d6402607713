// Keyboard, mouse and joysticks through the real engine: a script opens a
// window and logs what KeyDown, KeyPressed, Inkey and the mouse functions
// report, while xdotool types and moves the pointer. Each game runs on an X
// server of its own, so focus and pointer belong to the test alone.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/engine_runner.h"
#include "tests/e2e/private_display.h"

namespace {

using std::chrono::milliseconds;

// Logs every change the input functions report, one line each, until F12 is
// pressed (or 20 seconds pass). Arguments: "repeat" turns key repeat on,
// "centred" opens a 800 x 600 window around the 320 x 240 screen.
const char* kLoggerScript = R"(
local opt = {}
for i = 2, #pelto.args do opt[pelto.args[i]] = true end
if opt.centred then
  OpenDisplay("pelto input", 320, 240, false, 800, 600)
else
  OpenDisplay("pelto input", 320, 240)
end
if opt["repeat"] then KeyRepeatOn() end
print("joystick " .. JoystickPosition(1, 1) .. " " .. tostring(JoystickButton(1, 1)))
local down, mouse, lmb, rmb = {}, "", false, false
local start = OsTicks()
while true do
  OsUpdate()
  if KeyPressed(pelto.KEY_F12) then break end
  if OsTicks() - start > 20000 then print("timeout") break end
  for k = 0, 325 do
    local d = KeyDown(k)
    if d ~= (down[k] or false) then print((d and "down " or "up ") .. k) down[k] = d end
    if KeyPressed(k) then print("pressed " .. k) end
  end
  local c = Inkey()
  if c then print("char " .. c) end
  local m = MouseX() .. " " .. MouseY()
  if m ~= mouse then print("mouse " .. m) mouse = m end
  if MouseLMB() ~= lmb then lmb = MouseLMB() print("lmb " .. tostring(lmb)) end
  if MouseRMB() ~= rmb then rmb = MouseRMB() print("rmb " .. tostring(rmb)) end
  Cls()
  Flip()
end
CloseDisplay()
)";

// The logger script running on a private display, driven with xdotool.
class InputSession {
 public:
  InputSession(const PrivateDisplay& display, const std::vector<std::string>& args) : display_(display) {
    BuildGame(dir_, {{"boot.lua", kLoggerScript}});
    runner_ = std::thread([this, args] { result_ = RunGame(dir_, args, {{"DISPLAY", display_.name()}}); });
    for (int i = 0; i < 100 && window_.empty(); ++i) {
      std::this_thread::sleep_for(milliseconds(100));
      window_ = FindWindow();
    }
    if (!window_.empty() && !Focus()) window_.clear();
  }
  ~InputSession() {
    if (runner_.joinable()) Finish();
  }

  bool ready() const { return !window_.empty(); }
  const std::string& window() const { return window_; }
  void Xdo(std::vector<std::string> args) {
    args.insert(args.begin(), "/usr/bin/xdotool");
    display_.Run(args);
  }
  static void Pause(int ms) { std::this_thread::sleep_for(milliseconds(ms)); }

  // Ends the script with its marker key and returns its log lines.
  std::vector<std::string> Finish() {
    // Held over a few frames: a key pressed and released within one frame is not seen.
    Xdo({"keydown", "F12"});
    Pause(150);
    Xdo({"keyup", "F12"});
    runner_.join();
    EXPECT_EQ(result_.exitCode, 0) << result_.err;
    EXPECT_EQ(result_.out.find("timeout"), std::string::npos) << result_.out;
    std::vector<std::string> lines;
    std::istringstream in(result_.out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

 private:
  // Gives the mapped window the keyboard focus and checks that it has it
  // (there is no window manager to do either).
  bool Focus() {
    unsigned long id = std::strtoul(window_.c_str(), nullptr, 16);
    for (int i = 0; i < 50; ++i) {
      if (display_.Run({"/usr/bin/xwininfo", "-id", window_}).out.find("IsViewable") != std::string::npos) {
        Xdo({"windowfocus", window_});
        std::string focused = display_.Run({"/usr/bin/xdotool", "getwindowfocus"}).out;
        if (std::strtoul(focused.c_str(), nullptr, 10) == id) {
          Pause(200);
          return true;
        }
      }
      Pause(100);
    }
    return false;
  }

  // The id of the top-level window titled "pelto input" (xdotool's own
  // search misses windows that no window manager has dealt with).
  std::string FindWindow() {
    std::string tree = display_.Run({"/usr/bin/xwininfo", "-root", "-tree"}).out;
    size_t at = tree.find(" \"pelto input\": ");
    if (at == std::string::npos) return "";
    size_t idStart = tree.find_first_not_of(' ', tree.rfind('\n', at) + 1);
    return tree.substr(idStart, tree.find(' ', idStart) - idStart);
  }

  const PrivateDisplay& display_;
  ScratchDir dir_;
  std::thread runner_;
  RunResult result_;
  std::string window_;
};

// The lines of `log` that start with one of the prefixes, in order.
std::vector<std::string> Only(const std::vector<std::string>& log, std::vector<std::string> prefixes) {
  std::vector<std::string> kept;
  for (const std::string& line : log) {
    for (const std::string& p : prefixes) {
      if (line.compare(0, p.size(), p) == 0) {
        kept.push_back(line);
        break;
      }
    }
  }
  return kept;
}

// One line for readable failures.
std::string Join(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& l : lines) all += (all.empty() ? "" : ", ") + l;
  return all;
}

int Count(const std::vector<std::string>& log, const std::string& line) {
  int n = 0;
  for (const std::string& l : log) n += l == line;
  return n;
}

#define START_SESSION(session, display, ...)                                  \
  PrivateDisplay display;                                                     \
  if (!display.ok()) GTEST_SKIP() << "no Xvfb for a private display";         \
  InputSession session(display, __VA_ARGS__);                                 \
  ASSERT_TRUE(session.ready()) << "the window did not appear"

TEST(InputEngine, KeysArriveWithTheirScriptCodesPressedOnceAndReleased) {
  START_SESSION(s, display, {});
  for (const char* key : {"a", "Up", "Escape", "KP_Enter", "F1", "shift", "Return", "BackSpace", "space", "5",
                          "bracketleft", "Right", "ctrl", "alt", "Super_L", "KP_Home", "Home", "Delete"}) {
    s.Xdo({"keydown", key});
    s.Pause(150);
    s.Xdo({"keyup", key});
    s.Pause(150);
  }
  std::vector<std::string> keys = Only(s.Finish(), {"down", "up", "pressed"});
  const int codes[] = {65, 283, 257, 318, 258, 287, 294, 295, 32, 53, 91, 286, 289, 291, 323, 309, 300, 297};
  std::vector<std::string> expected;
  for (int code : codes) {
    std::string c = std::to_string(code);
    expected.insert(expected.end(), {"down " + c, "pressed " + c, "up " + c});
  }
  EXPECT_EQ(Join(keys), Join(expected));
}

TEST(InputEngine, AHeldKeyWithoutRepeatIsOnePressAndOneCharacter) {
  START_SESSION(s, display, {});
  s.Xdo({"keydown", "a"});
  s.Pause(1600);  // well beyond the server's repeat delay
  s.Xdo({"keyup", "a"});
  s.Pause(200);
  std::vector<std::string> log = s.Finish();
  EXPECT_EQ(Count(log, "pressed 65"), 1);
  EXPECT_EQ(Count(log, "char a"), 1);
  EXPECT_EQ(Only(log, {"down", "up"}), (std::vector<std::string>{"down 65", "up 65"}));
}

TEST(InputEngine, AHeldKeyWithRepeatOnPressesAndTypesAgain) {
  START_SESSION(s, display, {"repeat"});
  s.Xdo({"keydown", "a"});
  s.Pause(1600);
  s.Xdo({"keyup", "a"});
  s.Pause(200);
  std::vector<std::string> log = s.Finish();
  EXPECT_GE(Count(log, "pressed 65"), 5);
  EXPECT_GE(Count(log, "char a"), 5);
  // Repeats are presses of a key that stays down: it goes up once, at the end.
  EXPECT_EQ(Only(log, {"down", "up"}), (std::vector<std::string>{"down 65", "up 65"}));
}

TEST(InputEngine, TypedCharactersReachInkeyButControlKeysDoNot) {
  START_SESSION(s, display, {});
  for (const char* key : {"H", "i", "exclam", "Return", "BackSpace", "Escape", "Tab", "space", "asciitilde", "eacute"}) {
    s.Xdo({"key", key});
    s.Pause(150);
  }
  std::string typed;
  for (const std::string& line : Only(s.Finish(), {"char "})) typed += line.substr(5);
  EXPECT_EQ(typed, "Hi! ~");
}

TEST(InputEngine, ShiftedLettersAreStillTheUpperCaseKey) {
  START_SESSION(s, display, {});
  for (const char* step : {"keydown shift", "keydown b", "keyup b", "keyup shift"}) {
    std::string action(step);
    s.Xdo({action.substr(0, action.find(' ')), action.substr(action.find(' ') + 1)});
    s.Pause(150);
  }
  std::vector<std::string> log = s.Finish();
  EXPECT_EQ(Count(log, "pressed 66"), 1);
  EXPECT_EQ(Count(log, "pressed 98"), 0);
  EXPECT_EQ(Count(log, "char B"), 1);
}

TEST(InputEngine, MouseMapsToVirtualPixelsThroughScaleAndCentring) {
  // 320 x 240 in an 800 x 600 window: scale 2, picture from (80, 60).
  START_SESSION(s, display, {"centred"});
  const int moves[][2] = {{401, 301}, {80, 60}, {719, 539}, {10, 10}, {799, 599}, {81, 61}, {82, 62}};
  for (const auto& m : moves) {
    s.Xdo({"mousemove", "--window", s.window(), std::to_string(m[0]), std::to_string(m[1])});
    s.Pause(200);
  }
  std::vector<std::string> mouse = Only(s.Finish(), {"mouse"});
  ASSERT_FALSE(mouse.empty());
  mouse.erase(mouse.begin());  // wherever the pointer started
  EXPECT_EQ(mouse, (std::vector<std::string>{"mouse 160 120", "mouse 0 0", "mouse 319 239", "mouse 0 0",
                                             "mouse 319 239", "mouse 0 0", "mouse 1 1"}));
}

TEST(InputEngine, MouseWithDoubleScaleAndButtons) {
  START_SESSION(s, display, {"--double"});
  s.Xdo({"mousemove", "--window", s.window(), "301", "201"});
  s.Pause(200);
  s.Xdo({"mousemove", "--window", s.window(), "639", "479"});
  s.Pause(200);
  for (const char* button : {"1", "3"}) {
    s.Xdo({"mousedown", button});
    s.Pause(200);
    s.Xdo({"mouseup", button});
    s.Pause(200);
  }
  std::vector<std::string> log = s.Finish();
  std::vector<std::string> mouse = Only(log, {"mouse"});
  ASSERT_GE(mouse.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(mouse.end() - 2, mouse.end()),
            (std::vector<std::string>{"mouse 150 100", "mouse 319 239"}));
  EXPECT_EQ(Only(log, {"lmb", "rmb"}),
            (std::vector<std::string>{"lmb true", "lmb false", "rmb true", "rmb false"}));
}

TEST(InputEngine, NoJoystickReadsCentredAndReleased) {
  START_SESSION(s, display, {});
  EXPECT_EQ(Only(s.Finish(), {"joystick"}), std::vector<std::string>{"joystick 0 false"});
}

// Without a window the input functions answer at rest, and every argument
// is read by the engine's usual rules.
TEST(InputEngine, FunctionsWithoutAWindowAnswerAtRest) {
  RunResult r = RunBootSource(R"(
    print(KeyDown(pelto.KEY_A), KeyDown("65"), KeyPressed(-1), KeyPressed(326), KeyPressed(1e12), KeyDown())
    print(Inkey(), select("#", KeyRepeatOn()), select("#", KeyRepeatOff()))
    print(MouseX(), MouseY(), MouseLMB(), MouseRMB(), select("#", MouseOn()), select("#", MouseOff()))
    print(JoystickPosition(1, 1), JoystickPosition(3, 1), JoystickButton(2, 5), JoystickButton(0, 0))
  )", {"--double"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "false\tfalse\tfalse\tfalse\tfalse\tfalse\n"
            "nil\t0\t0\n"
            "0\t0\tfalse\tfalse\t0\t0\n"
            "0\t0\tfalse\tfalse\n");
}

}  // namespace
