// File helpers of the build commands.
#include "tools/tool_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "tools/file_replace.h"

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* problem) {
  bytes->clear();
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    *problem = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  uint8_t block[1 << 16];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes->insert(bytes->end(), block, block + got);
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) *problem = "cannot read " + path + ": read error";
  return !failed;
}

bool CreateParentFolders(const std::string& path, std::string* problem) {
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (parent.empty()) return true;
  std::error_code error;
  if (std::filesystem::is_directory(parent, error)) return true;
  std::filesystem::create_directories(parent, error);
  // A file in the way is no error to create_directories: check the result.
  if (error || !std::filesystem::is_directory(parent)) {
    std::string reason = error ? error.message() : "a file of that name is in the way";
    *problem = "cannot create folder " + parent.string() + ": " + reason;
    return false;
  }
  return true;
}

bool WriteFileReplacing(const std::string& path, const std::vector<uint8_t>& bytes, std::string* problem) {
  std::error_code error;
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, error);
  if (error) {
    *problem = "cannot write " + path + ": " + error.message();
    return false;
  }
  std::string temp = path + ".XXXXXX";
  int fd = mkstemp(&temp[0]);
  if (fd < 0) {
    *problem = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  bool ok = true;
  int failure = 0;
  while (ok && done < bytes.size()) {
    ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      failure = wrote < 0 ? errno : EIO;
      ok = false;
    } else {
      done += size_t(wrote);
    }
  }
  // mkstemp makes the file private; these are ordinary data files.
  mode_t mask = umask(0);
  umask(mask);
  if (ok && fchmod(fd, 0666 & ~mask) != 0) failure = errno, ok = false;
  if (close(fd) != 0 && ok) failure = errno, ok = false;
  if (ok && RenameOver(temp.c_str(), path.c_str()) != 0) failure = errno, ok = false;
  if (!ok) {
    *problem = "cannot write " + path + ": " + std::strerror(failure);
    unlink(temp.c_str());
  }
  return ok;
}

uint64_t ContentHash(const void* data, size_t size, uint64_t hash) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 0x100000001b3ull;
  return hash;
}
