// pelto-tool new NAME: a game folder to start from, which `pelto-tool run
// NAME` shows at once: a window with a sprite bouncing about and a line of
// text.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tools/commands.h"
#include "tools/tool_files.h"
#include "video/png.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] = "usage: pelto-tool new NAME\n";

// %s is the game's name, in the window title.
const char kBootTemplate[] =
    "-- %s: where the game starts. 'pelto-tool run' builds it and runs it.\n"
    "-- Other *.lua files beside this one are modules: require(\"lib.util\")\n"
    "-- loads lib/util.lua.\n"
    "local text = require(\"pelto.text\")\n"
    "\n"
    "local WIDTH, HEIGHT = 160, 120\n"
    "-- A 160x120 screen magnified 4 times: a 640x480 window.\n"
    "OpenDisplay(\"%s\", WIDTH, HEIGHT, false, WIDTH * 4, HEIGHT * 4)\n"
    "\n"
    "-- sprite.png is one 16x16 tile.\n"
    "local sprites = LoadTileset(\"sprite.png\", 16, 16)\n"
    "local x, y, dx, dy = 20, 30, 40, 30  -- position, speed in pixels a second\n"
    "\n"
    "local last = OsTicks()\n"
    "while not OsQuit() do\n"
    "  OsUpdate()\n"
    "  if KeyDown(pelto.KEY_ESC) then break end\n"
    "  local now = OsTicks()\n"
    "  local dt = math.min((now - last) / 1000, 0.1)\n"
    "  last = now\n"
    "\n"
    "  x, y = x + dx * dt, y + dy * dt\n"
    "  if x < 0 or x > WIDTH - 16 then dx = -dx end\n"
    "  if y < 12 or y > HEIGHT - 16 then dy = -dy end\n"
    "  x = math.max(0, math.min(WIDTH - 16, x))\n"
    "  y = math.max(12, math.min(HEIGHT - 16, y))\n"
    "\n"
    "  Cls(20, 24, 48)\n"
    "  text.draw(\"Hello from pelto!\", 2, 2, 255, 220, 120)\n"
    "  Sprite(sprites, x, y, 0)\n"
    "  Flip()\n"
    "end\n"
    "CloseDisplay()\n";

// A 16x16 ball: a yellow disc with a darker rim, a white shine and a
// transparent outside.
RgbaImage MakeSprite() {
  RgbaImage image;
  image.width = image.height = 16;
  image.pixels.assign(16 * 16 * 4, 0);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const double cx = x + 0.5 - 8, cy = y + 0.5 - 8, distance2 = cx * cx + cy * cy;
      uint8_t* pixel = &image.pixels[size_t(y * 16 + x) * 4];
      if (distance2 > 7.5 * 7.5) continue;
      const bool rim = distance2 > 6.2 * 6.2;
      const bool shine = (cx + 3) * (cx + 3) + (cy + 3) * (cy + 3) < 3.0;
      pixel[0] = shine ? 255 : rim ? 200 : 255;
      pixel[1] = shine ? 255 : rim ? 120 : 200;
      pixel[2] = shine ? 255 : rim ? 20 : 40;
      pixel[3] = 255;
    }
  }
  return image;
}

}  // namespace

int RunNewCommand(int argc, char** argv) {
  std::string name;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::printf("%s", kUsage);
      std::printf(
          "\nMakes the folder NAME with a game to start from: boot.lua, which opens\n"
          "a window and draws a bouncing sprite and a line of text, and\n"
          "sprite.png. Then:\n"
          "  pelto-tool run NAME\n"
          "NAME must not exist yet, or be an empty folder.\n\n"
          "options:\n"
          "  -h, --help   this text\n");
      return 0;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "pelto-tool new: unknown option '%s'\n%s", arg.c_str(), kUsage);
      return 2;
    }
    if (!name.empty() || arg.empty()) {
      std::fprintf(stderr, "pelto-tool new: %s\n%s", arg.empty() ? "empty name" : "more than one NAME", kUsage);
      return 2;
    }
    name = arg;
  }
  if (name.empty()) {
    std::fprintf(stderr, "pelto-tool new: no NAME\n%s", kUsage);
    return 2;
  }

  // Never write over someone's work.
  std::error_code error;
  if (fs::exists(name, error) && !(fs::is_directory(name, error) && fs::is_empty(name, error))) {
    std::fprintf(stderr, "error: %s already exists and is not an empty folder\n", name.c_str());
    return 1;
  }
  std::string title = fs::path(name).lexically_normal().filename().string();
  if (title.empty() || title == "." || title == "..") title = "pelto game";
  std::string luaTitle;  // the title inside a Lua string literal
  for (char c : title) {
    if (c == '"' || c == '\\') luaTitle += '\\';
    if (c == '\n' || c == '\r') c = ' ';
    luaTitle += c;
  }
  std::vector<char> boot(sizeof kBootTemplate + 2 * luaTitle.size());
  int length = std::snprintf(boot.data(), boot.size(), kBootTemplate, luaTitle.c_str(), luaTitle.c_str());
  std::vector<uint8_t> bootBytes(boot.data(), boot.data() + length);

  std::vector<uint8_t> png;
  if (!EncodePngRgba(MakeSprite(), &png)) {
    std::fprintf(stderr, "error: cannot encode sprite.png\n");
    return 1;
  }
  std::string problem;
  if (!WriteFileReplacing(name + "/boot.lua", bootBytes, &problem) ||
      !WriteFileReplacing(name + "/sprite.png", png, &problem)) {
    std::fprintf(stderr, "error: %s\n", problem.c_str());
    return 1;
  }
  std::printf("made %s/boot.lua and %s/sprite.png; run it with: pelto-tool run %s\n", name.c_str(), name.c_str(),
              name.c_str());
  return 0;
}
