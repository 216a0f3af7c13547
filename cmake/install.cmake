# Installs the engine as a CMake package (find_package(nubrik), targets
# nubrik::nubrik; the components x11 or, on Windows, win32, sdl where built
# with SDL2, and window, which opens either) and as pkg-config modules
# (nubrik, nubrik-x11, nubrik-sdl, nubrik-window). Internal headers (the
# compositor, the blitters' loops, the text layout over FreeType, the
# windows' device contexts) stay behind: a user's program includes what it
# uses.
include(CMakePackageConfigHelpers)

set(NUBRIK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/nubrik)
install(TARGETS nubrik_engine EXPORT nubrikTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/engine/nubrik DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h"
        PATTERN "random.h" EXCLUDE
        PATTERN "memory_helper.h" EXCLUDE
        PATTERN "streamed_copy.h" EXCLUDE
        PATTERN "blit_checks.h" EXCLUDE
        PATTERN "blit_loops.h" EXCLUDE
        PATTERN "affine_loops.h" EXCLUDE
        PATTERN "affine_geometry.h" EXCLUDE
        PATTERN "int128.h" EXCLUDE
        PATTERN "band_bins.h" EXCLUDE
        PATTERN "band_damage.h" EXCLUDE
        PATTERN "draw_order.h" EXCLUDE
        PATTERN "hit_test.h" EXCLUDE
        PATTERN "prepared_command.h" EXCLUDE
        PATTERN "frame_pipeline.h" EXCLUDE
        PATTERN "sprite_drawer.h" EXCLUDE
        PATTERN "sprite_grid.h" EXCLUDE
        PATTERN "font_face.h" EXCLUDE
        PATTERN "glyph_cache.h" EXCLUDE
        PATTERN "text_layout.h" EXCLUDE
        PATTERN "utf8.h" EXCLUDE
        PATTERN "x11_*.h" EXCLUDE
        PATTERN "win32_*.h" EXCLUDE
        PATTERN "sdl_*.h" EXCLUDE)
install(FILES ${PROJECT_BINARY_DIR}/include/nubrik/version.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/nubrik)
install(EXPORT nubrikTargets NAMESPACE nubrik:: DESTINATION ${NUBRIK_CMAKE_DIR})

# A window component: its library, its one public header (`prefix`window.h;
# the device context, the connection and the keyboard stay behind, with the
# system headers they pull in) and its exported target nubrik::`name`. The
# window component has no header of its own (open_window.h is the engine's).
set(NUBRIK_COMPONENTS "")
function(nubrik_install_component target name export prefix)
  install(TARGETS ${target} EXPORT ${export}
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/engine/nubrik/window/
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/nubrik/window
          FILES_MATCHING PATTERN "${prefix}window.h")
  install(EXPORT ${export} NAMESPACE nubrik:: DESTINATION ${NUBRIK_CMAKE_DIR})
  set(NUBRIK_COMPONENTS ${NUBRIK_COMPONENTS} ${name} PARENT_SCOPE)
endfunction()
if(TARGET nubrik_x11)
  nubrik_install_component(nubrik_x11 x11 nubrikX11Targets x11_)
endif()
if(TARGET nubrik_win32)
  nubrik_install_component(nubrik_win32 win32 nubrikWin32Targets win32_)
endif()
if(TARGET nubrik_sdl)
  nubrik_install_component(nubrik_sdl sdl nubrikSdlTargets sdl_)
  set(NUBRIK_SDL_VERSION ${SDL2_VERSION})
endif()
if(TARGET nubrik_window)
  nubrik_install_component(nubrik_window window nubrikWindowTargets no_header_)
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
  set(NUBRIK_PC_REQUIRES "libpng freetype2")
  set(NUBRIK_PC_REQUIRES_PRIVATE "")
else()
  set(NUBRIK_PC_REQUIRES "")
  set(NUBRIK_PC_REQUIRES_PRIVATE "libpng freetype2")
endif()
# Relative to the .pc file, so that `cmake --install --prefix` may move it.
file(RELATIVE_PATH NUBRIK_PC_TO_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
# nubrik-window: the window component, which pkg-config knows only on X11
# (and with SDL2 alone).
set(NUBRIK_PC_WINDOW_REQUIRES "")
if(TARGET nubrik_x11)
  string(APPEND NUBRIK_PC_WINDOW_REQUIRES " nubrik-x11 = ${PROJECT_VERSION}")
endif()
if(TARGET nubrik_sdl)
  string(APPEND NUBRIK_PC_WINDOW_REQUIRES " nubrik-sdl = ${PROJECT_VERSION}")
endif()
foreach(module nubrik nubrik-x11 nubrik-sdl nubrik-window)
  if((module STREQUAL "nubrik-x11" AND NOT TARGET nubrik_x11) OR
     (module STREQUAL "nubrik-sdl" AND NOT TARGET nubrik_sdl) OR
     (module STREQUAL "nubrik-window" AND (TARGET nubrik_win32 OR NOT TARGET nubrik_window)))
    continue()
  endif()
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${module}.pc.in ${PROJECT_BINARY_DIR}/${module}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${module}.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
