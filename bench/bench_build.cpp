// pelto-tool build: a clean build beside rebuilds (nothing changed, one
// module changed, one asset changed) that take their work from the cache,
// for the example game and a generated game of 40 modules and about 3 MB
// of assets. The peer is the way games were made before `build`: one
// `pelto-tool compile` per script, then `pelto-tool pack` of everything.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/game_build.h"
#include "video/png.h"

namespace fs = std::filesystem;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Write(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// A module of about 150 lines: functions, tables, strings, loops.
std::string Module(int index, int count) {
  std::string s = "local M = {}\n";
  if (index + 1 < count) s += "local nextModule = require(\"lib.m" + std::to_string(index + 1) + "\")\n";
  for (int f = 0; f < 30; ++f) {
    std::string n = std::to_string(f);
    s += "function M.f" + n + "(x, y)\n  local t = {a = x, b = y, name = \"f" + n + " of " + std::to_string(index) +
         "\"}\n  for i = 1, " + n + " do t.a = t.a + i * (y or 1) end\n  return t.a, t.name\nend\n";
  }
  return s + "return M\n";
}

// 16-bit mono WAV: a tone with noise, as recorded effects are.
std::string Wav(int samples, int seed) {
  std::string data;
  uint32_t noise = 0x9E3779B9u * uint32_t(seed + 1);
  for (int i = 0; i < samples; ++i) {
    noise = noise * 1664525u + 1013904223u;
    int v = int(8000 * std::sin(i * (0.01 + 0.003 * seed))) + int(noise >> 22) - 512;
    data.push_back(char(v & 255));
    data.push_back(char((v >> 8) & 255));
  }
  auto u32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  auto u16 = [](uint32_t v) { return std::string{char(v), char(v >> 8)}; };
  return "RIFF" + u32(36 + uint32_t(data.size())) + "WAVEfmt " + u32(16) + u16(1) + u16(1) + u32(22050) +
         u32(44100) + u16(2) + u16(16) + "data" + u32(uint32_t(data.size())) + data;
}

// A 32-bit TGA picture with smooth shading and some detail.
std::string Tga(int w, int h, int seed) {
  std::string f(18, '\0');
  f[2] = 2, f[12] = char(w), f[13] = char(w >> 8), f[14] = char(h), f[15] = char(h >> 8), f[16] = 32, f[17] = 8;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) f += {char(x + seed), char(y * 2), char((x ^ y) & 0xF0), char(255)};
  return f;
}

struct Timings {
  double clean = 0, unchanged = 0, moduleChanged = 0, assetChanged = 0;
};

double TimeBuild(const fs::path& game, const fs::path& data) {
  GameBuildOptions options;
  options.gameDir = game.string();
  options.dataDir = data.string();
  GameBuildReport report;
  auto start = std::chrono::steady_clock::now();
  GameBuildStatus status = BuildGame(options, &report);
  double seconds = Seconds(start);
  if (status != GameBuildStatus::Built) {
    std::fprintf(stderr, "build failed: %s\n", report.errors.empty() ? "?" : report.errors[0].c_str());
    std::exit(1);
  }
  return seconds;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Each figure is the median of five runs.
Timings Measure(const fs::path& game, const fs::path& data, const fs::path& module, const fs::path& asset) {
  std::vector<double> clean, unchanged, moduleChanged, assetChanged;
  std::string moduleText, assetBytes;
  {
    std::ifstream m(module, std::ios::binary), a(asset, std::ios::binary);
    moduleText.assign(std::istreambuf_iterator<char>(m), {});
    assetBytes.assign(std::istreambuf_iterator<char>(a), {});
  }
  for (int run = 0; run < 5; ++run) {
    fs::remove_all(data);
    clean.push_back(TimeBuild(game, data));
    unchanged.push_back(TimeBuild(game, data));
    Write(module, "local benchRun = " + std::to_string(run) + "\n" + moduleText);  // new code, not just a comment
    moduleChanged.push_back(TimeBuild(game, data));
    std::string changed = assetBytes;
    changed[changed.size() / 2] ^= char(run + 1);
    Write(asset, changed);
    assetChanged.push_back(TimeBuild(game, data));
  }
  Write(module, moduleText);
  Write(asset, assetBytes);
  return {Median(clean), Median(unchanged), Median(moduleChanged), Median(assetChanged)};
}

// The way before: compile every script with the tool, then pack it all.
double OldWay(const fs::path& game, const fs::path& work, const std::string& tool) {
  std::vector<double> runs;
  for (int run = 0; run < 3; ++run) {
    fs::remove_all(work);
    auto start = std::chrono::steady_clock::now();
    std::vector<std::vector<std::string>> commands;
    std::vector<std::string> pack = {tool, "pack", "-o", (work / "GAME.DAT").string(), "-C", (work / "src").string()};
    for (const auto& entry : fs::recursive_directory_iterator(game)) {
      if (!entry.is_regular_file()) continue;
      std::string name = fs::relative(entry.path(), game).generic_string();
      if (name.rfind("build/", 0) == 0) continue;
      fs::path target = work / "src" / name;
      fs::create_directories(target.parent_path());
      if (entry.path().extension() == ".lua") {
        target.replace_extension(".prg");
        commands.push_back({tool, "compile", entry.path().string(), "-o", target.string()});
        name = name.substr(0, name.size() - 4) + ".prg";
      } else {
        fs::copy_file(entry.path(), target);
      }
      pack.push_back(name);
    }
    commands.push_back(pack);
    std::fflush(stdout);  // a child must not write our buffered lines again
    for (const auto& command : commands) {
      pid_t child = fork();
      if (child == 0) {
        std::vector<char*> argv;
        for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        if (!freopen("/dev/null", "w", stdout)) _exit(127);
        execv(argv[0], argv.data());
        _exit(127);
      }
      int status = 0;
      waitpid(child, &status, 0);
    }
    runs.push_back(Seconds(start));
  }
  return Median(runs);
}

uint64_t FolderBytes(const fs::path& folder) {
  uint64_t total = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file() && entry.path().string().find("/build/") == std::string::npos) total += entry.file_size();
  return total;
}

void Row(const char* name, const fs::path& game, const Timings& t, double oldWay) {
  std::printf("%-30s %7.1f KB  %9.1f ms  %9.1f ms (%4.1f%%)  %9.1f ms  %9.1f ms  %12.1f ms\n", name,
              FolderBytes(game) / 1024.0, t.clean * 1e3, t.unchanged * 1e3, 100 * t.unchanged / t.clean,
              t.moduleChanged * 1e3, t.assetChanged * 1e3, oldWay * 1e3);
}

}  // namespace

int main() {
  const fs::path work = fs::temp_directory_path() / ("pelto-bench-build-" + std::to_string(getpid()));
  const std::string tool = PELTO_TOOL_PATH;

  // The generated game: 40 modules in a chain of requires, 4 WAVs of 10 s
  // (1.7 MB), 4 pictures of 256x256 (1 MB) and the example's music and map.
  const fs::path big = work / "big";
  std::string boot = "local first = require(\"lib.m0\")\n";
  Write(big / "boot.lua", boot);
  for (int i = 0; i < 39; ++i) Write(big / ("lib/m" + std::to_string(i) + ".lua"), Module(i, 39));
  for (int i = 0; i < 4; ++i) Write(big / ("sfx/s" + std::to_string(i) + ".wav"), Wav(220500, i));
  for (int i = 0; i < 4; ++i) Write(big / ("gfx/p" + std::to_string(i) + ".tga"), Tga(256, 256, i));
  fs::copy(fs::path(PELTO_SOURCE_DIR) / "examples/hello/music", big / "music", fs::copy_options::recursive);
  fs::copy(fs::path(PELTO_SOURCE_DIR) / "examples/hello/maps", big / "maps", fs::copy_options::recursive);
  fs::copy(fs::path(PELTO_SOURCE_DIR) / "examples/hello/gfx/tiles.png", big / "gfx/tiles.png");

  const fs::path hello = work / "hello";
  fs::copy(fs::path(PELTO_SOURCE_DIR) / "examples/hello", hello, fs::copy_options::recursive);
  fs::remove_all(hello / "build");

  std::printf("pelto-tool build: clean build, then rebuilds from the cache; the peer is compile + pack of everything\n");
  std::printf("%-30s %10s  %12s  %19s  %12s  %12s  %15s\n", "game", "sources", "clean", "nothing changed",
              "1 module", "1 asset", "compile+pack");
  Timings t = Measure(hello, work / "hello-data", hello / "game/ship.lua", hello / "sfx/chime.wav");
  Row("example (7 modules)", hello, t, OldWay(hello, work / "hello-old", tool));
  t = Measure(big, work / "big-data", big / "lib/m20.lua", big / "sfx/s2.wav");
  Row("generated (40 modules)", big, t, OldWay(big, work / "big-old", tool));
  fs::remove_all(work);
  return 0;
}
