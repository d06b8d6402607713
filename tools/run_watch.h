// `pelto-tool run --watch`: builds the game, runs the engine in development
// mode on a channel of its own (host/dev_channel.h), watches the game folder
// with inotify and, on every save, rebuilds incrementally and has the engine
// reload in its window, or show the build's errors.
#pragma once

#include <string>
#include <vector>

#include "tools/game_build.h"

// Saves come as bursts of events (an editor writes a temporary file, then
// renames it over the old one): a build starts once the folder has been
// quiet for kQuietSeconds, or kLongestWaitSeconds after the first event of
// a burst that goes on and on.
constexpr double kQuietSeconds = 0.08;
constexpr double kLongestWaitSeconds = 0.4;

class SaveDebouncer {
 public:
  void Change(double now);
  bool Due(double now) const;
  // Milliseconds until Due turns true; -1 with nothing pending.
  int WaitMs(double now) const;
  void Reset();

 private:
  double first_ = -1, last_ = -1;
};

// Whether a change at `relative` (a path under the game folder, '/'
// between names) is none of the game's: hidden files and folders, the
// output folders, screenshots/, and editors' backup and autosave files
// (NAME~, #NAME#).
bool WatchIgnores(const std::string& relative, const std::vector<std::string>& skippedFolders);

// Runs the session until the engine ends; returns the engine's exit code.
int RunWatchSession(const GameBuildOptions& options, const std::vector<std::string>& engineArgs,
                    const std::string& engine);
