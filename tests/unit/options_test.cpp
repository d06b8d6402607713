// Command-line options and the profile folder.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/key_table.h"
#include "host/options.h"
#include "video/display_state.h"

namespace {

struct Parsed {
  StartupOptions options;
  DisplayState display;
};

Parsed Parse(std::vector<std::string> args) {
  // dataPath points into argv, so the strings outlive the call.
  static std::vector<std::vector<std::string>> kept;
  args.insert(args.begin(), "pelto");
  kept.push_back(std::move(args));
  std::vector<char*> argv;
  for (auto& a : kept.back()) argv.push_back(a.data());
  Parsed p{{".", 0}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 8, 8, 8}};
  ParseOptions((int)argv.size(), argv.data(), &p.options, &p.display);
  return p;
}

TEST(Options, DefaultsWithoutArguments) {
  Parsed p = Parse({});
  EXPECT_STREQ(p.options.dataPath, ".");
  EXPECT_EQ(p.options.portableMode, 0);
  EXPECT_EQ(p.display.vsyncEnabled, 1);
  EXPECT_EQ(p.display.crtEnabled, 1);
  EXPECT_EQ(p.display.redBits + p.display.greenBits + p.display.blueBits, 24);
  EXPECT_EQ(p.display.fullscreen, 0);
  EXPECT_EQ(p.display.pixelScale, 0);
}

TEST(Options, EachOptionSetsItsField) {
  Parsed p = Parse({"--fullscreen", "--windowed", "--novsync", "--portable", "--nocrt", "--16bpp", "--double"});
  EXPECT_EQ(p.display.fullscreen, 1);
  EXPECT_EQ(p.display.forceWindowed, 1);
  EXPECT_EQ(p.display.vsyncEnabled, 0);
  EXPECT_EQ(p.options.portableMode, 1);
  EXPECT_EQ(p.display.crtEnabled, 0);
  EXPECT_EQ(p.display.redBits, 5);
  EXPECT_EQ(p.display.greenBits, 6);
  EXPECT_EQ(p.display.blueBits, 5);
  EXPECT_EQ(p.display.pixelScale, 2);
}

TEST(Options, LaterOptionWins) {
  EXPECT_EQ(Parse({"--vsync", "--novsync"}).display.vsyncEnabled, 0);
  EXPECT_EQ(Parse({"--novsync", "--vsync"}).display.vsyncEnabled, 1);
  EXPECT_EQ(Parse({"--16bpp", "--32bpp"}).display.greenBits, 8);
  EXPECT_EQ(Parse({"--32bpp", "--16bpp"}).display.greenBits, 6);
  EXPECT_STREQ(Parse({"--datapath", "a", "--datapath", "b"}).options.dataPath, "b");
}

TEST(Options, CaseAndSuffixesMakeNoOption) {
  Parsed p = Parse({"--FULLSCREEN", "--fullscreenx", "-fullscreen", "--nocrt ", "--Double", "fullscreen"});
  EXPECT_EQ(p.display.fullscreen, 0);
  EXPECT_EQ(p.display.crtEnabled, 1);
  EXPECT_EQ(p.display.pixelScale, 0);
}

TEST(Options, DatapathDoesNotConsumeItsArgument) {
  Parsed p = Parse({"--datapath", "--double"});
  EXPECT_STREQ(p.options.dataPath, "--double");
  EXPECT_EQ(p.display.pixelScale, 2);
  Parsed q = Parse({"--datapath", "--nocrt"});
  EXPECT_STREQ(q.options.dataPath, "--nocrt");
  EXPECT_EQ(q.display.crtEnabled, 0);
}

TEST(Options, TrailingDatapathChangesNothing) {
  EXPECT_STREQ(Parse({"--datapath"}).options.dataPath, ".");
  EXPECT_STREQ(Parse({"--datapath", "x", "--datapath"}).options.dataPath, "x");
}

std::map<std::string, std::string> fakeEnv;
const char* FakeLookup(const char* name) {
  auto it = fakeEnv.find(name);
  return it == fakeEnv.end() ? nullptr : it->second.c_str();
}

std::string Profile(int portable, std::map<std::string, std::string> env) {
  fakeEnv = std::move(env);
  char path[kProfilePathSize];
  std::memset(path, 'x', sizeof path);
  SettleProfilePath(portable, FakeLookup, path);
  return path;
}

TEST(ProfilePath, FallsBackThroughXdgHomeAppdataAndDot) {
  EXPECT_EQ(Profile(0, {{"XDG_DATA_HOME", "/x"}, {"HOME", "/h"}, {"APPDATA", "/a"}}), "/x");
  EXPECT_EQ(Profile(0, {{"XDG_DATA_HOME", ""}, {"HOME", "/h"}, {"APPDATA", "/a"}}), "/h/.local/share");
  EXPECT_EQ(Profile(0, {{"HOME", "/h"}}), "/h/.local/share");
  EXPECT_EQ(Profile(0, {{"APPDATA", "/a"}}), "/a");
  EXPECT_EQ(Profile(0, {}), ".");
  EXPECT_EQ(Profile(1, {{"XDG_DATA_HOME", "/x"}}), ".");
}

TEST(ProfilePath, LongValuesAreCutTo259Bytes) {
  std::string longPath(400, 'p');
  std::string got = Profile(0, {{"XDG_DATA_HOME", longPath}});
  EXPECT_EQ(got, longPath.substr(0, kProfilePathSize - 1));
  std::string home(255, 'h');
  EXPECT_EQ(Profile(0, {{"HOME", home}}), (home + "/.local/share").substr(0, 259));
}

std::string shellAnswer;  // what the stand-in shell reports; "" = the call fails
bool FakeShell(char* out, size_t size) {
  if (shellAnswer.empty()) return false;
  std::snprintf(out, size, "%s", shellAnswer.c_str());
  return true;
}

std::string WindowsProfile(int portable, std::string shell, std::map<std::string, std::string> env) {
  shellAnswer = std::move(shell);
  fakeEnv = std::move(env);
  char path[kProfilePathSize];
  std::memset(path, 'x', sizeof path);
  SettleWindowsProfilePath(portable, FakeShell, FakeLookup, path);
  return path;
}

TEST(ProfilePath, WindowsAsksTheShellThenAppdataThenDot) {
  const char* local = "C:\\Users\\ann\\AppData\\Local";
  EXPECT_EQ(WindowsProfile(0, local, {{"APPDATA", "D:\\roam"}, {"HOME", "/h"}}), local);
  EXPECT_EQ(WindowsProfile(0, "", {{"APPDATA", "D:\\roam"}, {"XDG_DATA_HOME", "/x"}}), "D:\\roam");
  EXPECT_EQ(WindowsProfile(0, "", {{"APPDATA", ""}}), ".");  // empty counts as unset
  EXPECT_EQ(WindowsProfile(0, "", {}), ".");
  EXPECT_EQ(WindowsProfile(1, local, {{"APPDATA", "D:\\roam"}}), ".");
  EXPECT_EQ(WindowsProfile(0, "", {{"APPDATA", std::string(300, 'a')}}), std::string(259, 'a'));
}

TEST(KeyTable, Holds117NamesWithTheirCodes) {
  std::map<std::string, int> keys;
  int count = 0;
  for (const KeyName* k = kKeyTable; k->name; ++k, ++count) keys[k->name] = k->value;
  EXPECT_EQ(count, kKeyNameCount);
  EXPECT_EQ(keys.size(), 117u);  // no name twice
  EXPECT_EQ(keys["KEY_A"], 65);
  EXPECT_EQ(keys["KEY_Z"], 90);
  EXPECT_EQ(keys["KEY_0"], 48);
  EXPECT_EQ(keys["KEY_F25"], 282);
  EXPECT_EQ(keys["KEY_KP_9"], 311);
  EXPECT_EQ(keys["KEY_MENU"], 325);
  EXPECT_EQ(keys["KEY_BACKTICK"], 96);
  EXPECT_EQ(keys["KEY_ESC"], 257);
  for (const auto& [name, value] : keys) {
    EXPECT_TRUE((value >= 32 && value <= 96) || (value >= 257 && value <= 325)) << name;
  }
}

}  // namespace
