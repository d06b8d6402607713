// Memory banks through scripts run by the engine: the slot table, bytes and
// words, files of every size, and saves that fail without harming the
// previous file.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/engine_runner.h"

namespace fs = std::filesystem;

namespace {

// The bytes the scripts below poke into a bank of `size` bytes.
std::string Pattern(int size) {
  std::string bytes;
  for (int i = 0; i < size; ++i) bytes.push_back(static_cast<char>((i * 7 + size) & 0xFF));
  return bytes;
}

// Runs the game of `dir` with `prefix` in front of the engine's command
// line, the way RunGame runs it otherwise.
RunResult RunWrapped(const ScratchDir& dir, const std::vector<std::string>& prefix) {
  std::vector<std::string> argv = prefix;
  for (const std::string& arg : {EnginePath(), std::string("--datapath"), dir / "data"}) argv.push_back(arg);
  fs::create_directories(dir / "home");
  return RunProcess(argv, dir.path(), {{"PELTO_NO_DIALOG", "1"}, {"HOME", dir / "home"}});
}

// Root passes every permission check; without the override capabilities it
// meets folder permissions like any user. Empty for other users.
std::vector<std::string> WithoutPermissionOverride() {
  if (geteuid() != 0) return {};
  const char* caps = "-dac_override,-dac_read_search,-fowner";
  return {"/usr/bin/setpriv", std::string("--inh-caps=") + caps, std::string("--bounding-set=") + caps, "--"};
}

std::vector<std::string> LeftoverTemporaries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& item : fs::directory_iterator(folder)) {
    std::string name = item.path().filename().string();
    if (name.rfind(".bank-", 0) == 0) names.push_back(name);
  }
  return names;
}

TEST(BankScripts, SlotsAreTakenLowestFirstAndLimitedToEight) {
  ScratchDir dir;
  dir.Write("exists.bin", "abc");
  BuildGame(dir, {{"boot.lua", R"(
    print(CreateBank(4), CreateBank(4))
    DeleteBank(0)
    print(CreateBank(2), BankSize(0), BankSize(1))
    for i = 3, 8 do CreateBank(1) end
    print(CreateBank(1), BLoad('missing.bin'), BLoad('exists.bin'))
    DeleteBank(5)
    print(BankSize(5), BLoad('exists.bin'), BankSize(5))
    print(select('#', DeleteBank(7)), select('#', CreateBank(1)), select('#', BankSize(0)))
  )"}});
  RunResult r = RunGame(dir);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "0\t1\n"
            "0\t2\t4\n"
            "-1\t-1\t-1\n"  // the full table wins even over an existing file
            "0\t5\t3\n"
            "0\t1\t1\n");
}

TEST(BankScripts, BytesAndWordsFollowTheArgumentRules) {
  RunResult r = RunBootSource(R"(
    local b = CreateBank(4)
    print(Peek(b, 0), Peek(b, 3), Deek(b, 2))
    Poke(b, 0, 300) Poke(b, 1, -1) Poke(b, 2, 2.5) Poke(b, 3, '3.5')
    print(Peek(b, 0), Peek(b, 1), Peek(b, 2), Peek(b, 3))
    Doke(b, 0, 4660)
    print(Peek(b, 0), Peek(b, 1), Deek(b, 0))
    Doke(b, 2, -1)
    print(Deek(b, 2), Peek(b, 3))
    print(select('#', Poke(b, 0, 1)), select('#', Doke(b, 0, 1)), select('#', Peek(b, 0)))
    local e = CreateBank(0)
    print(e, BankSize(e), Peek(e, 0), Deek(e, 0))
  )");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "0\t0\t0\n"
            "44\t255\t2\t4\n"
            "52\t18\t4660\n"
            "65535\t255\n"
            "0\t0\t1\n"
            "1\t0\t0\t0\n");
}

TEST(BankScripts, OutOfRangeSlotsAndOffsetsReadZeroAndWriteNothing) {
  RunResult r = RunBootSource(R"(
    local b = CreateBank(4)
    for i = 0, 3 do Poke(b, i, 16 + i) end
    -- words at the last valid offset, and one past it
    print(Deek(b, 2), Deek(b, 3), Deek(b, -1))
    Doke(b, 3, 0) Doke(b, -1, 0) Poke(b, 4, 0) Poke(b, -1, 0) Poke(b, 2147483647, 0)
    Doke(b, 2147483647, 0)
    print(Peek(b, 0), Peek(b, 1), Peek(b, 2), Peek(b, 3), Peek(b, 4), Peek(b, -1))
    -- slots outside the table and a free slot
    local seen = {}
    for _, s in ipairs({8, -1, 99, 2147483647, 5}) do
      Poke(s, 0, 1) Doke(s, 0, 1) DeleteBank(s)
      seen[#seen + 1] = Peek(s, 0) .. Deek(s, 0) .. BankSize(s)
    end
    print(table.concat(seen, ' '))
    print(Peek(b, 0), BankSize(b))
  )");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "4882\t0\t0\n"
            "16\t17\t18\t19\t0\t0\n"
            "000 000 000 000 000\n"
            "16\t4\n");
}

TEST(BankScripts, FilesOfEverySizeRoundTrip) {
  ScratchDir dir;
  BuildGame(dir, {{"boot.lua", R"(
    local sizes = {}
    for s = 0, 300 do sizes[#sizes + 1] = s end
    for _, s in ipairs({4095, 4096, 4097, 65536, 65537}) do sizes[#sizes + 1] = s end
    local bad = 0
    for _, size in ipairs(sizes) do
      local b = CreateBank(size)
      for i = 0, size - 1 do Poke(b, i, i * 7 + size) end
      if not BSave(b, 'bank' .. size .. '.bin') then print('save failed', size) end
      DeleteBank(b)
      local l = BLoad('bank' .. size .. '.bin')
      if l ~= 0 or BankSize(l) ~= size then print('load failed', size, l, BankSize(l)) end
      for i = 0, size - 1 do
        if Peek(l, i) ~= (i * 7 + size) % 256 then bad = bad + 1 end
      end
      DeleteBank(l)
    end
    print(#sizes, bad)
  )"}});
  RunResult r = RunGame(dir);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "306\t0\n");
  for (int size = 0; size <= 300; ++size) {
    ASSERT_EQ(dir.Read("bank" + std::to_string(size) + ".bin"), Pattern(size)) << size;
  }
  for (int size : {4095, 4096, 4097, 65536, 65537}) {
    EXPECT_EQ(dir.Read("bank" + std::to_string(size) + ".bin"), Pattern(size)) << size;
  }
  EXPECT_TRUE(LeftoverTemporaries(dir.path()).empty());
}

TEST(BankScripts, LoadsFilesWrittenOutsideAndTakesPathsAsStrings) {
  ScratchDir dir;
  dir.Write("level.dat", std::string("\x01\x02\xff\x80", 4));
  dir.Write("123", "x");
  dir.Write("empty.dat", "");
  fs::create_directories(dir / "folder");
  BuildGame(dir, {{"boot.lua", R"(
    local l = BLoad('level.dat')
    print(l, BankSize(l), Peek(l, 0), Peek(l, 2), Deek(l, 2))
    print(BLoad(123), BLoad('empty.dat'), BankSize(2))
    print(BLoad(), BLoad(nil), BLoad({}), BLoad(''), BLoad('folder'), BLoad('missing'))
  )"}});
  RunResult r = RunGame(dir);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "0\t4\t1\t255\t33023\n"
            "1\t2\t0\n"
            "-1\t-1\t-1\t-1\t-1\t-1\n");
}

TEST(BankScripts, SavesReplaceWholeFilesAndReportFailures) {
  ScratchDir dir;
  dir.Write("old.sav", std::string(1000, 'o'));
  dir.Write("free.sav", "previous");
  fs::create_directories(dir / "folder");
  BuildGame(dir, {{"boot.lua", R"(
    local b = CreateBank(10)
    for i = 0, 9 do Poke(b, i, 65 + i) end
    print(BSave(b, 'old.sav'), BSave(5, 'free.sav'), BSave(b, 'none/x.sav'), BSave(b, 'folder'))
    print(BSave(8, 'out.sav'), BSave(-1, 'out.sav'), BSave(b), BSave(b, {}), BSave(b, ''))
    print(BSave(b, 77), select('#', BSave(b, 'old.sav')))
  )"}});
  RunResult r = RunGame(dir);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "true\ttrue\tfalse\tfalse\n"
            "false\tfalse\tfalse\tfalse\tfalse\n"
            "true\t1\n");
  EXPECT_EQ(dir.Read("old.sav"), "ABCDEFGHIJ");  // nothing of the longer old file is left
  EXPECT_TRUE(fs::exists(dir / "free.sav"));
  EXPECT_EQ(dir.Read("free.sav"), "");           // a free slot saves an empty file
  EXPECT_EQ(dir.Read("77"), "ABCDEFGHIJ");
  EXPECT_FALSE(fs::exists(dir / "out.sav"));     // no table slot: no file
  EXPECT_FALSE(fs::exists(dir / "none"));
  EXPECT_TRUE(fs::is_directory(dir / "folder"));
  EXPECT_TRUE(LeftoverTemporaries(dir.path()).empty());
}

const char* kSaveScript = R"(
  local big = CreateBank(65536)
  for i = 0, 65535 do Poke(big, i, i) end
  print(BSave(big, 'saves/slot.sav'))
  local small = CreateBank(1000)
  print(BSave(small, 'small.sav'))
)";

TEST(BankSaveFailures, FolderWithoutWritePermissionKeepsTheOldFile) {
  ScratchDir dir;
  std::string old = "the previous save";
  dir.Write("saves/slot.sav", old);
  BuildGame(dir, {{"boot.lua", kSaveScript}});
  ASSERT_EQ(chmod((dir / "saves").c_str(), 0555), 0);
  // The folder must really refuse new files to the engine's process.
  std::vector<std::string> probe = WithoutPermissionOverride();
  for (const char* arg : {"/bin/sh", "-c", ": > saves/probe"}) probe.push_back(arg);
  ASSERT_NE(RunProcess(probe, dir.path()).exitCode, 0) << "the folder is writable after all";

  RunResult r = RunWrapped(dir, WithoutPermissionOverride());
  chmod((dir / "saves").c_str(), 0755);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "false\ntrue\n");
  EXPECT_EQ(dir.Read("saves/slot.sav"), old);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "saves"), fs::directory_iterator()), 1);
}

TEST(BankSaveFailures, WriteFailingPartWayKeepsTheOldFile) {
  ScratchDir dir;
  std::string old = "the previous save";
  dir.Write("saves/slot.sav", old);
  BuildGame(dir, {{"boot.lua", kSaveScript}});
  // 8 blocks of 512 bytes: the small bank fits, the big one stops part-way.
  RunResult r = RunWrapped(dir, {"/bin/sh", "-c", "ulimit -f 8 && trap '' XFSZ && exec \"$@\"", "sh"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "false\ntrue\n");
  EXPECT_EQ(dir.Read("saves/slot.sav"), old);
  EXPECT_EQ(dir.Read("small.sav"), std::string(1000, '\0'));
  EXPECT_TRUE(LeftoverTemporaries(dir / "saves").empty());
}

TEST(BankSaveFailures, FileSizeLimitDoesNotEndTheGame) {
  ScratchDir dir;
  std::string old = "the previous save";
  dir.Write("saves/slot.sav", old);
  BuildGame(dir, {{"boot.lua", kSaveScript}});
  // SIGXFSZ left at its default action, which would end the process.
  RunResult r = RunWrapped(dir, {"/bin/sh", "-c", "trap - XFSZ && ulimit -f 8 && exec \"$@\"", "sh"});
  EXPECT_EQ(r.signal, 0);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "false\ntrue\n");
  EXPECT_EQ(dir.Read("saves/slot.sav"), old);
  EXPECT_TRUE(LeftoverTemporaries(dir / "saves").empty());
}

}  // namespace
