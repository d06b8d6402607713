// The subcommands of pelto-tool. Each gets argv[0] = its own name and
// returns the process exit code: 0 done, 1 failed, 2 bad arguments.
#pragma once

#include <string>

// The two ways a command fails, each an "error:" line on stderr. Wrong use:
// the problem, then the command's usage text; returns 2.
int UsageError(const char* usage, const std::string& problem);
// A failure of the work itself; returns 1.
int CommandFailed(const std::string& problem);

int RunCompileCommand(int argc, char** argv);
int RunPackCommand(int argc, char** argv);
int RunListCommand(int argc, char** argv);
int RunExtractCommand(int argc, char** argv);
int RunBuildCommand(int argc, char** argv);
int RunRunCommand(int argc, char** argv);
int RunNewCommand(int argc, char** argv);
int RunConvertCommand(int argc, char** argv);

// Converts a Tiled map (.tmx or .tmj) into outDir: STEM.png, STEM.LAYER.map
// per tile layer and STEM.lua. Prints "warning: FILE: ..." and
// "error: FILE: ..." lines; --strict makes warnings errors. Writes nothing on
// failure. Returns the exit code (0 or 1).
int RunConvertMap(const char* inputPath, const char* outDir, bool strict);
int RunExportCommand(int argc, char** argv);
