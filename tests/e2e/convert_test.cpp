// pelto-tool convert as users run it: exit codes, the warning and error
// lines, --strict, nothing written on failure; and a converted XM played by
// the real engine, heard through ALSA at the pitch the tracker plays it.
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/engine_runner.h"
#include "tests/e2e/pipe_capture.h"
#include "tests/support/tracker_files.h"

namespace {

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// C-4 on a looped 32-value square: 8363 / 32 = 261 Hz; on row 1 a vibrato
// the engine does not play.
std::vector<uint8_t> SongWithVibrato() {
  xmfile::Module m;
  m.instruments.push_back(xmfile::Instrument::Of(xmfile::Sample::Square(32, 100)));
  m.patterns[0].Put(0, 0, {49, 1}).Put(1, 0, {0, 0, 0, 0x4, 0x44});
  return m.Bytes();
}

TEST(ConvertCommand, WarnsConvertsAndWithStrictWritesNothing) {
  ScratchDir dir;
  std::string song = dir.Write("Song.XM", Text(SongWithVibrato()));
  std::string warning = "pattern 0 row 1 channel 1: vibrato (effect 4) is not supported; the note keeps its pitch\n";

  RunResult strict = RunProcess({ToolPath(), "convert", song, "-o", dir / "strict/song.trk", "--strict"});
  EXPECT_EQ(strict.exitCode, 1);
  EXPECT_EQ(strict.err, "error: " + song + ": " + warning);
  EXPECT_FALSE(Exists(dir / "strict"));

  RunResult ok = RunProcess({ToolPath(), "convert", song, "-o", dir / "music/new/song.trk"});
  EXPECT_EQ(ok.exitCode, 0) << ok.err;
  EXPECT_EQ(ok.err, "warning: " + song + ": " + warning);
  EXPECT_EQ(ok.out, "");
  EXPECT_EQ(dir.Read("music/new/song.trk").substr(0, 6), std::string("[TRK]\1", 6));

  // A damaged file: an error line, exit 1, and the old output untouched.
  std::string cut = dir.Write("cut.xm", Text(SongWithVibrato()).substr(0, 300));
  RunResult damaged = RunProcess({ToolPath(), "convert", cut, "-o", dir / "music/new/song.trk"});
  EXPECT_EQ(damaged.exitCode, 1);
  EXPECT_EQ(damaged.err.rfind("error: " + cut + ": ", 0), 0u) << damaged.err;
  EXPECT_EQ(dir.Read("music/new/song.trk").substr(0, 6), std::string("[TRK]\1", 6));
  RunResult missing = RunProcess({ToolPath(), "convert", dir / "none.mod", "-o", dir / "none.trk"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.err.rfind("error: " + dir / "none.mod" + ": cannot read", 0), 0u) << missing.err;
  EXPECT_FALSE(Exists(dir / "none.trk"));

  // Tiled maps go to their own converter (tested in tiled_map_test.cpp).
  RunResult map = RunProcess({ToolPath(), "convert", dir / "level.tmx", "-o", dir / "maps"});
  EXPECT_EQ(map.exitCode, 1);
  EXPECT_EQ(map.err, "error: " + dir / "level.tmx" + ": cannot read the map\n");
  EXPECT_FALSE(Exists(dir / "maps"));
}

TEST(ConvertCommand, BadArgumentsPrintTheUsageAndHelpWorks) {
  const std::string usage = "usage: pelto-tool convert INPUT -o OUTPUT [--strict]\n";
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"convert"}, {"convert", "a.xm"}, {"convert", "a.xm", "-o"}, {"convert", "a.wav", "-o", "b.trk"},
           {"convert", "a.xm", "b.xm", "-o", "c.trk"}, {"convert", "a.xm", "-o", "c.trk", "--loud"}}) {
    std::vector<std::string> argv = {ToolPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult result = RunProcess(argv);
    EXPECT_EQ(result.exitCode, 2) << args.back();
    EXPECT_NE(result.err.find(usage), std::string::npos) << result.err;
  }
  RunResult help = RunProcess({ToolPath(), "convert", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind(usage, 0), 0u);
  EXPECT_EQ(RunProcess({ToolPath(), "--help"}).out.find("convert INPUT -o OUTPUT") != std::string::npos, true);
}

TEST(ConvertCommand, TheEnginePlaysAConvertedModuleAtItsPitch) {
  ScratchDir dir;
  std::string song = dir.Write("song.xm", Text(SongWithVibrato()));
  RunResult converted = RunProcess({ToolPath(), "convert", song, "-o", dir / "song.trk"});
  ASSERT_EQ(converted.exitCode, 0) << converted.err;
  BuildGame(dir, {{"boot.lua", R"(
print(LoadMusic("song.trk"))
OpenDisplay("music", 64, 48)
PlayMusic()
local t = OsTicks()
while OsTicks() - t < 1000 do OsUpdate() Flip() end
CloseDisplay()
print("done")
)"},
                  {"song.trk", dir.Read("song.trk")}});
  dir.Write("home/.asoundrc", AsoundrcToFile(dir / "capture.raw"));
  PipeCapture capture(dir / "capture.raw");
  RunResult result = RunGame(dir);
  capture.Stop();
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "true\ndone\n");
  std::vector<std::vector<int16_t>> segments = capture.Segments();
  ASSERT_EQ(segments.size(), 1u);
  const std::vector<int16_t>& s = segments[0];
  size_t first = 0;
  while (2 * first < s.size() && s[2 * first] == 0) ++first;
  ASSERT_GT(s.size() / 2, first + 22050) << "less than half a second was heard";
  // Half a second from the first note: the left channel's upward zero
  // crossings count the square's periods.
  int crossings = 0;
  for (size_t f = first + 1; f < first + 22050; ++f) {
    if (s[2 * (f - 1)] < 0 && s[2 * f] >= 0) ++crossings;
  }
  EXPECT_NEAR(crossings, 8363.0 / 32 / 2, 3);
}

}  // namespace
