// Loading banks from files and saving them, the failure paths included: a
// failed save must leave the previous file exactly as it was.
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "banks/bank.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& item : fs::directory_iterator(folder)) names.insert(item.path().filename().string());
  return names;
}

// Runs `body` in a forked child, so that limits and dropped privileges stay
// there; returns its exit status, or 128 + the signal that ended it.
int InChild(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Root passes every permission check through the override capabilities;
// dropping them (from the permitted set too, which access() consults) lets
// folder and file permissions bite as they do for a normal user.
bool DropFileOverride() {
  if (geteuid() != 0) return true;
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  uint32_t drop = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);
  data[0].effective &= ~drop;
  data[0].permitted &= ~drop;
  data[0].inheritable &= ~drop;
  return syscall(SYS_capset, &header, data) == 0;
}

class BankFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearBanks();
    std::string pattern = (fs::temp_directory_path() / "pelto-banks-XXXXXX").string();
    ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
    dir = pattern;
  }
  void TearDown() override {
    ClearBanks();
    std::error_code ignored;
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(dir, ignored);
  }
  std::string Path(const std::string& name) const { return dir + "/" + name; }

  // A bank of `size` bytes with a pattern that differs per size.
  static int PatternBank(int32_t size) {
    BankStatus status;
    int slot = BankCreate(size, &status);
    for (int32_t i = 0; i < size; ++i) BankPoke(slot, i, i * 7 + size);
    return slot;
  }
  static std::string PatternBytes(int32_t size) {
    std::string bytes;
    for (int32_t i = 0; i < size; ++i) bytes.push_back(static_cast<char>(i * 7 + size));
    return bytes;
  }

  std::string dir;
};

TEST_F(BankFiles, LoadRefusesWhatIsNotAReadableRegularFile) {
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  fs::create_directory(Path("folder"));
  BankStatus status;
  for (const std::string& path : {Path("missing"), Path("folder"), Path("fifo"), std::string()}) {
    EXPECT_EQ(BankLoadFile(path.c_str(), &status), -1) << path;
    EXPECT_EQ(status, BankStatus::CannotOpen) << path;
  }
  EXPECT_EQ(BankLoadFile(nullptr, &status), -1);
  EXPECT_EQ(status, BankStatus::CannotOpen);
  EXPECT_EQ(BankAt(0)->data, nullptr);  // no failed load keeps a slot
}

TEST_F(BankFiles, SaveNeverReplacesAFolder) {
  fs::create_directory(Path("folder"));
  WriteFile(Path("folder/inside"), "x");
  int slot = PatternBank(4);
  EXPECT_FALSE(BankSaveFile(slot, Path("folder").c_str()));
  EXPECT_EQ(ReadFile(Path("folder/inside")), "x");
  EXPECT_EQ(Names(dir), std::set<std::string>{"folder"});
}

TEST_F(BankFiles, SaveReplacesTheOldFileAndKeepsItsMode) {
  WriteFile(Path("save"), std::string(10000, 'o'));
  ASSERT_EQ(chmod(Path("save").c_str(), 0640), 0);
  int slot = PatternBank(5);
  ASSERT_TRUE(BankSaveFile(slot, Path("save").c_str()));
  EXPECT_EQ(ReadFile(Path("save")), PatternBytes(5));
  struct stat info;
  ASSERT_EQ(stat(Path("save").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(Names(dir), std::set<std::string>{"save"});
}

TEST_F(BankFiles, NewFileGetsTheUsualModeNotATemporaryOne) {
  mode_t old = umask(022);
  int slot = PatternBank(5);
  bool saved = BankSaveFile(slot, Path("new").c_str());
  umask(old);
  ASSERT_TRUE(saved);
  struct stat info;
  ASSERT_EQ(stat(Path("new").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
}

TEST_F(BankFiles, SaveThroughALinkReplacesTheLinkedFile) {
  fs::create_directory(Path("real"));
  WriteFile(Path("real/save"), "old");
  fs::create_symlink("real/save", Path("link"));
  int slot = PatternBank(3);
  ASSERT_TRUE(BankSaveFile(slot, Path("link").c_str()));
  EXPECT_TRUE(fs::is_symlink(Path("link")));
  EXPECT_EQ(ReadFile(Path("real/save")), PatternBytes(3));
}

TEST_F(BankFiles, WriteFailingPartWayKeepsTheOldFile) {
  std::string old = "the previous save, which must survive";
  WriteFile(Path("save"), old);
  int slot = PatternBank(64 * 1024);
  // 4 KiB of file size allowed: the write stops part-way. SIGXFSZ keeps its
  // default action (ending the process), so the save must guard against it.
  int status = InChild([&] {
    rlimit limit = {4096, 4096};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
    return BankSaveFile(slot, Path("save").c_str()) ? 1 : 0;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(Path("save")), old);
  EXPECT_EQ(Names(dir), std::set<std::string>{"save"});
}

TEST_F(BankFiles, FolderWithoutWritePermissionKeepsTheOldFile) {
  std::string old = "old save";
  WriteFile(Path("save"), old);
  ASSERT_EQ(chmod(dir.c_str(), 0555), 0);
  int slot = PatternBank(16);
  int status = InChild([&] {
    if (!DropFileOverride()) return 2;
    // The folder really refuses new files in this process.
    if (access(dir.c_str(), W_OK) == 0) return 3;
    return BankSaveFile(slot, Path("save").c_str()) ? 1 : 0;
  });
  chmod(dir.c_str(), 0755);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(Path("save")), old);
  EXPECT_EQ(Names(dir), std::set<std::string>{"save"});
}

TEST_F(BankFiles, ReadOnlyFileIsNotReplaced) {
  WriteFile(Path("save"), "kept");
  ASSERT_EQ(chmod(Path("save").c_str(), 0444), 0);
  int slot = PatternBank(16);
  int status = InChild([&] {
    if (!DropFileOverride()) return 2;
    return BankSaveFile(slot, Path("save").c_str()) ? 1 : 0;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(Path("save")), "kept");
}

}  // namespace
