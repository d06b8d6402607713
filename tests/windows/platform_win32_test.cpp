// The Windows platform layer through the real Windows API (run under Wine):
// the profile folder, folder listing and creation, the atomic bank save and
// the error box's stderr line.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "banks/bank.h"
#include "host/host.h"
#include "host/os_services.h"
#include "host/platform.h"

namespace {

// A fresh folder under the system's temporary folder, removed afterwards.
class TempFolder {
 public:
  TempFolder() {
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    path_ = std::string(base) + "pelto-win-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(next_++);
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~TempFolder() { RemoveTree(path_); }
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }
  const std::string& path() const { return path_; }

 private:
  static void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA item;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &item);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        std::string name = item.cFileName;
        if (name == "." || name == "..") continue;
        std::string full = folder + "\\" + name;
        SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(full); else DeleteFileA(full.c_str());
      } while (FindNextFileA(find, &item));
      FindClose(find);
    }
    RemoveDirectoryA(folder.c_str());
  }
  std::string path_;
  static int next_;
};
int TempFolder::next_ = 0;

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

std::string ReadFileBytes(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return "<missing>";
  std::string bytes;
  char block[4096];
  size_t got;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes.append(block, got);
  std::fclose(file);
  return bytes;
}

// Sets a file's modification time to a UTC calendar time.
void SetModified(const std::string& path, WORD year, WORD month, WORD day, WORD hour, WORD minute) {
  SYSTEMTIME utc = {};
  utc.wYear = year, utc.wMonth = month, utc.wDay = day, utc.wHour = hour, utc.wMinute = minute;
  FILETIME when;
  ASSERT_TRUE(SystemTimeToFileTime(&utc, &when));
  HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  SetFileTime(file, nullptr, nullptr, &when);
  CloseHandle(file);
}

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA item;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &item);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    std::string name = item.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(find, &item));
  FindClose(find);
  return names;
}

TEST(WindowsProfileFolder, IsTheShellsLocalAppDataFolderOrDotWhenPortable) {
  char shell[MAX_PATH];
  ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, shell), S_OK);
  char profile[kProfilePathSize];
  SettlePlatformProfilePath(0, profile);
  EXPECT_STREQ(profile, shell);
  DWORD attributes = GetFileAttributesA(profile);
  EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) << profile;
  SettlePlatformProfilePath(1, profile);
  EXPECT_STREQ(profile, ".");
}

TEST(WindowsListing, SortsNamesAndGivesSizesFoldersAndEnglishUtcDates) {
  _putenv("TZ=UTC");
  TempFolder dir;
  WriteFileBytes(dir / "b.sav", std::string(1234, 'b'));
  WriteFileBytes(dir / "A.txt", "");
  ASSERT_TRUE(EnsureDirectory((dir / "sub").c_str()));
  SetModified(dir / "b.sav", 2013, 9, 3, 14, 7);
  SetModified(dir / "A.txt", 2024, 2, 29, 0, 30);
  SetModified(dir / "sub", 2013, 9, 3, 9, 5);
  std::vector<DirectoryEntry> entries;
  // Both separators, and a trailing one, name the same folder.
  for (const std::string& path : {dir.path(), dir.path() + "\\", dir.path() + "/"}) {
    ASSERT_TRUE(ScanFolder(path.c_str(), &entries)) << path;
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "A.txt");  // byte order: upper case first
    EXPECT_EQ(entries[0].modified, "12:30AM Thu, Feb 29 2024");
    EXPECT_EQ(entries[1].name, "b.sav");
    EXPECT_EQ(entries[1].size, 1234);
    EXPECT_FALSE(entries[1].directory);
    EXPECT_EQ(entries[1].modified, "2:07PM Tue, Sep 3 2013");
    EXPECT_GT(entries[1].age, 3.0e8);
    EXPECT_EQ(entries[2].name, "sub");
    EXPECT_TRUE(entries[2].directory);
    EXPECT_EQ(entries[2].modified, "9:05AM Tue, Sep 3 2013");
  }
  // Not folders: nothing is listed, and "" does not list the drive's root.
  EXPECT_FALSE(ScanFolder((dir / "b.sav").c_str(), &entries));
  EXPECT_FALSE(ScanFolder((dir / "missing").c_str(), &entries));
  EXPECT_FALSE(ScanFolder("", &entries));
  EXPECT_FALSE(ScanFolder((dir / "*").c_str(), &entries));
  EXPECT_FALSE(ScanFolder(nullptr, &entries));
  ASSERT_TRUE(EnsureDirectory((dir / "empty").c_str()));
  ASSERT_TRUE(ScanFolder((dir / "empty").c_str(), &entries));
  EXPECT_TRUE(entries.empty());
}

TEST(WindowsListing, CreateDirectoryIsOneLevelAndAcceptsAnyExistingName) {
  TempFolder dir;
  EXPECT_TRUE(EnsureDirectory((dir / "new").c_str()));
  EXPECT_TRUE(EnsureDirectory((dir / "new").c_str()));
  EXPECT_FALSE(EnsureDirectory((dir / "missing\\child").c_str()));
  WriteFileBytes(dir / "file", "x");
  EXPECT_TRUE(EnsureDirectory((dir / "file").c_str()));
  EXPECT_EQ(ReadFileBytes(dir / "file"), "x");  // left untouched
  EXPECT_FALSE(EnsureDirectory(nullptr));
}

TEST(WindowsBankSave, ReplacesTheFileWholeAndLeavesNoTemporaryFile) {
  TempFolder dir;
  ClearBanks();
  BankStatus status;
  int slot = BankCreate(5, &status);
  ASSERT_EQ(slot, 0);
  const char bytes[] = "\x1a\r\n\0z";  // text-mode translation would change these
  for (int i = 0; i < 5; ++i) BankPoke(slot, i, static_cast<uint8_t>(bytes[i]));
  WriteFileBytes(dir / "save.bin", "an older and longer save file");
  ASSERT_TRUE(BankSaveFile(slot, (dir / "save.bin").c_str()));
  EXPECT_EQ(ReadFileBytes(dir / "save.bin"), std::string(bytes, 5));
  EXPECT_EQ(FolderNames(dir.path()), std::vector<std::string>{"save.bin"});
  // A new file, through forward slashes, and loaded back byte for byte.
  std::string slashed = dir.path() + "/new.bin";
  ASSERT_TRUE(BankSaveFile(slot, slashed.c_str()));
  int loaded = BankLoadFile(slashed.c_str(), &status);
  ASSERT_EQ(loaded, 1);
  EXPECT_EQ(BankSizeOf(loaded), 5);
  EXPECT_EQ(BankPeek(loaded, 0), 0x1a);
  EXPECT_EQ(BankPeek(loaded, 2), 0x0a);
  ClearBanks();
}

TEST(WindowsBankSave, RefusalsKeepTheOldFile) {
  TempFolder dir;
  ClearBanks();
  BankStatus status;
  int slot = BankCreate(3, &status);
  ASSERT_EQ(slot, 0);
  // Read-only: protected.
  WriteFileBytes(dir / "locked.bin", "old");
  SetFileAttributesA((dir / "locked.bin").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(BankSaveFile(slot, (dir / "locked.bin").c_str()));
  EXPECT_EQ(ReadFileBytes(dir / "locked.bin"), "old");
  // Open elsewhere without leave to replace it: the move fails, the old
  // file stays whole and the temporary file is gone.
  WriteFileBytes(dir / "busy.bin", "busy");
  HANDLE busy = CreateFileA((dir / "busy.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(busy, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(BankSaveFile(slot, (dir / "busy.bin").c_str()));
  CloseHandle(busy);
  EXPECT_EQ(ReadFileBytes(dir / "busy.bin"), "busy");
  // A folder, and a folder that does not exist.
  ASSERT_TRUE(EnsureDirectory((dir / "folder").c_str()));
  EXPECT_FALSE(BankSaveFile(slot, (dir / "folder").c_str()));
  EXPECT_FALSE(BankSaveFile(slot, (dir / "missing\\x.bin").c_str()));
  std::vector<std::string> names = FolderNames(dir.path());
  EXPECT_EQ(names, (std::vector<std::string>{"busy.bin", "folder", "locked.bin"}));
  // A folder cannot be loaded as a bank either.
  EXPECT_EQ(BankLoadFile((dir / "folder").c_str(), &status), -1);
  ClearBanks();
}

TEST(WindowsErrorBox, WritesTheErrorLineToStderrAndSkipsTheBoxWhenAsked) {
  _putenv("PELTO_NO_DIALOG=1");
  testing::internal::CaptureStderr();
  ShowErrorBox("Data file missing or corrupt.");
  ShowErrorBox("Unable to initialise GLFW.");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: Data file missing or corrupt.\nError: Unable to initialise GLFW.\n");
}

TEST(WindowsPlatform, IsNamedWin32) { EXPECT_STREQ(kPlatformName, "Win32"); }

}  // namespace
