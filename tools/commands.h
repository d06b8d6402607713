// The subcommands of pelto-tool. Each gets argv[0] = its own name and
// returns the process exit code: 0 done, 1 failed, 2 bad arguments.
#pragma once

int RunCompileCommand(int argc, char** argv);
int RunPackCommand(int argc, char** argv);
int RunBuildCommand(int argc, char** argv);
int RunRunCommand(int argc, char** argv);
int RunNewCommand(int argc, char** argv);
int RunConvertCommand(int argc, char** argv);

// `convert` for Tiled maps (.tmx, .tmj): writes the map's files into
// outDir; with `strict`, warnings are errors. Returns the exit code.
int RunConvertMap(const char* inputPath, const char* outDir, bool strict);
