// The documents' own steps, done as a reader does them with the real tool
// and engine: every command of the README, and every step of the tutorial
// (its marked files written, its assets copied, the game built and run).
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/engine_runner.h"
#include "tests/e2e/window_probe.h"

namespace {

namespace fs = std::filesystem;

std::string SourcePath(const std::string& relative) { return std::string(PELTO_SOURCE_DIR) + "/" + relative; }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool ToolHasBuild() { return RunProcess({ToolPath(), "build", "--help"}).exitCode == 0; }

// The environment of a reader's run: no dialog boxes, a private HOME whose
// ALSA default device throws the sound away (no sound server is reached).
std::map<std::string, std::string> GameEnvironment(const ScratchDir& dir) {
  if (!fs::exists(dir / "home/.asoundrc")) {
    dir.Write("home/.asoundrc",
              "pcm.!default {\n  type file\n  slave.pcm \"null\"\n  file \"/dev/null\"\n  format \"raw\"\n}\n");
  }
  return {{"PELTO_NO_DIALOG", "1"}, {"HOME", dir / "home"}, {"XDG_DATA_HOME", ""}};
}

// Runs a command that shows a game until its player closes it: waits for the
// window titled `title`, checks that it shows a picture (not one flat
// colour), asks it to close as a window manager would, and returns the run.
RunResult RunAndClose(const std::vector<std::string>& argv, const ScratchDir& dir, const std::string& title) {
  auto run = std::async(std::launch::async, [&] { return RunProcess(argv, dir.path(), GameEnvironment(dir), 90); });
  WindowProbe probe;
  EXPECT_TRUE(probe.Connected()) << "no X display";
  unsigned long window = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!window && std::chrono::steady_clock::now() < deadline &&
         run.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
    window = probe.Find(title);
  }
  EXPECT_NE(window, 0u) << "no window titled " << title;
  if (window) {
    // The window may show before the first frame does: look until a picture
    // is there (a slow sanitizer build takes a while to draw).
    size_t colours = 0;
    while (colours <= 2 && std::chrono::steady_clock::now() < deadline &&
           run.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
      WindowImage image;
      if (probe.Grab(window, &image)) colours = std::set<uint32_t>(image.pixels.begin(), image.pixels.end()).size();
    }
    EXPECT_GT(colours, 2u) << "the window shows nothing";
    EXPECT_TRUE(probe.RequestClose(window));
  }
  return run.get();
}

// ---- README -------------------------------------------------------------

// Every command line of the README that runs build/pelto-tool or build/pelto,
// in order, with "mygame" made unique (its window is found by that title).
TEST(ReadmeSteps, EveryCommandWorksAsWritten) {
  if (!ToolHasBuild()) GTEST_SKIP() << "this pelto-tool has no 'build' command yet";
  std::ifstream in(SourcePath("README.md"));
  std::stringstream readme;
  readme << in.rdbuf();
  ScratchDir dir;
  const std::string game = UniqueTitle("mygame");
  // "Write game/boot.lua": the hand-built game of the README.
  dir.Write("game/boot.lua", "print('built by hand')\n");

  static const std::regex command("^\\s+build/(pelto-tool|pelto) (.*)$");
  int commands = 0;
  for (std::string line : Lines(readme.str())) {
    std::smatch match;
    if (!std::regex_match(line, match, command)) continue;
    ++commands;
    std::vector<std::string> argv = {match[1] == "pelto" ? EnginePath() : ToolPath()};
    for (std::string word : Words(match[2])) {
      argv.push_back(std::regex_replace(word, std::regex("mygame"), game));
    }
    SCOPED_TRACE(line);
    const bool showsGame = argv[0] == EnginePath() || argv[1] == "run";
    RunResult r;
    if (showsGame && Contains(line, "mygame")) {
      r = RunAndClose(argv, dir, game);
    } else {
      r = RunProcess(argv, dir.path(), GameEnvironment(dir), 90);
    }
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(ErrorLines(r.err), std::vector<std::string>{}) << r.err;
    if (argv[0] == EnginePath() && !Contains(line, "mygame")) {
      EXPECT_EQ(r.out, "built by hand\n");
    }
    if (argv[1] == "list") {
      EXPECT_TRUE(Contains(r.out, "boot.prg") && Contains(r.out, "sprite.png")) << r.out;
      EXPECT_FALSE(Contains(r.out, "BAD")) << r.out;
    }
  }
  EXPECT_GE(commands, 8) << "the README's commands were not found";
  EXPECT_TRUE(fs::exists(dir / (game + "/build/GAME.DAT")));
  EXPECT_TRUE(fs::exists(dir / "data/GAME.DAT"));
  EXPECT_EQ(dir.Read("unpacked/sprite.png"), dir.Read(game + "/sprite.png"));
}

// ---- the tutorial -------------------------------------------------------

// One thing the tutorial has its reader do, from its marker comments:
//   <!-- tutorial: new NAME -->      pelto-tool new NAME
//   <!-- tutorial: copy PATH -->     copy docs/tutorial/PATH into the game
//   <!-- tutorial: file PATH -->     the next ```lua block is the game's PATH
//   <!-- tutorial: run [closes] -->  build and run the game ("closes": the
//                                    game runs until its window is closed)
struct TutorialAction {
  std::string kind;
  std::string argument;
  std::string content;  // of a file
  int line = 0;
};

std::vector<TutorialAction> ReadTutorial(const std::string& text, int* luaBlocks) {
  static const std::regex marker("^<!-- tutorial: (new|copy|file|run)( [^ ]+)? -->$");
  std::vector<TutorialAction> actions;
  std::vector<std::string> lines = Lines(text);
  *luaBlocks = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] == "```lua") ++*luaBlocks;
    std::smatch match;
    if (!std::regex_match(lines[i], match, marker)) continue;
    TutorialAction action{match[1], match[2].length() ? std::string(match[2]).substr(1) : "", "", int(i + 1)};
    if (action.kind == "file") {
      EXPECT_TRUE(i + 1 < lines.size() && lines[i + 1] == "```lua") << "line " << i + 1 << ": no ```lua block";
      size_t end = i + 2;
      for (; end < lines.size() && lines[end] != "```"; ++end) action.content += lines[end] + "\n";
      EXPECT_LT(end, lines.size()) << "line " << i + 1 << ": the block does not end";
    }
    actions.push_back(action);
  }
  return actions;
}

TEST(Tutorial, EveryStepBuildsAndRuns) {
  if (!ToolHasBuild()) GTEST_SKIP() << "this pelto-tool has no 'build' command yet: the tutorial needs it";
  std::ifstream in(SourcePath("docs/tutorial.md"));
  std::stringstream text;
  text << in.rdbuf();
  int luaBlocks = 0;
  std::vector<TutorialAction> actions = ReadTutorial(text.str(), &luaBlocks);
  int files = 0, runs = 0;
  for (const TutorialAction& action : actions) {
    files += action.kind == "file";
    runs += action.kind == "run";
  }
  // Every program in the tutorial is one the test runs.
  EXPECT_EQ(files, luaBlocks) << "a ```lua block without a <!-- tutorial: file PATH --> marker";
  ASSERT_GE(runs, 6);
  ASSERT_EQ(actions.front().kind, "new");

  ScratchDir dir;
  const std::string name = actions.front().argument;
  const std::string game = dir / name;
  int step = 0;
  for (const TutorialAction& action : actions) {
    SCOPED_TRACE("docs/tutorial.md:" + std::to_string(action.line) + ": " + action.kind + " " + action.argument);
    if (action.kind == "new") {
      RunResult r = RunProcess({ToolPath(), "new", name}, dir.path());
      ASSERT_EQ(r.exitCode, 0) << r.err;
    } else if (action.kind == "copy") {
      fs::create_directories(fs::path(game + "/" + action.argument).parent_path());
      fs::copy_file(SourcePath("docs/tutorial/" + action.argument), game + "/" + action.argument,
                    fs::copy_options::overwrite_existing);
    } else if (action.kind == "file") {
      dir.Write(name + "/" + action.argument, action.content);
    } else {
      ++step;
      RunResult built = RunProcess({ToolPath(), "build", name}, dir.path());
      // Music and maps need the converters; a pelto-tool without them gets
      // as far as it can.
      if (built.exitCode != 0 && Contains(built.out + built.err, "no converter")) {
        GTEST_SKIP() << "run " << step << " of the tutorial needs a converter this pelto-tool lacks:\n" << built.err;
      }
      ASSERT_EQ(built.exitCode, 0) << built.out << built.err;
      // What "pelto-tool run" does after its build.
      const std::vector<std::string> engine = {EnginePath(), "--datapath", name + "/build"};
      RunResult r;
      if (action.argument == "closes") {
        r = RunAndClose(engine, dir, name);
      } else {
        std::vector<std::string> argv = engine;
        argv.push_back("--frames=30");
        r = RunProcess(argv, dir.path(), GameEnvironment(dir), 90);
      }
      EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
      EXPECT_EQ(ErrorLines(r.err), std::vector<std::string>{}) << r.err;
    }
  }
}

}  // namespace
