// Process-wide services of the host: the error box, fatal errors and the
// settings that start-up settles once (data path, profile path, HostInfo).
#pragma once

#include <cstddef>

struct KeyName;

// The record the script host builds the `pelto` table from.
struct HostInfo {
  const KeyName* keyTable;  // KEY_* names and values, ends with a null name
  int argc;                 // process arguments, program path included
  char** argv;              // argv[0] is the program path
  int desktopWidth;         // desktop video mode at start-up, pixels
  int desktopHeight;
};

// Fatal error codes; any other code shows the message of FATAL_GENERIC.
enum FatalCode {
  FATAL_GENERIC = 1,       // "A fatal error occurred."
  FATAL_OUT_OF_MEMORY = 2, // "Out of memory."
  FATAL_DATA = 3,          // "Data file missing or corrupt."
  FATAL_OPENGL = 4,        // "An OpenGL error occurred."
};

// Writes "Error: <message>" to stderr, then shows a modal box titled "Error"
// unless PELTO_NO_DIALOG=1 or no display is reachable; returns when closed.
void ShowErrorBox(const char* message);

// The message a fatal error code shows.
const char* FatalErrorMessage(int code);

// Shows the code's message, shuts the libraries down and exits with status 1.
[[noreturn]] void FatalError(int code);

// What a fatal error is about (an entry's name), shown by the development
// mode's error screen; a release run shows only the code's message.
void SetFatalDetail(const char* what, const char* name);
const char* FatalDetail();

// Development mode: a new run of the game starts with no close request.
void HostClearCloseRequest();

// Terminates the libraries that start-up initialised (audio, then the window library).
void HostShutdown();

const char* HostDataPath();
const char* HostProfilePath();
const HostInfo* HostGetInfo();
int HostCloseRequested();
