// Moving a finished temporary file over its target, on every system.
#pragma once

#if defined(_WIN32)
#include <io.h>
// Windows has no permission bits to give a new file: every file is the
// user's own, read-write.
inline int fchmod(int, unsigned) { return 0; }
#endif

// Renames `from` to `to`, replacing `to` if it exists (which std::rename
// does not do on Windows). 0 on success, -1 with errno set otherwise.
int RenameOver(const char* from, const char* to);
