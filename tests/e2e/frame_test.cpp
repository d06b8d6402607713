// The frame loop seen from outside: a close request through the window
// manager's protocol only raises OsQuit, and the millisecond clock.
#include <string>

#include <gtest/gtest.h>

#include "tests/e2e/engine_runner.h"
#include "tests/e2e/window_probe.h"

namespace {

TEST(FrameLoop, ACloseRequestOnlyRaisesOsQuitForTheRestOfTheRun) {
  std::string title = UniqueTitle("close"), again = UniqueTitle("close-again");
  BackgroundGame game(std::string(kShowPrologue) + "OpenDisplay(\"" + title + R"(", 64, 48)
Show(function() Cls(0, 0, 0) end, 1)
print("quit", OsQuit())
-- The window is still open: the script decides what the request means.
Ready(2)
local start = OsTicks()
while not Told(2) and OsTicks() - start < 20000 do
  OsUpdate()
  Cls(0, 255, 0)
  Flip()
end
CloseDisplay()
print("closed", OsQuit())
OpenDisplay(")" + again + R"(", 64, 48)
OsUpdate()
print("reopened", OsQuit())
CloseDisplay()
)",
                      {"--nocrt"});
  WindowProbe probe;
  ASSERT_TRUE(game.WaitReady(1));
  unsigned long window = game.WaitWindow(probe, title);
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(probe.RequestClose(window));
  ASSERT_TRUE(game.WaitReady(2)) << "the close request did not reach OsQuit";
  EXPECT_EQ(probe.Find(title), window) << "the window closed by itself";
  game.Proceed(2);
  RunResult result = game.Finish();
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "quit\ttrue\nclosed\ttrue\nreopened\ttrue\n");
  EXPECT_EQ(result.err, "");
}

TEST(FrameLoop, WithoutADisplayOsQuitIsFalseAndOsUpdateChangesNothing) {
  RunResult result = RunBootSource("print(OsQuit())\nOsUpdate()\nOsUpdate()\nprint(OsQuit(), (OsUpdate()))\n");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "false\nfalse\tnil\n");
}

TEST(FrameLoop, TicksCountWholeMillisecondsUpwardsFromStartUp) {
  RunResult result = RunBootSource(R"(
local first = OsTicks()
local last, steps = first, 0
while last - first < 30 do
  local now = OsTicks()
  if now < last then print("backwards", last, now) end
  if now ~= math.floor(now) then print("fraction", now) end
  if now > last then steps = steps + 1 end
  last = now
end
print(first >= 0 and first < 20000, steps > 1)
)");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "true\ttrue\n");
}

}  // namespace
