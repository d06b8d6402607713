// The command line and the profile folder: plain logic that start-up runs
// once, before any library is initialised.
#pragma once

#include <cstddef>

struct DisplayState;

constexpr size_t kProfilePathSize = 260;

struct StartupOptions {
  const char* dataPath;  // points into argv; "." unless "--datapath" names one
  int portableMode;      // 1 after "--portable": the profile folder is "."
};

// Compares argv[1..argc-1] whole and case-sensitively with the ten options;
// anything else is ignored and the later of two options wins. Display
// options go into `display`.
void ParseOptions(int argc, char** argv, StartupOptions* options, DisplayState* display);

// The per-user folder: "." when portable; otherwise $XDG_DATA_HOME, else
// $HOME/.local/share, else $APPDATA, else "."; cut to fit the buffer.
// `lookup` reads an environment variable (getenv in the engine).
void SettleProfilePath(int portableMode, const char* (*lookup)(const char* name),
                       char (&profilePath)[kProfilePathSize]);

// The Windows rule: "." when portable; otherwise the local application-data
// folder as `shellFolder` reports it (SHGetFolderPathA in the engine; false
// when it fails), else $APPDATA, else "."; cut to fit the buffer.
void SettleWindowsProfilePath(int portableMode, bool (*shellFolder)(char* out, size_t size),
                              const char* (*lookup)(const char* name), char (&profilePath)[kProfilePathSize]);
