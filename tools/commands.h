// The subcommands of pelto-tool. Each gets argv[0] = its own name and
// returns the process exit code: 0 done, 1 failed, 2 bad arguments.
#pragma once

int RunCompileCommand(int argc, char** argv);
int RunPackCommand(int argc, char** argv);
int RunExportCommand(int argc, char** argv);
