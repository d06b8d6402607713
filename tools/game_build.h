// Building a game folder into its archive: the work of `pelto-tool build`,
// callable again and again (by `run`, and by a watcher) in one process.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct GameBuildOptions {
  std::string gameDir = ".";  // the game's sources; boot.lua is the entry
  std::string dataDir;        // where GAME.DAT goes; empty: gameDir/build
};

// What a build did. Lines are passed on as they happen when the callbacks
// are set, and kept in the vectors as well.
struct GameBuildReport {
  std::function<void(const std::string&)> onLine;     // "compiled lib/vec.lua", ...
  std::function<void(const std::string&)> onWarning;  // "music/a.xm: pattern 2 row 4 channel 1: ..."
  std::vector<std::string> lines;
  std::vector<std::string> warnings;
  std::vector<std::string> errors;  // "boot.lua:3: module 'x' not found", ...

  std::string archivePath;   // DATA_DIR/GAME.DAT
  size_t entries = 0;
  uint64_t unpackedBytes = 0, packedBytes = 0, archiveBytes = 0;
  int compiled = 0, converted = 0, packed = 0, reused = 0;  // units of work done or taken from the cache
};

enum class GameBuildStatus {
  Built,   // the archive was written
  Failed,  // errors says why; the old archive is untouched
};

GameBuildStatus BuildGame(const GameBuildOptions& options, GameBuildReport* report);

// The summary line after a build: "12 entries, 345678 -> 123456 bytes (35.7%), build/GAME.DAT (123600 bytes)".
std::string GameBuildSummary(const GameBuildReport& report);
