// The development mode's plain logic: the channel's framing and handshake,
// GIF timing and palettes, the text canvas and the error report.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/dev_channel.h"
#include "host/error_report.h"
#include "video/capture.h"
#include "video/font8x8.h"
#include "video/text_canvas.h"

namespace {

std::string Nonce() { return "0123456789abcdef0123456789abcdef"; }

TEST(DevChannel, MessagesSurviveAnySplitOfTheStream) {
  std::string stream = DevEncode("root", "/games/my game") + DevEncode("build-error", "a\nb:3: x\n") + DevEncode("reload", "");
  for (size_t step = 1; step <= stream.size(); ++step) {
    DevMessageReader reader;
    std::vector<DevMessage> got;
    for (size_t at = 0; at < stream.size(); at += step) {
      reader.Feed(stream.data() + at, std::min(step, stream.size() - at));
      DevMessage m;
      while (reader.Next(&m) == 1) got.push_back(m);
    }
    ASSERT_EQ(got.size(), 3u) << "step " << step;
    EXPECT_EQ(got[0].payload, "/games/my game");
    EXPECT_EQ(got[1].verb, "build-error");
    EXPECT_EQ(got[1].payload, "a\nb:3: x\n");
    EXPECT_EQ(got[2].verb, "reload");
    EXPECT_FALSE(reader.broken());
  }
}

TEST(DevChannel, MalformedHeadersBreakTheReaderForGood) {
  for (std::string bad : {std::string("reload\n"), std::string(" 3\nabc"), std::string("reload x\n"),
                          std::string("reload 99999999\n"), std::string("reload 2000000\n"),
                          std::string(100, 'v') + " 1\n", std::string(200, 'x'), std::string("a b c\n")}) {
    DevMessageReader reader;
    reader.Feed(bad.data(), bad.size());
    DevMessage m;
    EXPECT_EQ(reader.Next(&m), -1) << bad;
    std::string good = DevEncode("reload", "");
    reader.Feed(good.data(), good.size());
    EXPECT_EQ(reader.Next(&m), -1) << "recovered after " << bad;
  }
}

TEST(DevChannel, ValueNeedsADescriptorAboveTheStandardStreamsAndAFullNonce) {
  int fd = 0;
  std::string nonce;
  EXPECT_TRUE(ParseDevChannelValue(("7:" + Nonce()).c_str(), &fd, &nonce));
  EXPECT_EQ(fd, 7);
  EXPECT_EQ(nonce, Nonce());
  for (std::string bad : std::vector<std::string>{"", "1", "7", "7:", "2:" + Nonce(), "x:" + Nonce(), "7:" + Nonce().substr(1),
                          "7:" + Nonce() + "0", "7:" + std::string(32, 'G'), "-7:" + Nonce(), ":" + Nonce()}) {
    EXPECT_FALSE(ParseDevChannelValue(bad.c_str(), &fd, &nonce)) << bad;
  }
  EXPECT_FALSE(ParseDevChannelValue(nullptr, &fd, &nonce));
  std::string made = MakeDevNonce();
  EXPECT_TRUE(ParseDevChannelValue(("3:" + made).c_str(), &fd, &nonce)) << made;
}

// The engine's end of a socket pair, as `run --watch` leaves it.
struct Pair {
  int tool = -1, engine = -1;
  Pair() {
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    tool = fds[0];
    engine = fds[1];
  }
  ~Pair() {
    if (tool >= 0) close(tool);
    if (engine >= 0) close(engine);
  }
  std::string ChannelValue(const std::string& nonce) const { return std::to_string(engine) + ":" + nonce; }
};

TEST(DevChannel, HandshakeAcceptsOnlyTheToolsNonce) {
  {
    Pair pair;
    std::string hello = DevEncode("hello", std::string(kDevProtocol) + " " + Nonce()) + DevEncode("root", "/g");
    ASSERT_EQ(write(pair.tool, hello.data(), hello.size()), static_cast<ssize_t>(hello.size()));
    DevMessageReader reader;
    std::vector<DevMessage> early;
    EXPECT_EQ(DevChannelAccept(pair.ChannelValue(Nonce()).c_str(), 1000, &reader, &early), pair.engine);
    ASSERT_EQ(early.size(), 1u);
    EXPECT_EQ(early[0].payload, "/g");
    // The engine answers, and later messages arrive without blocking.
    char answer[64] = {};
    ASSERT_GT(read(pair.tool, answer, sizeof answer - 1), 0);
    EXPECT_EQ(std::string(answer), DevEncode("hello", kDevProtocol));
    std::vector<DevMessage> later;
    EXPECT_TRUE(DevReceive(pair.engine, &reader, &later));
    EXPECT_TRUE(later.empty());
    std::string reload = DevEncode("reload", "");
    ASSERT_EQ(write(pair.tool, reload.data(), reload.size()), static_cast<ssize_t>(reload.size()));
    EXPECT_TRUE(DevReceive(pair.engine, &reader, &later));
    ASSERT_EQ(later.size(), 1u);
    EXPECT_EQ(later[0].verb, "reload");
    close(pair.tool);
    pair.tool = -1;
    EXPECT_FALSE(DevReceive(pair.engine, &reader, &later));
  }
  {
    Pair pair;  // another nonce
    std::string hello = DevEncode("hello", std::string(kDevProtocol) + " " + std::string(32, 'f'));
    ASSERT_GT(write(pair.tool, hello.data(), hello.size()), 0);
    DevMessageReader reader;
    std::vector<DevMessage> early;
    EXPECT_EQ(DevChannelAccept(pair.ChannelValue(Nonce()).c_str(), 1000, &reader, &early), -1);
  }
  {
    Pair pair;  // nothing said: the time-out ends the wait
    DevMessageReader reader;
    std::vector<DevMessage> early;
    EXPECT_EQ(DevChannelAccept(pair.ChannelValue(Nonce()).c_str(), 50, &reader, &early), -1);
  }
  {
    int fds[2];  // a pipe is not the tool's socket, whatever it says
    ASSERT_EQ(pipe(fds), 0);
    std::string hello = DevEncode("hello", std::string(kDevProtocol) + " " + Nonce());
    ASSERT_GT(write(fds[1], hello.data(), hello.size()), 0);
    DevMessageReader reader;
    std::vector<DevMessage> early;
    EXPECT_EQ(DevChannelAccept((std::to_string(fds[0]) + ":" + Nonce()).c_str(), 100, &reader, &early), -1);
    close(fds[0]);
    close(fds[1]);
  }
}

TEST(GifCapture, DelaysKeepTheTrueTotalAndNeverFallBelowTwoHundredths) {
  GifTiming timing;
  int total = 0, kept = 0;
  double t = 0;
  for (int frame = 0; frame < 600; ++frame, t = frame / 60.0) {
    int delay = timing.Advance(t);
    if (delay < 0) continue;
    ++kept;
    if (frame > 0) {
      EXPECT_GE(delay, 2) << "frame " << frame;
    }
    total += delay;
  }
  total += timing.Finish(10.0);
  EXPECT_EQ(total, 1000);        // 600 frames at 60 fps: exactly 10 s
  EXPECT_NEAR(kept, 400, 2);     // 2, 3, 2, 3 ... hundredths: 40 frames a second
  GifTiming slow;                // a 30 fps game keeps every frame
  int slowTotal = 0;
  for (int frame = 0; frame < 90; ++frame) {
    int delay = slow.Advance(frame / 30.0);
    ASSERT_GE(delay, 0);
    slowTotal += delay;
  }
  EXPECT_EQ(slowTotal + slow.Finish(3.0), 300);
}

TEST(GifCapture, PaletteIsExactUpTo256ColoursAndRefusedBeyond) {
  RgbaImage image;
  image.width = 256;
  image.height = 2;
  image.pixels.resize(256 * 2 * 4);
  for (int i = 0; i < 512; ++i) {
    int c = i % 256;
    image.pixels[i * 4] = static_cast<uint8_t>(c);
    image.pixels[i * 4 + 1] = static_cast<uint8_t>(255 - c);
    image.pixels[i * 4 + 2] = static_cast<uint8_t>(c * 7);
    image.pixels[i * 4 + 3] = 255;
  }
  std::vector<uint32_t> palette;
  std::vector<uint8_t> indices;
  ASSERT_TRUE(ExactPalette(image, &palette, &indices));
  ASSERT_EQ(palette.size(), 256u);
  for (int i = 0; i < 512; ++i) {
    uint32_t c = palette[indices[i]];
    EXPECT_EQ(c >> 16, image.pixels[i * 4]);
    EXPECT_EQ((c >> 8) & 255, image.pixels[i * 4 + 1]);
    EXPECT_EQ(c & 255, image.pixels[i * 4 + 2]);
  }
  image.pixels[4 * 300 + 1] = 1;  // a 257th colour
  EXPECT_FALSE(ExactPalette(image, &palette, &indices));
}

TEST(TextCanvas, GlyphsComeFromTheBuiltInFontAndClipAtTheEdges) {
  TextCanvas canvas;
  CanvasReset(&canvas, 20, 10, {0, 0, 0, 255});
  CanvasText(&canvas, 1, 1, "A\x01", {255, 255, 255, 255}, 1);
  for (int row = 0; row < 8; ++row) {
    for (int col = 0; col < 8; ++col) {
      bool on = kFont8x8['A' - 32][row] & (0x80 >> col);
      EXPECT_EQ(canvas.pixels[((row + 1) * 20 + col + 1) * 4], on ? 255 : 0) << row << "," << col;
      // Unprintable characters show as '?', cut off at the right edge.
      int x = 9 + col;
      if (x < 20) {
        bool q = kFont8x8['?' - 32][row] & (0x80 >> col);
        EXPECT_EQ(canvas.pixels[((row + 1) * 20 + x) * 4], q ? 255 : 0);
      }
    }
  }
  CanvasText(&canvas, -100, -100, "clipped", {1, 2, 3, 4}, 3);  // must not write outside
  EXPECT_EQ(WrapText("alpha beta gamma", 10), (std::vector<std::string>{"alpha beta", "gamma"}));
  EXPECT_EQ(WrapText("abcdefghijkl\n\tx", 5), (std::vector<std::string>{"abcde", "fghij", "kl", "  x"}));
}

TEST(ErrorReport, TracebackAndSourceLineOfTheErrorPosition) {
  ErrorReport report;
  report.title = "Runtime error";
  report.message = "lib/vec.lua:3: attempt to index local 'v' (a nil value)";
  report.levels = {{"lib/vec.lua", "lib/vec.lua", 3, "function 'len'"},
                   {"boot.lua", "/abs/boot.lua", 7, "main chunk"},
                   {"[C]", "", -1, "?"}};
  std::vector<std::string> asked;
  LocateSource(&report, [&](const std::string& name, std::string* text) {
    asked.push_back(name);
    *text = "local M = {}\nfunction M.len(v)\n  return v.x\nend\n";
    return true;
  });
  EXPECT_EQ(asked, std::vector<std::string>{"lib/vec.lua"});
  std::string text = FormatErrorReport(report);
  EXPECT_NE(text.find("stack traceback:\n  lib/vec.lua:3: in function 'len'\n  boot.lua:7: in main chunk\n  [C]: in ?\n"),
            std::string::npos) << text;
  EXPECT_NE(text.find(">    3 |   return v.x\n"), std::string::npos) << text;
  EXPECT_NE(text.find("     2 | function M.len(v)\n"), std::string::npos) << text;

  // A build error names its position after "error: "; a line past the end shows no excerpt.
  std::string name;
  int line = 0;
  ASSERT_TRUE(ParseErrorPosition("error: maps/a.lua:12: '=' expected", &name, &line));
  EXPECT_EQ(name, "maps/a.lua");
  EXPECT_EQ(line, 12);
  EXPECT_FALSE(ParseErrorPosition("no position here: 12", &name, &line));
  ErrorReport past;
  past.message = "boot.lua:99: x";
  LocateSource(&past, [](const std::string&, std::string* source) {
    *source = "one\ntwo\n";
    return true;
  });
  EXPECT_TRUE(past.excerpt.empty());
}

}  // namespace

#include "tools/run_watch.h"

namespace {

TEST(WatchFilter, ABurstOfEventsGivesOneBuildAfterTheFolderIsQuiet) {
  SaveDebouncer debouncer;
  EXPECT_EQ(debouncer.WaitMs(0.0), -1);
  EXPECT_FALSE(debouncer.Due(5.0));
  // An editor's save: temporary file written, renamed, backup removed.
  debouncer.Change(10.000);
  debouncer.Change(10.002);
  debouncer.Change(10.003);
  EXPECT_FALSE(debouncer.Due(10.050));
  EXPECT_GT(debouncer.WaitMs(10.050), 0);
  EXPECT_TRUE(debouncer.Due(10.003 + kQuietSeconds));
  debouncer.Reset();
  EXPECT_FALSE(debouncer.Due(20.0));
  // Changes that never stop still build within the longest wait.
  for (double t = 30.0; t < 31.0; t += 0.05) {
    debouncer.Change(t);
    if (debouncer.Due(t)) {
      EXPECT_NEAR(t - 30.0, kLongestWaitSeconds, 0.06);
      break;
    }
  }
}

TEST(WatchFilter, HiddenFilesOutputFoldersAndEditorBackupsAreNoChanges) {
  std::vector<std::string> skipped = {"build", "screenshots", "out/data"};
  for (const char* name : {".boot.lua.swp", "lib/.hidden/x.lua", ".git/index", "build/GAME.DAT", "screenshots/a.png",
                           "out/data/GAME.DAT", "boot.lua~", "lib/#vec.lua#"}) {
    EXPECT_TRUE(WatchIgnores(name, skipped)) << name;
  }
  for (const char* name : {"boot.lua", "lib/vec.lua", "builder.lua", "out/other.png", "gfx/tiles.png", "a#b.lua"}) {
    EXPECT_FALSE(WatchIgnores(name, skipped)) << name;
  }
}

}  // namespace
