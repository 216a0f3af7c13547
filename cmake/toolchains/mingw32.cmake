# 32-bit Windows (i686), cross-built with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(NUBRIK_MINGW_TRIPLE i686-w64-mingw32)
set(NUBRIK_WINE_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
