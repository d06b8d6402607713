// pelto-tool convert for Tiled maps: not built yet; the command refuses
// such files with a clear message.
#include <cstdio>

#include "tools/commands.h"

int RunConvertMap(const char* inputPath, const char* outDir, bool strict) {
  std::fprintf(stderr, "error: %s: Tiled maps are not supported yet\n", inputPath);
  return 1;
}
