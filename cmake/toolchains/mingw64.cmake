# 64-bit Windows (x86-64), cross-built with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(NUBRIK_MINGW_TRIPLE x86_64-w64-mingw32)
set(NUBRIK_WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
