#!/usr/bin/env bash
# Cross-builds the engine's libraries for Windows from Debian's own source
# packages (apt-get source), with the same mingw-w64 toolchain as the engine,
# into a cache: DEPS/prefix/{include,lib}. Only the libraries are built (no
# programs, docs, tests or examples of theirs), each as a static archive.
#
# The cache is keyed by this script and the compiler version: a second run
# with both unchanged does nothing. Usage: build_windows_deps.sh DEPS_DIR
set -euo pipefail

deps=$(mkdir -p "$1" && cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
cc=x86_64-w64-mingw32-gcc-posix
ar=x86_64-w64-mingw32-ar
jobs=2  # the machine is shared: never more

key="$(sha256sum "$here/build_windows_deps.sh" "$here/mingw-toolchain.cmake" | sha256sum | cut -c1-16) $($cc -dumpversion)"
if [ -f "$deps/prefix/.key" ] && [ "$(cat "$deps/prefix/.key")" = "$key" ]; then
  exit 0
fi

echo "windows deps: building into $deps (once; later builds reuse it)"
rm -rf "$deps/src" "$deps/prefix"
mkdir -p "$deps/src" "$deps/prefix/include" "$deps/prefix/lib"
prefix=$deps/prefix
cflags="-O2 -DNDEBUG -w"  # their warnings are not ours to mend

# Sources with Debian's patches applied. Run as root, apt warns that it
# cannot drop to its own user for the download; that is harmless.
(cd "$deps/src" && apt-get source -qq lua5.1 zlib libspng libstb glfw3 portaudio19 2>&1 |
  grep -v -e "unsandboxed" -e "^dpkg-source: info" -e "^dpkg-source: warning" || true)
src() { ls -d "$deps/src/$1"-[0-9]*/ | head -1; }

# Compiles the given C files (object per file, named after the file) into
# lib NAME.a; extra compiler flags follow "--".
static_lib() {
  local name=$1; shift
  local files=() flags=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do files+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  flags=("$@")
  local objs="$deps/src/obj-$name"
  mkdir -p "$objs"
  printf '%s\n' "${files[@]}" |
    xargs -P "$jobs" -I{} sh -c '"$0" "$@" -c "{}" -o "$1/$(basename "{}" .c).o"' \
      "$cc" $cflags "${flags[@]}" "$objs" -o /dev/null 2>/dev/null || true
  # The line above builds in parallel; a file that failed is built again
  # here in the open so that its error shows and stops the script.
  for f in "${files[@]}"; do
    local o="$objs/$(basename "$f" .c).o"
    [ -f "$o" ] || "$cc" $cflags "${flags[@]}" -c "$f" -o "$o"
  done
  rm -f "$prefix/lib/lib$name.a"
  "$ar" rcs "$prefix/lib/lib$name.a" "$objs"/*.o
}

# Lua 5.1: the library only (no lua.c, luac.c, print.c).
lua=$(src lua5.1)
static_lib lua5.1 $(ls "$lua"src/*.c | grep -v -e '/lua\.c$' -e '/luac\.c$' -e '/print\.c$')
mkdir -p "$prefix/include/lua5.1"
cp "$lua"src/{lua.h,luaconf.h,lualib.h,lauxlib.h} "$prefix/include/lua5.1/"
cp "$lua"etc/lua.hpp "$prefix/include/lua5.1/" 2>/dev/null || cat > "$prefix/include/lua5.1/lua.hpp" <<'EOF'
extern "C" {
#include "lua.h"
#include "lualib.h"
#include "lauxlib.h"
}
EOF

# zlib: the library only, without the gz* file functions' unused dependents.
zlib=$(src zlib)
static_lib z "$zlib"{adler32,compress,crc32,deflate,gzclose,gzlib,gzread,gzwrite,infback,inffast,inflate,inftrees,trees,uncompr,zutil}.c
cp "$zlib"{zlib.h,zconf.h} "$prefix/include/"

# libspng over that zlib.
spng=$(src libspng)
static_lib spng "$spng"spng/spng.c -- -DSPNG_STATIC -I"$prefix/include"
cp "$spng"spng/spng.h "$prefix/include/"

# stb_vorbis, installed as Debian installs it: <stb/stb_vorbis.h> is the
# .c file, and libstb holds the implementation.
stb=$(src libstb)
static_lib stb "$stb"stb_vorbis.c
mkdir -p "$prefix/include/stb"
cp "$stb"stb_vorbis.c "$prefix/include/stb/stb_vorbis.h"

# PortAudio with the MME host API only: it is on every Windows and under
# Wine, and the mixer's 44.1 kHz stereo stream needs nothing more. (This
# PortAudio's WASAPI code builds only against the Windows SDK's own
# headers, not mingw-w64's; no DirectSound, ASIO or WDM-KS either.)
pa=$(src portaudio19)
static_lib portaudio \
  "$pa"src/common/{pa_allocation,pa_converters,pa_cpuload,pa_debugprint,pa_dither,pa_front,pa_process,pa_ringbuffer,pa_stream,pa_trace}.c \
  "$pa"src/os/win/{pa_win_coinitialize,pa_win_hostapis,pa_win_util,pa_win_waveformat,pa_x86_plain_converters}.c \
  "$pa"src/hostapi/wmme/pa_win_wmme.c \
  -- -I"$pa"include -I"$pa"src/common -I"$pa"src/os/win \
  -DPA_USE_WMME=1 -DPA_USE_WASAPI=0 -DPA_USE_DS=0 -DPA_USE_ASIO=0 -DPA_USE_WDMKS=0 -DPA_USE_SKELETON=0 \
  -D_WIN32_WINNT=0x0601
cp "$pa"include/portaudio.h "$pa"include/pa_win_wmme.h "$pa"include/pa_win_waveformat.h "$prefix/include/"

# GLFW 3 through its own CMake, library only.
glfw=$(src glfw3)
cmake -S "$glfw" -B "$deps/src/glfw-build" -DCMAKE_TOOLCHAIN_FILE="$here/mingw-toolchain.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
  -DGLFW_BUILD_EXAMPLES=OFF -DGLFW_BUILD_TESTS=OFF -DGLFW_BUILD_DOCS=OFF -DGLFW_INSTALL=ON >/dev/null
cmake --build "$deps/src/glfw-build" -j "$jobs" >/dev/null
cmake --install "$deps/src/glfw-build" >/dev/null

# Sources and objects are not needed any more; the prefix is the cache.
rm -rf "$deps/src"
echo "$key" > "$prefix/.key"
echo "windows deps: done"
