// The error box as a real dialog: it appears titled "Error" and the engine
// waits until the user closes it, once per message.
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "tests/e2e/engine_runner.h"

namespace {

// The id of a top-level window titled exactly "Error", or "" (xdotool's
// name search does not see the box's window without a window manager).
std::string FindErrorBox() {
  RunResult tree = RunProcess({"/usr/bin/xwininfo", "-root", "-tree"}, "", {}, 5);
  size_t at = tree.out.find(" \"Error\": ");
  if (at == std::string::npos) return "";
  size_t lineStart = tree.out.rfind('\n', at) + 1;
  size_t idStart = tree.out.find_first_not_of(' ', lineStart);
  return tree.out.substr(idStart, tree.out.find(' ', idStart) - idStart);
}

// Answers boxes titled "Error" with Return (their OK) until told to stop,
// leaving each box up for a while first. Returns how many presses found a
// box. The toolkit may give the second box the id of the first, so boxes are
// counted by presses, not by ids.
int CloseErrorBoxes(std::atomic<bool>& stop) {
  int presses = 0;
  while (!stop) {
    std::string id = FindErrorBox();
    if (!id.empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(700));  // the engine must be waiting meanwhile
      RunProcess({"/usr/bin/xdotool", "key", "--window", id, "Return"}, "", {}, 5);
      ++presses;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return presses;
}

TEST(ErrorBox, EachMessageWaitsForTheUserToCloseItsDialog) {
  ScratchDir dir;
  BuildGame(dir, {{"boot.lua", "error('shown in a dialog', 0)"}});
  // Under Wine, ALSA would complain about the missing sound card on stderr.
  if (WindowsEngine()) dir.Write(".asoundrc", "pcm.!default { type null }\n");
  std::atomic<bool> stop{false};
  int presses = 0;
  std::thread closer([&] { presses = CloseErrorBoxes(stop); });
  auto started = std::chrono::steady_clock::now();
  RunResult r = RunProcess({EnginePath(), "--datapath", dir / "data"}, dir.path(),
                           {{"PELTO_NO_DIALOG", ""}, {"HOME", dir.path()}}, 60);
  auto took = std::chrono::steady_clock::now() - started;
  stop = true;
  closer.join();
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Error: Lua runtime error [shown in a dialog]\nError: A fatal error occurred.\n");
  // Two boxes, each left up for 0.7 s: the engine waited for both.
  EXPECT_GE(presses, 2);
  EXPECT_GE(took, std::chrono::milliseconds(1400));
}

}  // namespace
