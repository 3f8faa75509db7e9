# Cross toolchain: 64-bit Windows with the mingw-w64 compilers of Debian (posix thread model,
# for std::mutex and std::thread). The build tools of the tree run on the build machine, so a
# cross build takes them from a native build: -DKELV_HOST_TOOLS_DIR=<native build>/Tools.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KELV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KELV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KELV_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KELV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Link zlib statically: the module must not need zlib1.dll beside it.
set(ZLIB_USE_STATIC_LIBS ON)
