# Installs the engine as a CMake package (find_package(nubrik), targets
# nubrik::nubrik and nubrik::x11 or, on Windows, nubrik::win32) and as
# pkg-config modules (nubrik, nubrik-x11). Internal headers (the blitters'
# loop tables) stay behind.
include(CMakePackageConfigHelpers)

set(NUBRIK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/nubrik)
set(NUBRIK_INTERNAL_HEADERS blit_loops.h)

install(TARGETS nubrik_engine EXPORT nubrikTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/engine/nubrik DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h"
        PATTERN "blit_loops.h" EXCLUDE
        PATTERN "x11_*.h" EXCLUDE
        PATTERN "win32_*.h" EXCLUDE)
install(FILES ${PROJECT_BINARY_DIR}/include/nubrik/version.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/nubrik)
install(EXPORT nubrikTargets NAMESPACE nubrik:: DESTINATION ${NUBRIK_CMAKE_DIR})

set(NUBRIK_COMPONENTS "")
if(TARGET nubrik_x11)
  install(TARGETS nubrik_x11 EXPORT nubrikX11Targets
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/engine/nubrik/base/platform/
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/nubrik/base/platform
          FILES_MATCHING PATTERN "x11_*.h")
  install(EXPORT nubrikX11Targets NAMESPACE nubrik:: DESTINATION ${NUBRIK_CMAKE_DIR})
  list(APPEND NUBRIK_COMPONENTS x11)
endif()
if(TARGET nubrik_win32)
  install(TARGETS nubrik_win32 EXPORT nubrikWin32Targets
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/engine/nubrik/base/platform/
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/nubrik/base/platform
          FILES_MATCHING PATTERN "win32_*.h")
  install(EXPORT nubrikWin32Targets NAMESPACE nubrik:: DESTINATION ${NUBRIK_CMAKE_DIR})
  list(APPEND NUBRIK_COMPONENTS win32)
endif()

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/nubrikConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/nubrikConfig.cmake
                              INSTALL_DESTINATION ${NUBRIK_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/nubrikConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/nubrikConfig.cmake
              ${PROJECT_BINARY_DIR}/nubrikConfigVersion.cmake
        DESTINATION ${NUBRIK_CMAKE_DIR})

# pkg-config: a static engine names its own dependencies for the link.
get_target_property(NUBRIK_LIBRARY_TYPE nubrik_engine TYPE)
if(NUBRIK_LIBRARY_TYPE STREQUAL "STATIC_LIBRARY")
  set(NUBRIK_PC_REQUIRES "libpng")
  set(NUBRIK_PC_REQUIRES_PRIVATE "")
else()
  set(NUBRIK_PC_REQUIRES "")
  set(NUBRIK_PC_REQUIRES_PRIVATE "libpng")
endif()
# Relative to the .pc file, so that `cmake --install --prefix` may move it.
file(RELATIVE_PATH NUBRIK_PC_TO_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
foreach(module nubrik nubrik-x11)
  if(module STREQUAL "nubrik-x11" AND NOT TARGET nubrik_x11)
    continue()
  endif()
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${module}.pc.in ${PROJECT_BINARY_DIR}/${module}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${module}.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
