# 32-bit Windows (i686) through Debian's MinGW-w64 cross compiler, posix thread model
# (std::thread and std::mutex; GoogleTest needs them), fully static so each deliverable
# is a single file that imports only Windows system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(_triple i686-w64-mingw32)
# Named explicitly: Debian's default alternative is the win32 thread model.
set(CMAKE_C_COMPILER   /usr/bin/${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${_triple}-g++-posix)
set(CMAKE_RC_COMPILER  /usr/bin/${_triple}-windres)
set(CMAKE_AR           /usr/bin/${_triple}-ar     CACHE FILEPATH "")
set(CMAKE_RANLIB       /usr/bin/${_triple}-ranlib CACHE FILEPATH "")

if(NOT DEPS_PREFIX)
  if(DEFINED ENV{HPX_DEPS_CACHE})
    set(DEPS_PREFIX "$ENV{HPX_DEPS_CACHE}/prefix")
  else()
    set(DEPS_PREFIX "$ENV{HOME}/.cache/hushpix-deps/prefix")
  endif()
endif()
set(DEPS_PREFIX "${DEPS_PREFIX}" CACHE PATH "static i686 dependencies built by scripts/build-deps.sh")

set(CMAKE_FIND_ROOT_PATH /usr/${_triple} ${DEPS_PREFIX})
set(CMAKE_PREFIX_PATH ${DEPS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ZLIB_USE_STATIC_LIBS ON)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES DEPS_PREFIX)

# SSE2 float maths so results match the x86-64 build bit for bit.
set(CMAKE_C_FLAGS_INIT   "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh")
endif()
