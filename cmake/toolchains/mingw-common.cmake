# Shared by mingw32.cmake and mingw64.cmake: Debian's mingw-w64 cross
# compilers, thread model posix (the standard library's threads and locks
# need it with this compiler generation).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${NUBRIK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NUBRIK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NUBRIK_MINGW_TRIPLE}-windres)

# Libraries and headers for the target only: the mingw-w64 tree and
# NUBRIK_MINGW_DEPS, where scripts/build-libpng-mingw.sh and
# scripts/build-gtest-mingw.sh install what Debian does not ship for it.
set(CMAKE_FIND_ROOT_PATH /usr/${NUBRIK_MINGW_TRIPLE} ${NUBRIK_MINGW_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# zlib's static library, so that no DLL must travel with the programs.
set(ZLIB_USE_STATIC_LIBS ON)

# Programs that run from any folder: the C and C++ runtimes and the thread
# library are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Programs built here (tests, their discovery, the build-time tools) run
# under wine, in a prefix of the build folder's own. NUBRIK_WINE=OFF builds
# without running anything (where wine cannot run this target).
if(NOT DEFINED NUBRIK_WINE OR NUBRIK_WINE)
  get_filename_component(_nubrik_root ${CMAKE_CURRENT_LIST_DIR}/../.. ABSOLUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${_nubrik_root}/scripts/wine-run.sh;${NUBRIK_WINE_ARCH};${_nubrik_root}/build/wine-${NUBRIK_WINE_ARCH})
  unset(_nubrik_root)
endif()
# Tests are listed when ctest runs, not while building.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
