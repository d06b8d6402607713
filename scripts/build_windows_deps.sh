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
rm -rf "$deps/prefix"
mkdir -p "$deps/src" "$deps/prefix/include" "$deps/prefix/lib"
prefix=$deps/prefix
cflags="-O2 -DNDEBUG -w"  # their warnings are not ours to mend

# Sources with Debian's patches applied; a package already unpacked in
# DEPS/src (an interrupted run) is not fetched again. Run as root, apt warns
# that it cannot drop to its own user for the download; that is harmless.
packages=(lua5.1 zlib glfw3 portaudio19 libpng1.6 libogg libvorbis expat cjson libzstd giflib)
src() { ls -d "$deps/src/$1"-[0-9]*/ 2>/dev/null | head -1; }
missing=()
for p in "${packages[@]}"; do [ -n "$(src "$p")" ] || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  (cd "$deps/src" && apt-get source -qq "${missing[@]}" 2>&1 |
    grep -v -e "unsandboxed" -e "^dpkg-source: info" -e "^dpkg-source: warning" || true)
fi
for p in "${packages[@]}"; do
  [ -n "$(src "$p")" ] || { echo "error: apt-get source $p failed (no deb-src entry? run scripts/setup.sh)" >&2; exit 1; }
done

# Compiles the given C files (object per file, named after the file) into
# lib NAME.a; extra compiler flags follow "--".
static_lib() {
  local name=$1; shift
  local files=() flags=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do files+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  flags=("$@")
  local objs="$deps/src/obj-$name"
  rm -rf "$objs"; mkdir -p "$objs"
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
cp "$lua"etc/lua.hpp "$prefix/include/lua5.1/" 2>/dev/null || cat > "$prefix/include/lua5.1/lua.hpp" <<'END'
extern "C" {
#include "lua.h"
#include "lualib.h"
#include "lauxlib.h"
}
END

# zlib: the library only.
zlib=$(src zlib)
static_lib z "$zlib"{adler32,compress,crc32,deflate,gzclose,gzlib,gzread,gzwrite,infback,inffast,inflate,inftrees,trees,uncompr,zutil}.c
cp "$zlib"{zlib.h,zconf.h} "$prefix/include/"

# libpng over that zlib, with the configuration it ships prebuilt (all the
# reading and writing features), without the SIMD filters.
png=$(src libpng1.6)
cp "$png"scripts/pnglibconf.h.prebuilt "$png"pnglibconf.h
static_lib png "$png"{png,pngerror,pngget,pngmem,pngpread,pngread,pngrio,pngrtran,pngrutil,pngset,pngtrans,pngwio,pngwrite,pngwtran,pngwutil}.c \
  -- -I"$png" -I"$prefix/include" -DPNG_INTEL_SSE_OPT=0 -DPNG_ARM_NEON_OPT=0
cp "$png"{png.h,pngconf.h,pnglibconf.h} "$prefix/include/"

# libogg and libvorbis (decoder and vorbisfile; the encoder is not needed):
# the engine's Ogg Vorbis sounds. config_types.h is what configure writes.
ogg=$(src libogg)
mkdir -p "$prefix/include/ogg" "$prefix/include/vorbis"
cat > "$prefix/include/ogg/config_types.h" <<'END'
#ifndef __CONFIG_TYPES_H__
#define __CONFIG_TYPES_H__
#include <stdint.h>
typedef int16_t ogg_int16_t;
typedef uint16_t ogg_uint16_t;
typedef int32_t ogg_int32_t;
typedef uint32_t ogg_uint32_t;
typedef int64_t ogg_int64_t;
typedef uint64_t ogg_uint64_t;
#endif
END
cp "$ogg"include/ogg/{ogg.h,os_types.h} "$prefix/include/ogg/"
static_lib ogg "$ogg"src/{bitwise,framing}.c -- -I"$prefix/include"
vorbis=$(src libvorbis)
static_lib vorbis "$vorbis"lib/{analysis,bitrate,block,codebook,envelope,floor0,floor1,info,lookup,lpc,lsp,mapping0,mdct,psy,registry,res0,sharedbook,smallft,synthesis,window}.c \
  -- -I"$vorbis"include -I"$vorbis"lib -I"$prefix/include"
static_lib vorbisfile "$vorbis"lib/vorbisfile.c -- -I"$vorbis"include -I"$prefix/include"
cp "$vorbis"include/vorbis/{codec.h,vorbisfile.h} "$prefix/include/vorbis/"

# expat (the .tmx/.tsx reader), static: users define XML_STATIC. Configured
# as its own build configures it for Windows: little-endian, DTDs and
# namespaces on, hash salt from rand_s.
expat=$(src expat)expat/lib/
cat > "$expat"expat_config.h <<'END'
#define BYTEORDER 1234
#define HAVE_MEMMOVE 1
#define XML_DTD 1
#define XML_NS 1
#define XML_CONTEXT_BYTES 1024
#define _CRT_RAND_S 1
END
static_lib expat "$expat"{xmlparse,xmlrole,xmltok}.c -- -I"$expat" -DHAVE_EXPAT_CONFIG_H -DXML_STATIC
cp "$expat"{expat.h,expat_external.h} "$prefix/include/"

# cJSON (the .tmj reader).
cjson=$(src cjson)
static_lib cjson "$cjson"cJSON.c
mkdir -p "$prefix/include/cjson"
cp "$cjson"cJSON.h "$prefix/include/cjson/"

# zstd, decompression only (zstd-compressed map layers); without its x86-64
# assembly, which follows the System V calling convention, not Windows'.
zstd=$(src libzstd)lib/
static_lib zstd "$zstd"common/{debug,entropy_common,error_private,fse_decompress,pool,threading,xxhash,zstd_common}.c \
  "$zstd"decompress/{huf_decompress,zstd_ddict,zstd_decompress,zstd_decompress_block}.c \
  -- -I"$zstd" -I"$zstd"common -DZSTD_DISABLE_ASM
cp "$zstd"{zstd.h,zstd_errors.h} "$prefix/include/"

# giflib (development mode's GIF capture).
gif=$(src giflib)
static_lib gif "$gif"{dgif_lib,egif_lib,gifalloc,gif_err,gif_hash,openbsd-reallocarray,quantize}.c -- -I"$gif"
cp "$gif"gif_lib.h "$prefix/include/"

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
