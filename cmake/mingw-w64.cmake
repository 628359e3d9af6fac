# Cross build for 64-bit Windows with mingw-w64 on a Debian machine:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# The programs and tests run under Wine when it is installed (ctest starts
# them through it).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The "posix" flavour of the compiler: its C++ library has std::thread and
# the other thread facilities, which the "win32" flavour of GCC 12 lacks.
set(TAMLORN_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TAMLORN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAMLORN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TAMLORN_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TAMLORN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No compiler runtime DLL beside the programs or the module: libgcc, libstdc++
# and winpthreads are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

find_program(TAMLORN_WINE wine)
if(TAMLORN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TAMLORN_WINE})
  # Wine shows the build machine's root as drive Z:, the prefix that turns
  # a path of the build tree into one the Windows programs can open from any
  # current folder.
  set(TAMLORN_TARGET_PATH_PREFIX "Z:")
endif()
