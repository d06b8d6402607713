// Folder creation, folder listing, the profile path and the display size
// through scripts run by the engine, with file sizes and times set here.
#include <ctime>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/reference.h"
#include "tests/e2e/engine_runner.h"

namespace fs = std::filesystem;

namespace {

// Sets a file's modification time the way a user would, in UTC.
void Touch(const std::string& path, const std::string& when) {
  RunResult r = RunProcess({"/usr/bin/touch", "-d", when, path}, "", {{"TZ", "UTC"}});
  ASSERT_EQ(r.exitCode, 0) << r.err;
}


// Prints every entry of a listing with all its fields and their count.
const char* kListFunction = R"(
  local function list(path)
    local t = OsScanPath(path)
    if t == nil then print('nil') return end
    print('#' .. #t)
    for _, e in ipairs(t) do
      local n = 0
      for _ in pairs(e) do n = n + 1 end
      print(e.name, e.directory, e.size, e.modified, n, string.format('%.0f', e.age))
    end
  end
)";

// A folder with files of known sizes and times, a subfolder, a sparse file
// beyond 2 GiB and a link that leads nowhere.
void MakeListing(const ScratchDir& dir) {
  dir.Write("listing/b.sav", std::string(1234, 'b'));
  dir.Write("listing/A.txt", "");
  dir.Write("listing/sub/inner", "12345");
  dir.Write("listing/old", "1");
  dir.Write("listing/later", "22");
  dir.Write("listing/huge", "");
  fs::resize_file(dir / "listing/huge", 3ull << 30);
  fs::create_symlink("nowhere", dir / "listing/dangling");
  Touch(dir / "listing/b.sav", "2013-09-03 14:07");
  Touch(dir / "listing/A.txt", "2024-02-29 00:30");
  Touch(dir / "listing/sub", "2013-09-03 09:05");
  Touch(dir / "listing/old", "1960-01-01 00:00");
  Touch(dir / "listing/later", "2100-01-01 12:00");
  Touch(dir / "listing/huge", "2030-12-31 23:59");
}

TEST(OsListing, ListsEntriesSortedWithTheirDetails) {
  ScratchDir dir;
  MakeListing(dir);
  BuildGame(dir, {{"boot.lua", std::string(kListFunction) + "list('listing')"}});
  time_t before = time(nullptr);
  RunResult r = RunGame(dir, {}, {{"TZ", "UTC"}, {"LC_ALL", "C.UTF-8"}});
  time_t after = time(nullptr);
  ASSERT_EQ(r.exitCode, 0) << r.err;

  // The age column depends on the moment of the run: check it apart.
  struct Row {
    const char* fields;
    time_t modified;
  };
  // The Windows C runtime converts no time before 1970 to local time.
  const char* old = WindowsEngine() ? "old\tfalse\t1\t\t5" : "old\tfalse\t1\t12:00AM Fri, Jan 1 1960\t5";
  const Row rows[] = {
      {"A.txt\tfalse\t0\t12:30AM Thu, Feb 29 2024\t5", UtcTime(2024, 2, 29, 0, 30)},
      {"b.sav\tfalse\t1234\t2:07PM Tue, Sep 3 2013\t5", UtcTime(2013, 9, 3, 14, 7)},
      {"huge\tfalse\t2147483647\t11:59PM Tue, Dec 31 2030\t5", UtcTime(2030, 12, 31, 23, 59)},
      {"later\tfalse\t2\t12:00PM Fri, Jan 1 2100\t5", UtcTime(2100, 1, 1, 12, 0)},
      {old, UtcTime(1960, 1, 1, 0, 0)},
      {"sub\ttrue\t", UtcTime(2013, 9, 3, 9, 5)},  // a folder's size is the file system's
  };
  std::vector<std::string> lines;
  for (size_t start = 0, end; start < r.out.size(); start = end + 1) {
    end = r.out.find('\n', start);
    lines.push_back(r.out.substr(start, end - start));
  }
  ASSERT_EQ(lines.size(), 7u) << r.out;  // the dangling link is left out
  EXPECT_EQ(lines[0], "#6");
  for (int i = 0; i < 6; ++i) {
    const std::string& line = lines[i + 1];
    EXPECT_EQ(line.substr(0, std::string(rows[i].fields).size()), rows[i].fields) << line;
    long long age = std::stoll(line.substr(line.rfind('\t') + 1));
    EXPECT_GE(age, static_cast<long long>(before - rows[i].modified)) << line;
    EXPECT_LE(age, static_cast<long long>(after - rows[i].modified)) << line;
  }
  EXPECT_NE(lines[6].find("\t9:05AM Tue, Sep 3 2013\t5\t"), std::string::npos) << lines[6];
}

TEST(OsListing, ModifiedTextIsLocalTime) {
  ScratchDir dir;
  dir.Write("listing/b.sav", "b");
  Touch(dir / "listing/b.sav", "2013-09-03 11:07");
  BuildGame(dir, {{"boot.lua", "local e = OsScanPath('listing')[1] print(e.name, e.modified)"}});
  // Eastern European summer time, three hours ahead of UTC in September.
  RunResult r = RunGame(dir, {}, {{"TZ", "EET-2EEST,M3.5.0/3,M10.5.0/4"}});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "b.sav\t2:07PM Tue, Sep 3 2013\n");
}

TEST(OsListing, EmptyFoldersFilesAndMissingPaths) {
  ScratchDir dir;
  fs::create_directories(dir / "empty");
  dir.Write("plain.txt", "x");
  BuildGame(dir, {{"boot.lua", std::string(kListFunction) + R"(
    list('empty') list('plain.txt') list('missing') list(nil) list('') list({})
    print(select('#', OsScanPath('missing')))
    local names = {}
    for _, e in ipairs(OsScanPath('.')) do names[#names + 1] = e.name end
    print(table.concat(names, ','))
  )"}});
  RunResult r = RunGame(dir);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // "." lists the working folder, names without a folder part and without
  // "." and "..".
  EXPECT_EQ(r.out, "#0\nnil\nnil\nnil\nnil\nnil\n1\ndata,empty,home,lua,plain.txt,src\n");
}

TEST(OsFolders, CreationMakesOneLevelAndAcceptsWhatExists) {
  ScratchDir dir;
  dir.Write("plain.txt", "x");
  BuildGame(dir, {{"boot.lua", R"(
    print(OsCreateDirectory('saves'), OsCreateDirectory('saves'), OsCreateDirectory('saves/slot1'))
    print(OsCreateDirectory('nope/child'), OsCreateDirectory('plain.txt'))
    print(OsCreateDirectory(), OsCreateDirectory({}), OsCreateDirectory(''))
    print(OsCreateDirectory(OsProfilePath() .. '/mygame'))
  )"}});
  RunResult r = RunGame(dir, {"--portable"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "true\ttrue\ttrue\nfalse\ttrue\nfalse\tfalse\tfalse\ntrue\n");
  EXPECT_TRUE(fs::is_directory(dir / "saves/slot1"));
  EXPECT_FALSE(fs::exists(dir / "nope"));
  EXPECT_EQ(dir.Read("plain.txt"), "x");  // the file stays a file
  EXPECT_TRUE(fs::is_directory(dir / "mygame"));
}

TEST(OsServices, ProfilePathAndDisplaySizeBeforeAnyDisplay) {
  ScratchDir dir;
  BuildGame(dir, {{"boot.lua", R"(
    print(OsProfilePath(), OsDisplayWidth(), OsDisplayHeight())
    print(select('#', OsDisplayWidth()), select('#', OsProfilePath()))
  )"}});
  RunResult r = RunGame(dir, {"--portable"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, ".\t0\t0\n1\t1\n");
  r = RunGame(dir);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.substr(r.out.find('\t')), "\t0\t0\n1\t1\n");
  EXPECT_NE(r.out.substr(0, r.out.find('\t')), "");
}

}  // namespace
