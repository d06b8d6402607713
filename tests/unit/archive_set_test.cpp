// Mounting folders of crafted archives and loading entries from them:
// which files are taken, priorities and duplicates, damaged files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/archive_set.h"
#include "archive/asset.h"
#include "archive/name_hash.h"
#include "tests/unit/archive_test_support.h"

namespace {

namespace fs = std::filesystem;
using archive_test::Archive;
using archive_test::ArchiveBytes;
using archive_test::Packed;
using archive_test::PutU32;
using archive_test::RawRecord;

uint32_t Hash(const std::string& name) { return NameHash(name.data(), name.size()); }

class ArchiveSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pelto-archive-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    set_.archiveCount = 0;
  }
  void TearDown() override {
    UnmountArchiveSet(&set_);
    fs::remove_all(folder_);
  }

  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(folder_ + "/" + name, std::ios::binary) << bytes;
  }
  MountStatus Mount() { return MountArchiveSet(folder_.c_str(), &set_); }

  // Loads an entry as text; "<status N>" when the load fails.
  std::string Load(const char* name) {
    AssetBuffer buffer{123, nullptr};
    LoadStatus status = LoadArchiveEntry(set_, name, &buffer);
    if (status != LoadStatus::Ok) {
      EXPECT_EQ(buffer.data, nullptr);
      return "<status " + std::to_string(int(status)) + ">";
    }
    std::string text(reinterpret_cast<char*>(buffer.data), size_t(buffer.size));
    AssetFree(&buffer);
    return text;
  }

  std::string folder_;
  ArchiveSet set_;
};

const std::string kMissing = "<status " + std::to_string(int(LoadStatus::Missing)) + ">";
const std::string kCorrupt = "<status " + std::to_string(int(LoadStatus::Corrupt)) + ">";

// ---- which files are mounted ----------------------------------------------

TEST_F(ArchiveSetTest, MissingFolderCannotBeFound) {
  EXPECT_EQ(MountArchiveSet((folder_ + "/nowhere").c_str(), &set_), MountStatus::CannotFindData);
}

TEST_F(ArchiveSetTest, FolderWithoutArchivesMountsEmpty) {
  Write("readme.txt", "hello");
  ASSERT_EQ(Mount(), MountStatus::Ok);
  EXPECT_EQ(set_.archiveCount, 0);
  EXPECT_TRUE(set_.directory.empty());
  EXPECT_EQ(Load("boot.prg"), kMissing);
}

TEST_F(ArchiveSetTest, TakesDatFilesOfAnyCaseButNotFoldersOrBareExtensions) {
  Write("lower.dat", Archive(0, {{"a", "from lower"}}));
  Write("Mixed.DaT", Archive(0, {{"b", "from mixed"}}));
  Write(".DAT", Archive(0, {{"c", "bare extension"}}));
  Write("almost.DA", Archive(0, {{"d", "wrong extension"}}));
  fs::create_directory(folder_ + "/FOLDER.DAT");
  ASSERT_EQ(Mount(), MountStatus::Ok);
  EXPECT_EQ(set_.archiveCount, 2);
  EXPECT_EQ(Load("a"), "from lower");
  EXPECT_EQ(Load("b"), "from mixed");
  EXPECT_EQ(Load("c"), kMissing);
  EXPECT_EQ(Load("d"), kMissing);
  for (int i = 0; i < set_.archiveCount; ++i) EXPECT_EQ(set_.archives[i].path.rfind(folder_ + "/", 0), 0u);
}

TEST_F(ArchiveSetTest, MountsOnlyTheFirstEightArchives) {
  for (int i = 0; i < 9; ++i) Write("A" + std::to_string(i) + ".DAT", Archive(0, {{"n" + std::to_string(i), "x"}}));
  ASSERT_EQ(Mount(), MountStatus::Ok);
  EXPECT_EQ(set_.archiveCount, kMaxArchives);
  EXPECT_EQ(set_.directory.size(), 8u);
  int found = 0;
  for (int i = 0; i < 9; ++i) found += Load(("n" + std::to_string(i)).c_str()) == "x";
  EXPECT_EQ(found, 8);
}

TEST_F(ArchiveSetTest, EmptyArchiveMounts) {
  Write("EMPTY.DAT", Archive(0, {}));
  ASSERT_EQ(Mount(), MountStatus::Ok);
  EXPECT_EQ(set_.archiveCount, 1);
  EXPECT_EQ(set_.archives[0].entryCount, 0u);
}

// ---- priorities and duplicates --------------------------------------------

TEST_F(ArchiveSetTest, HigherPriorityWinsWhicheverIsListedFirst) {
  Write("A.DAT", Archive(7, {{"boot.prg", "seven"}, {"only7", "a"}}));
  Write("B.DAT", Archive(3, {{"boot.prg", "three"}, {"only3", "b"}}));
  Write("C.DAT", Archive(5, {{"other", "five"}}));
  ASSERT_EQ(Mount(), MountStatus::Ok);
  EXPECT_EQ(Load("boot.prg"), "seven");
  EXPECT_EQ(Load("only3"), "b");
  EXPECT_EQ(Load("only7"), "a");
  // The table is sorted by priority; every record of a merged run is the winner.
  EXPECT_EQ(set_.archives[0].priority, 3);
  EXPECT_EQ(set_.archives[2].priority, 7);
  for (size_t i = 1; i < set_.directory.size(); ++i) {
    EXPECT_LE(set_.directory[i - 1].nameHash, set_.directory[i].nameHash);
  }
}

TEST_F(ArchiveSetTest, EqualPrioritiesAreOrderedByPath) {
  Write("PATCH.DAT", Archive(2, {{"boot.prg", "patch"}}));
  Write("GAME.DAT", Archive(2, {{"boot.prg", "game"}}));
  Write("ZZZ.DAT", Archive(1, {{"boot.prg", "lower"}}));
  ASSERT_EQ(Mount(), MountStatus::Ok);
  EXPECT_EQ(Load("boot.prg"), "patch");
}

TEST_F(ArchiveSetTest, SameHashTwiceInOneArchiveFindsTheFirstRecord) {
  uint32_t hash = Hash("boot.prg");
  Write("GAME.DAT", ArchiveBytes(0, {{Hash("x"), Packed("x")}, {hash, Packed("first")}, {hash, Packed("second")}}));
  ASSERT_EQ(Mount(), MountStatus::Ok);
  EXPECT_EQ(Load("boot.prg"), "first");
  Write("GAME.DAT", ArchiveBytes(0, {{hash, Packed("second")}, {hash, Packed("first")}}));
  ASSERT_EQ(Mount(), MountStatus::Ok);
  EXPECT_EQ(Load("boot.prg"), "second");
}

TEST_F(ArchiveSetTest, NamesMatchByteForByte) {
  Write("GAME.DAT", Archive(0, {{"boot.prg", "b"}, {"gfx/tiles.pcx", "t"}}));
  ASSERT_EQ(Mount(), MountStatus::Ok);
  EXPECT_EQ(Load("boot.prg"), "b");
  EXPECT_EQ(Load("Boot.prg"), kMissing);
  EXPECT_EQ(Load("./boot.prg"), kMissing);
  EXPECT_EQ(Load("gfx\\tiles.pcx"), kMissing);
  EXPECT_EQ(Load("gfx/tiles.pcx"), "t");
}

TEST_F(ArchiveSetTest, RemountReplacesAndUnmountClears) {
  Write("GAME.DAT", Archive(0, {{"a", "1"}}));
  ASSERT_EQ(Mount(), MountStatus::Ok);
  ASSERT_EQ(Mount(), MountStatus::Ok);
  EXPECT_EQ(set_.archiveCount, 1);
  EXPECT_EQ(set_.directory.size(), 1u);
  UnmountArchiveSet(&set_);
  EXPECT_EQ(set_.archiveCount, 0);
  EXPECT_TRUE(set_.directory.empty());
  EXPECT_EQ(Load("a"), kMissing);
}

// ---- damaged archives refused at mount ------------------------------------

TEST_F(ArchiveSetTest, BadMagicOrVersionSpoilsTheWholeMount) {
  Write("GOOD.DAT", Archive(0, {{"a", "1"}}));
  std::string bad = Archive(0, {{"b", "2"}});
  bad[4] = 2;
  Write("BAD.DAT", bad);
  EXPECT_EQ(Mount(), MountStatus::Corrupted);
  EXPECT_EQ(set_.archiveCount, 0);
  bad = Archive(0, {{"b", "2"}});
  bad[1] = 'v';
  Write("BAD.DAT", bad);
  EXPECT_EQ(Mount(), MountStatus::Corrupted);
  Write("BAD.DAT", "[VX");
  EXPECT_EQ(Mount(), MountStatus::Corrupted);
  Write("BAD.DAT", "");
  EXPECT_EQ(Mount(), MountStatus::Corrupted);
}

TEST_F(ArchiveSetTest, TruncatedArchivesAreCorrupted) {
  std::string good = Archive(0, {{"a", "some entry text"}, {"b", "another"}});
  for (size_t length : {size_t(5), size_t(6), size_t(9), size_t(13), good.size() - 1, good.size() - 5}) {
    Write("GAME.DAT", good.substr(0, length));
    EXPECT_EQ(Mount(), MountStatus::Corrupted) << length;
  }
  Write("GAME.DAT", good);
  EXPECT_EQ(Mount(), MountStatus::Ok);
}

TEST_F(ArchiveSetTest, DirectoryOutsideTheFileIsCorrupted) {
  std::vector<uint8_t> good;
  std::string text = Archive(0, {{"a", "entry"}});
  good.assign(text.begin(), text.end());
  const size_t size = good.size();
  const uint32_t directory = archive_test::GetU32(good, size - 4);
  auto mountWith = [&](size_t at, uint32_t value) {
    std::vector<uint8_t> bytes = good;
    PutU32(&bytes, at, value);
    Write("GAME.DAT", std::string(bytes.begin(), bytes.end()));
    return Mount();
  };
  EXPECT_EQ(mountWith(size - 4, uint32_t(size)), MountStatus::Corrupted);        // offset past the end
  EXPECT_EQ(mountWith(size - 4, 0xfffffff0u), MountStatus::Corrupted);          // far past it
  EXPECT_EQ(mountWith(size - 4, 2), MountStatus::Corrupted);                    // inside the header
  EXPECT_EQ(mountWith(directory, 2), MountStatus::Corrupted);                   // N records do not fit
  EXPECT_EQ(mountWith(directory, 0x20000000u), MountStatus::Corrupted);         // N * 8 overflows 32 bits
  EXPECT_EQ(mountWith(directory + 8, uint32_t(size - 11)), MountStatus::Corrupted);  // block header past the end
  EXPECT_EQ(mountWith(directory + 8, 3), MountStatus::Corrupted);               // block inside the header
  EXPECT_EQ(mountWith(directory, 0), MountStatus::Ok);                          // fewer records is fine
}

TEST_F(ArchiveSetTest, UnreadableArchiveCannotBeAccessed) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
  Write("GAME.DAT", Archive(0, {{"a", "1"}}));
  chmod((folder_ + "/GAME.DAT").c_str(), 0);
  EXPECT_EQ(Mount(), MountStatus::CannotAccess);
}

// ---- damaged entries refused at load --------------------------------------

class DamagedEntryTest : public ArchiveSetTest {
 protected:
  // Mounts an archive whose entry "e" is `block` (with `tail` extra bytes
  // after it) and loads it.
  std::string LoadBlock(const std::vector<uint8_t>& block) {
    Write("GAME.DAT", ArchiveBytes(0, {{Hash("e"), block}}));
    EXPECT_EQ(Mount(), MountStatus::Ok);
    return Load("e");
  }
};

TEST_F(DamagedEntryTest, GoodBlockLoads) { EXPECT_EQ(LoadBlock(Packed("hello hello hello")), "hello hello hello"); }

TEST_F(DamagedEntryTest, BadBlockSizesAreCorrupt) {
  std::vector<uint8_t> good = Packed("hello hello hello");
  for (uint32_t size : {0u, 8u, 12u, 13u, uint32_t(good.size() + 2), uint32_t(good.size() + 4), 0xfffffffcu}) {
    std::vector<uint8_t> block = good;
    PutU32(&block, 4, size);
    EXPECT_EQ(LoadBlock(block), kCorrupt) << size;
  }
}

TEST_F(DamagedEntryTest, BadUnpackedSizesAreCorrupt) {
  std::vector<uint8_t> good = Packed("hello hello hello");
  // 0 cannot be expressed; huge sizes are refused before any allocation.
  for (uint32_t size : {0u, 16u, 18u, 0x7fffffffu, 0x80000000u, 0xffffffffu}) {
    std::vector<uint8_t> block = good;
    PutU32(&block, 0, size);
    EXPECT_EQ(LoadBlock(block), kCorrupt) << size;
  }
}

TEST_F(DamagedEntryTest, CheckMismatchIsCorrupt) {
  std::vector<uint8_t> block = Packed("hello hello hello");
  block[8] ^= 1;
  EXPECT_EQ(LoadBlock(block), kCorrupt);
  block = Packed("hello hello hello");
  block.back() ^= 0x40;
  EXPECT_EQ(LoadBlock(block), kCorrupt);
}

TEST_F(DamagedEntryTest, ArchiveReplacedAfterMountingIsCorruptNotOverread) {
  Write("GAME.DAT", Archive(0, {{"e", std::string(5000, 'q') + "tail"}}));
  ASSERT_EQ(Mount(), MountStatus::Ok);
  Write("GAME.DAT", "[VX]");
  EXPECT_EQ(Load("e"), kCorrupt);
  fs::remove(folder_ + "/GAME.DAT");
  EXPECT_EQ(Load("e"), kMissing);
}

// ---- buffers -------------------------------------------------------------

TEST(ArchiveAsset, FreeKeepsTheSizeAndReleasesOnce) {
  AssetBuffer buffer{5, static_cast<uint8_t*>(std::malloc(5))};
  AssetFree(&buffer);
  EXPECT_EQ(buffer.data, nullptr);
  EXPECT_EQ(buffer.size, 5);
  AssetFree(&buffer);  // releases nothing
  EXPECT_EQ(buffer.data, nullptr);
  EXPECT_EQ(buffer.size, 5);
}

TEST_F(ArchiveSetTest, LoadedBufferHoldsExactlyTheEntry) {
  std::string big(300000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = char((i * 7) ^ (i >> 9));
  Write("GAME.DAT", Archive(0, {{"big", big}, {"one", "1"}}));
  ASSERT_EQ(Mount(), MountStatus::Ok);
  AssetBuffer buffer{0, nullptr};
  ASSERT_EQ(LoadArchiveEntry(set_, "big", &buffer), LoadStatus::Ok);
  EXPECT_EQ(buffer.size, int32_t(big.size()));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data), big.size()), big);
  AssetFree(&buffer);
  EXPECT_EQ(Load("one"), "1");
}

}  // namespace

namespace {

// ---- archives held in memory ------------------------------------------------

// The same archives, mounted from files and from memory, give the same
// directory and the same entries; damage is refused the same way.
TEST_F(ArchiveSetTest, ArchivesInMemoryMountLikeFiles) {
  const std::string low = Archive(1, {{"shared", "low"}, {"only-low", "l"}});
  const std::string high = Archive(9, {{"shared", "high"}});
  Write("LOW.DAT", low);
  Write("HIGH.DAT", high);
  ASSERT_EQ(Mount(), MountStatus::Ok);
  const std::vector<DirectoryRecord> fromFiles = set_.directory;

  const ArchiveImage images[] = {{"LOW.DAT", reinterpret_cast<const uint8_t*>(low.data()), low.size()},
                                 {"HIGH.DAT", reinterpret_cast<const uint8_t*>(high.data()), high.size()}};
  ASSERT_EQ(MountArchiveImages(images, 2, &set_), MountStatus::Ok);
  ASSERT_EQ(set_.directory.size(), fromFiles.size());
  for (size_t i = 0; i < fromFiles.size(); ++i) {
    EXPECT_EQ(set_.directory[i].nameHash, fromFiles[i].nameHash);
    EXPECT_EQ(set_.directory[i].entryOffset, fromFiles[i].entryOffset);
  }
  EXPECT_EQ(Load("shared"), "high");
  EXPECT_EQ(Load("only-low"), "l");
  AssetBuffer buffer;
  ASSERT_EQ(LoadArchiveEntryByHash(set_, Hash("only-low"), &buffer), LoadStatus::Ok);
  AssetFree(&buffer);

  const std::string cut = low.substr(0, low.size() - 5);
  const ArchiveImage damaged[] = {{"CUT.DAT", reinterpret_cast<const uint8_t*>(cut.data()), cut.size()},
                                  {"EMPTY.DAT", nullptr, 0}};
  EXPECT_EQ(MountArchiveImages(damaged, 1, &set_), MountStatus::Corrupted);
  EXPECT_EQ(set_.archiveCount, 0);
  EXPECT_EQ(MountArchiveImages(damaged + 1, 1, &set_), MountStatus::Corrupted);
}

}  // namespace
