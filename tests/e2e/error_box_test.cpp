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

// Answers every box titled "Error" with Return (its OK) until told to stop.
int CloseErrorBoxes(std::atomic<bool>& stop) {
  int closed = 0;
  std::string last;
  while (!stop) {
    std::string id = FindErrorBox();
    if (!id.empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let it map
      RunProcess({"/usr/bin/xdotool", "key", "--window", id, "Return"}, "", {}, 5);
      for (int i = 0; i < 50 && FindErrorBox() == id; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (FindErrorBox() != id) ++closed;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return closed;
}

TEST(ErrorBox, EachMessageWaitsForTheUserToCloseItsDialog) {
  ScratchDir dir;
  BuildGame(dir, {{"boot.lua", "error('shown in a dialog', 0)"}});
  std::atomic<bool> stop{false};
  int closed = 0;
  std::thread closer([&] { closed = CloseErrorBoxes(stop); });
  RunResult r = RunProcess({EnginePath(), "--datapath", dir / "data"}, dir.path(),
                           {{"PELTO_NO_DIALOG", ""}, {"HOME", dir.path()}}, 60);
  stop = true;
  closer.join();
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Error: Lua runtime error [shown in a dialog]\nError: A fatal error occurred.\n");
  EXPECT_EQ(closed, 2);
}

}  // namespace
