// The modified-time text, size clamping and entries a listing leaves out.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/reference.h"

#include "host/os_services.h"

namespace fs = std::filesystem;

namespace {

// Sets TZ for one test and puts the old value back afterwards.
class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) {
    const char* old = getenv("TZ");
    hadOld_ = old != nullptr;
    if (old) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneScope() {
    if (hadOld_) setenv("TZ", old_.c_str(), 1); else unsetenv("TZ");
    tzset();
  }

 private:
  bool hadOld_;
  std::string old_;
};


TEST(ModifiedText, UsesTwelveHourClockAndEnglishNames) {
  ZoneScope zone("UTC");
  EXPECT_EQ(FormatModified(UtcTime(2013, 9, 3, 14, 7)), "2:07PM Tue, Sep 3 2013");
  EXPECT_EQ(FormatModified(UtcTime(2013, 9, 3, 9, 5)), "9:05AM Tue, Sep 3 2013");
  EXPECT_EQ(FormatModified(UtcTime(2024, 12, 25, 0, 0)), "12:00AM Wed, Dec 25 2024");
  EXPECT_EQ(FormatModified(UtcTime(2024, 1, 31, 12, 59)), "12:59PM Wed, Jan 31 2024");
  EXPECT_EQ(FormatModified(UtcTime(2001, 5, 10, 23, 30)), "11:30PM Thu, May 10 2001");
}

TEST(ModifiedText, FollowsTheLocalZone) {
  // Eastern European summer time, UTC+3 in September, without tz files.
  ZoneScope zone("EET-2EEST,M3.5.0/3,M10.5.0/4");
  EXPECT_EQ(FormatModified(UtcTime(2013, 9, 3, 11, 7)), "2:07PM Tue, Sep 3 2013");
}

TEST(ModifiedText, TimesBefore1970ConvertAndUnconvertibleTimesAreEmpty) {
  ZoneScope zone("UTC");
  EXPECT_EQ(FormatModified(UtcTime(1960, 1, 1, 0, 0)), "12:00AM Fri, Jan 1 1960");
  // A year beyond what the calendar record can hold cannot be converted.
  EXPECT_EQ(FormatModified(static_cast<time_t>(INT64_MAX)), "");
  // The last second that still converts: year 2147485547, the longest text.
  std::string longest = FormatModified(static_cast<time_t>(67768036191676799LL));
  EXPECT_EQ(longest.substr(0, 7), "11:59PM");
  EXPECT_LE(longest.size(), 31u);
}

TEST(FileSizes, ClampToTheLargest32BitCount) {
  EXPECT_EQ(ClampFileSize(0), 0);
  EXPECT_EQ(ClampFileSize(2147483647LL), 2147483647);
  EXPECT_EQ(ClampFileSize(2147483648LL), 2147483647);
  EXPECT_EQ(ClampFileSize(5000000000LL), 2147483647);
}

TEST(Paths, TextWithANulByteIsNoPath) {
  EXPECT_STREQ(UsablePath("a/b", 3), "a/b");
  EXPECT_EQ(UsablePath("a\0b", 3), nullptr);
  EXPECT_EQ(UsablePath(nullptr, 0), nullptr);
}

class Folders : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pelto-os-XXXXXX").string();
    ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
    dir = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
  std::string Path(const std::string& name) const { return dir + "/" + name; }
  void Write(const std::string& name, size_t size) const {
    std::ofstream out(Path(name), std::ios::binary);
    out << std::string(size, 'x');
  }
  std::string dir;
};

TEST_F(Folders, EntriesThatCannotBeDescribedAreLeftOut) {
  Write("file", 2);
  fs::create_symlink("file", Path("link"));        // followed: listed as the file
  fs::create_symlink("nowhere", Path("dangling")); // no status: left out
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0); // neither file nor folder
  std::vector<DirectoryEntry> entries;
  ASSERT_TRUE(ScanFolder(dir.c_str(), &entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "file");
  EXPECT_EQ(entries[1].name, "link");
  EXPECT_EQ(entries[1].size, 2);
}

}  // namespace
