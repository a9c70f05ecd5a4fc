#!/usr/bin/env bash
# Builds the static i686-w64-mingw32 libraries the Windows deliverables link, from Debian's
# source packages only, into a cache outside the work tree:
#   $HPX_DEPS_CACHE/prefix/{include,lib,lib/cmake}
#   FreeImage 3.18 with libjpeg-turbo, libpng, libtiff, zlib (and WebP, OpenJPEG, LibRaw, OpenEXR),
#   GLEW 2.2 (glew_s), GoogleTest from /usr/src/googletest, the SimpleIni header.
#
# Each step leaves a stamp holding a digest of its own recipe (the step's shell code and
# its versions); a step whose stamp matches is skipped, so a rerun with nothing to do
# takes well under a second. Delete the cache, or a stamp, to rebuild.
#
# Environment:
#   HPX_DEPS_CACHE  the cache (default: $HOME/.cache/hushpix-deps)
#   JOBS            parallel jobs (default: nproc)
#   FI_EXTRA        optional FreeImage codecs, any of: webp openjpeg raw exr (default: all)
set -euo pipefail

SCRIPT_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
DEPS_CACHE=${HPX_DEPS_CACHE:-$HOME/.cache/hushpix-deps}
JOBS=${JOBS:-$(nproc)}
MINGW_THREAD_MODEL=posix
FI_EXTRA=${FI_EXTRA-webp openjpeg raw exr}
TOOLCHAIN=$SCRIPT_DIR/../cmake/toolchain-i686-mingw.cmake

TRIPLE=i686-w64-mingw32
CC_X=/usr/bin/$TRIPLE-gcc-$MINGW_THREAD_MODEL
CXX_X=/usr/bin/$TRIPLE-g++-$MINGW_THREAD_MODEL
SYSROOT=/usr/$TRIPLE

mkdir -p "$DEPS_CACHE"
DEPS_CACHE=$(cd "$DEPS_CACHE" && pwd)
PREFIX=$DEPS_CACHE/prefix
SRC=$DEPS_CACHE/src          # downloaded .dsc/.orig/.debian and unpacked+patched trees
BLD=$DEPS_CACHE/build
STAMPS=$DEPS_CACHE/stamps
LOGS=$DEPS_CACHE/logs
TIMES=$DEPS_CACHE/timings.txt
mkdir -p "$PREFIX/include" "$PREFIX/lib" "$SRC" "$BLD" "$STAMPS" "$LOGS"

log() { printf '[build-deps] %s\n' "$*" >&2; }
die() { log "ERROR: $*"; exit 1; }

# ---------------------------------------------------------------- build tools
"$SCRIPT_DIR/install-packages.sh"
[[ -x $CXX_X ]] || die "$CXX_X not found"
[[ -f $TOOLCHAIN ]] || die "toolchain file $TOOLCHAIN not found"

# ---------------------------------------------------------------- helpers
# step NAME CONFIG-STRING FUNCTION : run FUNCTION unless stamp NAME holds CONFIG-STRING
step() {
  local name=$1 fn=$3 conf
  conf="$2 recipe=$( { declare -f "$fn" cmake_build fetch_src; cat "$TOOLCHAIN"; } | sha1sum | cut -c1-16)"
  if [[ -f $STAMPS/$name && "$(cat "$STAMPS/$name")" == "$conf" ]]; then
    log "$name: up to date"; return 0
  fi
  log "$name: building (log: $LOGS/$name.log)"
  local t0=$SECONDS
  rm -f "$STAMPS/$name"
  # NOT `if ! ( ... )`: bash ignores set -e inside a subshell that is an if/||/&& operand,
  # so a failing cmake/make in the middle of a step would go unnoticed.
  local rc
  set +e
  ( set -euo pipefail; "$fn" ) >"$LOGS/$name.log" 2>&1
  rc=$?
  set -e
  if ((rc != 0)); then
    tail -n 40 "$LOGS/$name.log" >&2
    die "$name failed (rc=$rc), see $LOGS/$name.log"
  fi
  printf '%s\n' "$conf" >"$STAMPS/$name"
  printf '%-12s %4ds  %s\n' "$name" $((SECONDS - t0)) "$(date -u +%FT%TZ)" >>"$TIMES"
  log "$name: done in $((SECONDS - t0))s"
}

# srcdir PKG : path of the unpacked (Debian-patched) source tree of source package PKG
srcdir() { cat "$SRC/$1.dir"; }

# fetch PKG UPSTREAM-VERSION-PREFIX : apt-get source (download only) + dpkg-source -x
fetch_src() {
  local pkg=$1 want=$2 dsc dir
  [[ -f $SRC/$pkg.dir && -d $(cat "$SRC/$pkg.dir") ]] && return 0
  grep -rqs '^Types:.*deb-src\|^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/ ||
    die "no deb-src entry in /etc/apt/sources.list*; apt-get source cannot work"
  ( cd "$SRC"
    # the Debian revision is deliberately not pinned: mirrors keep only the current one
    apt-get source -qq --download-only -o APT::Sandbox::User=root "$pkg" ) >>"$LOGS/fetch.log" 2>&1 ||
    die "apt-get source $pkg failed (see $LOGS/fetch.log)"
  dsc=$(ls -t "$SRC"/"${pkg}"_*.dsc | head -n1)
  [[ $(basename "$dsc") == "${pkg}_"*"$want"* ]] || die "$pkg: expected upstream $want, got $(basename "$dsc")"
  dir=$SRC/$pkg-src
  rm -rf "$dir"
  dpkg-source --no-check -x "$dsc" "$dir" >>"$LOGS/fetch.log" 2>&1 || die "dpkg-source -x $dsc failed"
  printf '%s\n' "$dir" >"$SRC/$pkg.dir"
}

# cmake_build NAME SRCDIR [cmake args...] : configure + make -jN + install into $PREFIX
cmake_build() {
  local name=$1 src=$2; shift 2
  local b=$BLD/$name
  rm -rf "$b"
  cmake -S "$src" -B "$b" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DDEPS_PREFIX="$PREFIX" -DCMAKE_INSTALL_PREFIX="$PREFIX" -DCMAKE_INSTALL_LIBDIR=lib \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF \
    -DCMAKE_POSITION_INDEPENDENT_CODE=OFF -DCMAKE_CROSSCOMPILING_EMULATOR= "$@"
  make -C "$b" -j"$JOBS"
  make -C "$b" install
}

ZLIB_ARGS=(-DZLIB_INCLUDE_DIR="$PREFIX/include" -DZLIB_LIBRARY="$PREFIX/lib/libz.a")
JPEG_ARGS=(-DJPEG_INCLUDE_DIR="$PREFIX/include" -DJPEG_LIBRARY="$PREFIX/lib/libjpeg.a")

# ---------------------------------------------------------------- zlib (binary package)
b_zlib() {
  # libz-mingw-w64-dev ships both libz.a and libz.dll.a; copy only the static one
  install -m644 "$SYSROOT/include/zlib.h" "$SYSROOT/include/zconf.h" "$PREFIX/include/"
  install -m644 "$SYSROOT/lib/libz.a" "$PREFIX/lib/"
}

# ---------------------------------------------------------------- libjpeg-turbo
b_jpeg() {
  fetch_src libjpeg-turbo 2.1
  cmake_build jpeg "$(srcdir libjpeg-turbo)" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DREQUIRE_SIMD=ON \
    -DCMAKE_ASM_NASM_COMPILER=/usr/bin/nasm -DCMAKE_INSTALL_LIBDIR="$PREFIX/lib"
  # (its private GNUInstallDirs resolves a relative LIBDIR against the *current directory*)
  rm -rf "$PREFIX/bin" "$PREFIX/share/man" "$PREFIX/share/doc/libjpeg-turbo"
}

# ---------------------------------------------------------------- libpng
b_png() {
  fetch_src libpng1.6 1.6
  cmake_build png "$(srcdir libpng1.6)" "${ZLIB_ARGS[@]}" \
    -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DPNG_BUILD_ZLIB=OFF \
    -DSKIP_INSTALL_PROGRAMS=ON -DSKIP_INSTALL_FILES=ON
  rm -rf "$PREFIX/bin"
}

# ---------------------------------------------------------------- libtiff
b_tiff() {
  fetch_src tiff 4.5
  cmake_build tiff "$(srcdir tiff)" "${ZLIB_ARGS[@]}" "${JPEG_ARGS[@]}" \
    -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF -Dtiff-opengl=OFF \
    -Dcxx=OFF -Dzlib=ON -Djpeg=ON -Dold-jpeg=ON -Djpeg12=OFF -Djbig=OFF -Dlzma=OFF -Dzstd=OFF \
    -Dwebp=OFF -Dlerc=OFF -Dlibdeflate=OFF -Dpixarlog=ON -Dsphinx=OFF
  rm -rf "$PREFIX/share/doc/tiff"* "$PREFIX/share/man"
}

# ---------------------------------------------------------------- Imath (PluginTIFF needs Imath/half.h after Debian's unbundling patch)
b_imath() {
  fetch_src imath 3.1
  cmake_build imath "$(srcdir imath)" -DPYTHON=OFF -DIMATH_INSTALL_PKG_CONFIG=ON -DIMATH_INSTALL_SYM_LINK=OFF
}

# ---------------------------------------------------------------- libwebp
b_webp() {
  fetch_src libwebp 1.2
  cmake_build webp "$(srcdir libwebp)" \
    -DWEBP_BUILD_ANIM_UTILS=OFF -DWEBP_BUILD_CWEBP=OFF -DWEBP_BUILD_DWEBP=OFF -DWEBP_BUILD_GIF2WEBP=OFF \
    -DWEBP_BUILD_IMG2WEBP=OFF -DWEBP_BUILD_VWEBP=OFF -DWEBP_BUILD_WEBPINFO=OFF -DWEBP_BUILD_WEBPMUX=OFF \
    -DWEBP_BUILD_EXTRAS=OFF -DWEBP_BUILD_LIBWEBPMUX=ON -DWEBP_ENABLE_SIMD=ON
  rm -rf "$PREFIX/share/man"
}

# ---------------------------------------------------------------- OpenJPEG
b_openjpeg() {
  fetch_src openjpeg2 2.5
  cmake_build openjpeg "$(srcdir openjpeg2)" -DBUILD_STATIC_LIBS=ON -DBUILD_CODEC=OFF \
    -DBUILD_JPIP=OFF -DBUILD_DOC=OFF -DBUILD_THIRDPARTY=OFF
  rm -rf "$PREFIX/share/man" "$PREFIX/share/doc/openjpeg"*
}

# ---------------------------------------------------------------- LibRaw (its Makefile.mingw; no configure script in the Debian source)
b_raw() {
  fetch_src libraw 0.20
  local s b=$BLD/raw
  s=$(srcdir libraw)
  rm -rf "$b"; cp -a "$s" "$b"
  # Makefile.mingw calls plain `ar`/`ranlib`: put cross versions first in PATH
  mkdir -p "$b/.xbin"
  ln -sf "/usr/bin/$TRIPLE-ar" "$b/.xbin/ar"; ln -sf "/usr/bin/$TRIPLE-ranlib" "$b/.xbin/ranlib"
  PATH=$b/.xbin:$PATH make -C "$b" -f Makefile.mingw -j"$JOBS" library \
    CC="$CC_X" CXX="$CXX_X" CFLAGS="-O2 -I. -w -DLIBRAW_NODLL -DNO_LCMS -DNO_JASPER -DNO_JPEG"
  install -m644 "$b/lib/libraw.a" "$PREFIX/lib/"
  mkdir -p "$PREFIX/include/libraw"
  install -m644 "$b"/libraw/*.h "$PREFIX/include/libraw/"
}

# ---------------------------------------------------------------- OpenEXR 3.1
b_exr() {
  fetch_src openexr 3.1
  cmake_build exr "$(srcdir openexr)" "${ZLIB_ARGS[@]}" -DOPENEXR_BUILD_TOOLS=OFF \
    -DOPENEXR_INSTALL_TOOLS=OFF -DOPENEXR_INSTALL_EXAMPLES=OFF -DOPENEXR_FORCE_INTERNAL_ZLIB=OFF \
    -DOPENEXR_FORCE_INTERNAL_IMATH=OFF -DOPENEXR_INSTALL_PKG_CONFIG=ON -DBUILD_WEBSITE=OFF -DDOCS=OFF \
    -DOPENEXR_ENABLE_THREADING=ON \
    -DImath_DIR="$PREFIX/lib/cmake/Imath"
}

# ---------------------------------------------------------------- FreeImage
have_extra() { [[ " $FI_EXTRA " == *" $1 "* ]]; }

b_freeimage() {
  fetch_src freeimage 3.18.0
  local s b=$BLD/freeimage p
  rm -rf "$b"; mkdir -p "$b"
  # Our own patches go onto a copy, so that the unpacked Debian tree stays as fetched.
  s=$b/src
  mkdir -p "$s"; cp -a "$(srcdir freeimage)/Source" "$s/"
  for p in "$SCRIPT_DIR"/patches/freeimage-*.patch; do
    patch -d "$s" -p1 --forward --batch <"$p"
  done
  # Our own CMake project over the Debian-patched sources (their Makefiles are for Linux .so
  # or list the removed bundled codecs).  Disabled codecs get stub Init functions so the
  # FREE_IMAGE_FORMAT numbering (= registration order in Plugin.cpp) stays intact.
  cat >"$b/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.16)
project(FreeImage C CXX)
set(FI_SRC "" CACHE PATH "Debian-patched FreeImage source tree")
set(FI_EXTRA "" CACHE STRING "enabled optional codecs")
set(CMAKE_CXX_STANDARD 11)
file(GLOB srcs ${FI_SRC}/Source/FreeImage/*.cpp ${FI_SRC}/Source/FreeImage/*.c
               ${FI_SRC}/Source/Metadata/*.cpp ${FI_SRC}/Source/FreeImageToolkit/*.cpp)
set(stubs "")
macro(fi_optional key)      # key, then plugin source names, then "INIT" + stubbed Init names
  cmake_parse_arguments(o "" "" "FILES;INIT" ${ARGN})
  if(NOT " ${FI_EXTRA} " MATCHES " ${key} ")
    foreach(f ${o_FILES})
      list(REMOVE_ITEM srcs ${FI_SRC}/Source/FreeImage/${f})
    endforeach()
    list(APPEND stubs ${o_INIT})
  endif()
endmacro()
fi_optional(webp     FILES PluginWebP.cpp                           INIT WEBP)
fi_optional(openjpeg FILES PluginJ2K.cpp PluginJP2.cpp J2KHelper.cpp INIT J2K JP2)
fi_optional(raw      FILES PluginRAW.cpp                            INIT RAW)
fi_optional(exr      FILES PluginEXR.cpp                            INIT EXR)
list(REMOVE_ITEM srcs ${FI_SRC}/Source/FreeImage/PluginJXR.cpp)   # jxrlib: not buildable from Debian sources here
list(APPEND stubs JXR)
set(stub_src "#include \"FreeImage.h\"\n#include \"Utilities.h\"\n#include \"Plugin.h\"\n")
set(fmt_WEBP WebP)   # format strings as the real plugins spell them
# Every plug-in needs an extension list: FreeImage's look-up by file name walks all of them
# and dereferences the list without a check.
set(ext_WEBP webp)
set(ext_J2K "j2k,j2c")
set(ext_JP2 jp2)
set(ext_RAW "3fr,arw,cr2,crw,dng,erf,mrw,nef,orf,pef,raf,rw2,srw")
set(ext_EXR exr)
set(ext_JXR "jxr,wdp,hdp")
foreach(p ${stubs})
  set(f ${p})
  if(DEFINED fmt_${p})
    set(f ${fmt_${p}})
  endif()
  string(APPEND stub_src "static const char* DLL_CALLCONV Fmt${p}() { return \"${f}\"; }\n"
    "static const char* DLL_CALLCONV Desc${p}() { return \"${p} (disabled in this build)\"; }\n"
    "static const char* DLL_CALLCONV Ext${p}() { return \"${ext_${p}}\"; }\n"
    "void DLL_CALLCONV Init${p}(Plugin *plugin, int) { plugin->format_proc = Fmt${p}; plugin->description_proc = Desc${p}; plugin->extension_proc = Ext${p}; }\n")
endforeach()
file(WRITE ${CMAKE_BINARY_DIR}/PluginDisabled.cpp "${stub_src}")
add_library(freeimage STATIC ${srcs} ${CMAKE_BINARY_DIR}/PluginDisabled.cpp)
target_include_directories(freeimage PRIVATE ${FI_SRC}/Source ${FI_SRC}/Source/Metadata
                           ${FI_SRC}/Source/FreeImageToolkit ${DEPS_PREFIX}/include ${DEPS_PREFIX}/include/Imath
                           ${DEPS_PREFIX}/include/openjpeg-2.5)
target_compile_definitions(freeimage PUBLIC FREEIMAGE_LIB
  PRIVATE OPJ_STATIC LIBRAW_NODLL NO_LCMS WINVER=0x0601 _WIN32_WINNT=0x0601 NDEBUG)
target_compile_options(freeimage PRIVATE -fexceptions -Wno-deprecated-declarations
  $<$<COMPILE_LANGUAGE:CXX>:-Wno-ctor-dtor-privacy>)
install(TARGETS freeimage ARCHIVE DESTINATION lib)
install(FILES ${FI_SRC}/Source/FreeImage.h DESTINATION include)
EOF
  cmake -S "$b" -B "$b/build" -G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DMINGW_THREAD_MODEL="$MINGW_THREAD_MODEL" -DDEPS_PREFIX="$PREFIX" -DCMAKE_INSTALL_PREFIX="$PREFIX" \
    -DCMAKE_BUILD_TYPE=Release -DFI_SRC="$s" -DFI_EXTRA="$FI_EXTRA"
  make -C "$b/build" -j"$JOBS"
  make -C "$b/build" install

  # link order for the static archive chain (dependents first)
  local libs=(freeimage)
  have_extra raw && libs+=(raw)
  have_extra webp && libs+=(webpmux webpdemux webp)
  have_extra openjpeg && libs+=(openjp2)
  have_extra exr && libs+=(OpenEXR-3_1 OpenEXRUtil-3_1 OpenEXRCore-3_1 IlmThread-3_1 Iex-3_1)
  libs+=(Imath-3_1 tiff jpeg png16 z)
  local sys=""
  have_extra raw && sys="ws2_32"   # LibRaw uses htonl & co.
  mkdir -p "$PREFIX/lib/cmake/FreeImage"
  {
    echo "# written by scripts/build-deps.sh: static FreeImage 3.18 for $TRIPLE (codecs: core $FI_EXTRA)"
    echo 'get_filename_component(_fi_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)'
    echo 'if(NOT TARGET FreeImage::FreeImage)'
    echo '  add_library(FreeImage::FreeImage STATIC IMPORTED)'
    printf '  set(_fi_deps'
    for l in "${libs[@]:1}"; do printf ' "${_fi_prefix}/lib/lib%s.a"' "$l"; done
    printf ' %s)\n' "$sys"
    echo '  set_target_properties(FreeImage::FreeImage PROPERTIES'
    echo '    IMPORTED_LOCATION "${_fi_prefix}/lib/libfreeimage.a"'
    echo '    INTERFACE_INCLUDE_DIRECTORIES "${_fi_prefix}/include"'
    echo '    INTERFACE_COMPILE_DEFINITIONS FREEIMAGE_LIB'
    echo '    INTERFACE_LINK_LIBRARIES "${_fi_deps}")'
    echo 'endif()'
    echo "set(FreeImage_EXTRA_CODECS \"$FI_EXTRA\")"
    echo 'set(FreeImage_FOUND TRUE)'
  } >"$PREFIX/lib/cmake/FreeImage/FreeImageConfig.cmake"
  for l in "${libs[@]}"; do [[ -f $PREFIX/lib/lib$l.a ]] || die "missing $PREFIX/lib/lib$l.a"; done
}

# ---------------------------------------------------------------- GLEW
b_glew() {
  fetch_src glew 2.2.0
  local s; s=$(srcdir glew)
  # only the static target: the shared one is linked with -nostdlib and is not wanted anyway
  rm -rf "$BLD/glew"
  cmake -S "$s/build/cmake" -B "$BLD/glew" -G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DMINGW_THREAD_MODEL="$MINGW_THREAD_MODEL" -DDEPS_PREFIX="$PREFIX" -DCMAKE_INSTALL_PREFIX="$PREFIX" \
    -DCMAKE_INSTALL_LIBDIR=lib -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DBUILD_UTILS=OFF \
    -DGLEW_REGAL=OFF -DGLEW_OSMESA=OFF
  make -C "$BLD/glew" -j"$JOBS" glew_s
  cmake --install "$BLD/glew"
}

# ---------------------------------------------------------------- GoogleTest (Debian's /usr/src/googletest)
b_gtest() {
  cmake_build gtest /usr/src/googletest -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON -Dgtest_disable_pthreads=ON
}

# ---------------------------------------------------------------- SimpleIni (header only)
b_simpleini() {
  # /usr/include must never be on a cross include path, so copy just the header.
  # Debian ships no ConvertUTF.c (SI_CONVERT_GENERIC); on Windows SimpleIni defaults to SI_CONVERT_WIN32.
  # Debian's header hides the template bodies behind #ifdef SI_IMPLEMENTATION (its .so carries
  # amd64 instantiations), so consumers must define SI_IMPLEMENTATION: the config below does.
  install -m644 /usr/include/SimpleIni.h "$PREFIX/include/"
  mkdir -p "$PREFIX/lib/cmake/SimpleIni"
  cat >"$PREFIX/lib/cmake/SimpleIni/SimpleIniConfig.cmake" <<'EOF2'
# written by scripts/build-deps.sh: header-only SimpleIni (Debian libsimpleini-dev) for MinGW
get_filename_component(_si_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(NOT TARGET SimpleIni::SimpleIni)
  add_library(SimpleIni::SimpleIni INTERFACE IMPORTED)
  set_target_properties(SimpleIni::SimpleIni PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${_si_prefix}/include"
    INTERFACE_COMPILE_DEFINITIONS "SI_IMPLEMENTATION;SI_CONVERT_WIN32")
endif()
set(SimpleIni_FOUND TRUE)
EOF2
}

# ---------------------------------------------------------------- run
ver() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || true; }
step zlib      "pkg=$(ver libz-mingw-w64-dev)"          b_zlib
step jpeg      "2.1.5"                                  b_jpeg
step png       "1.6.39"                                 b_png
step tiff      "4.5.0"                                  b_tiff
step imath     "3.1.6"                                  b_imath
have_extra webp     && step webp     "1.2.4"            b_webp
have_extra openjpeg && step openjpeg "2.5.0"            b_openjpeg
have_extra raw      && step raw      "0.20.2"           b_raw
have_extra exr      && step exr      "3.1.5"            b_exr
step freeimage "3.18.0 extra=[$FI_EXTRA] patches=$(cat "$SCRIPT_DIR"/patches/freeimage-*.patch | sha1sum | cut -c1-16)" b_freeimage
step glew      "2.2.0"                                  b_glew
step gtest     "pkg=$(ver googletest)"                  b_gtest
step simpleini "pkg=$(ver libsimpleini-dev)"            b_simpleini

log "prefix: $PREFIX"
log "timings: $TIMES"
