// Replays every input kept for the fuzz targets: the seeds in
// tests/fuzz/corpus/NAME/ and the inputs of past findings in
// tests/fuzz/regressions/NAME/. A target aborts on a broken invariant and
// the sanitizer build catches the memory faults, so passing means every one
// of them is refused or handled cleanly.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_targets.h"

// Test names and messages show the target's name.
void PrintTo(const FuzzTarget& target, std::ostream* out) { *out << target.name; }

namespace {

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> files;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return files;
  while (struct dirent* item = readdir(dir)) {
    if (item->d_name[0] != '.') files.push_back(folder + "/" + item->d_name);
  }
  closedir(dir);
  std::sort(files.begin(), files.end());
  return files;
}

// Runs the target on an exact-size heap copy, so an over-read is caught.
void Replay(const FuzzTarget& target, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  uint8_t* copy = new uint8_t[bytes.size() > 0 ? bytes.size() : 1];
  std::copy(bytes.begin(), bytes.end(), copy);
  target.run(copy, bytes.size());
  delete[] copy;
}

class FuzzInputs : public ::testing::TestWithParam<FuzzTarget> {};

TEST_P(FuzzInputs, EverySeedAndPastFindingIsHandled) {
  const std::string root = std::string(PELTO_SOURCE_DIR) + "/tests/fuzz/";
  std::vector<std::string> seeds = FilesIn(root + "corpus/" + GetParam().name);
  EXPECT_FALSE(seeds.empty()) << "no seed corpus for " << GetParam().name;
  for (const std::string& path : seeds) Replay(GetParam(), path);
  for (const std::string& path : FilesIn(root + "regressions/" + GetParam().name)) {
    SCOPED_TRACE(path);
    Replay(GetParam(), path);
  }
}

std::vector<FuzzTarget> AllTargets() {
  std::vector<FuzzTarget> targets;
  for (const FuzzTarget* t = kFuzzTargets; t->name; ++t) targets.push_back(*t);
  return targets;
}

INSTANTIATE_TEST_SUITE_P(Fuzz, FuzzInputs, ::testing::ValuesIn(AllTargets()),
                         [](const ::testing::TestParamInfo<FuzzTarget>& p) { return std::string(p.param.name); });

}  // namespace
