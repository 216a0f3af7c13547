# Installs the engine as a CMake package (find_package(nubrik), targets
# nubrik::nubrik; the components x11 or, on Windows, win32, sdl where built
# with SDL2, and window, which opens either) and as pkg-config modules
# (nubrik, nubrik-x11, nubrik-sdl, nubrik-window).
include(CMakePackageConfigHelpers)

set(NUBRIK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/nubrik)
install(TARGETS nubrik_engine EXPORT nubrikTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The public headers: what a program includes, and what those include.
# Every other header is the engine's own, says so in its first line
# ("// Internal header"), and stays behind: the compositor, the registry,
# the threads and the platform layer, the blitters' loops, the text layout
# over FreeType, the windows' device contexts. A public header includes
# only public ones (scripts/check-install.sh builds each alone against the
# installed copy, and checks this list against the headers' first lines).
set(NUBRIK_PUBLIC_HEADERS
    nubrik/nubrik.h
    nubrik/base/event.h
    nubrik/base/exception.h
    nubrik/base/platform/device_context.h
    nubrik/base/recursive_lock.h
    nubrik/base/rect.h
    nubrik/image/file_stream_reader.h
    nubrik/image/image.h
    nubrik/image/image_loader.h
    nubrik/image/load_image.h
    nubrik/image/memory_stream_reader.h
    nubrik/image/pixel_format.h
    nubrik/image/pixel_lock.h
    nubrik/image/png_encoder.h
    nubrik/image/png_loader.h
    nubrik/image/stream_reader.h
    nubrik/screen/frame_time.h
    nubrik/screen/screen.h
    nubrik/sprite/affine_blitters.h
    nubrik/sprite/band_clip.h
    nubrik/sprite/blend.h
    nubrik/sprite/colour.h
    nubrik/sprite/fill_blitters.h
    nubrik/sprite/fill_rect_sprite.h
    nubrik/sprite/fixed_angle.h
    nubrik/sprite/image_blitters.h
    nubrik/sprite/image_sprite.h
    nubrik/sprite/sprite.h
    nubrik/sprite/sprite_base.h
    nubrik/sprite/text_sprite.h
    nubrik/text/font.h
    nubrik/text/text_alignment.h
    nubrik/window/app_window.h
    nubrik/window/event_window.h
    nubrik/window/input_event.h
    nubrik/window/input_queue.h
    nubrik/window/memory_window.h
    nubrik/window/open_window.h
    nubrik/window/window_choice.h
    nubrik/window/window_options.h)
foreach(header IN LISTS NUBRIK_PUBLIC_HEADERS)
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/engine/${header}
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${folder})
endforeach()
install(FILES ${PROJECT_BINARY_DIR}/include/nubrik/version.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/nubrik)
install(EXPORT nubrikTargets NAMESPACE nubrik:: DESTINATION ${NUBRIK_CMAKE_DIR})

# A window component: its library, its public headers (the window by name,
# nubrik/window/x11_window.h and the like; the device context, the
# connection and the keyboard stay behind, with the system headers they pull
# in) and its exported target nubrik::`name`. The window component has no
# header of its own (open_window.h is the engine's).
set(NUBRIK_COMPONENTS "")
function(nubrik_install_component target name export)
  install(TARGETS ${target} EXPORT ${export}
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  foreach(header IN LISTS ARGN)
    install(FILES ${PROJECT_SOURCE_DIR}/engine/nubrik/window/${header}
            DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/nubrik/window)
  endforeach()
  install(EXPORT ${export} NAMESPACE nubrik:: DESTINATION ${NUBRIK_CMAKE_DIR})
  set(NUBRIK_COMPONENTS ${NUBRIK_COMPONENTS} ${name} PARENT_SCOPE)
endfunction()
if(TARGET nubrik_x11)
  nubrik_install_component(nubrik_x11 x11 nubrikX11Targets x11_window.h)
endif()
if(TARGET nubrik_win32)
  nubrik_install_component(nubrik_win32 win32 nubrikWin32Targets win32_window.h)
endif()
if(TARGET nubrik_sdl)
  nubrik_install_component(nubrik_sdl sdl nubrikSdlTargets sdl_window.h)
  set(NUBRIK_SDL_VERSION ${SDL2_VERSION})
endif()
if(TARGET nubrik_window)
  nubrik_install_component(nubrik_window window nubrikWindowTargets)
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
