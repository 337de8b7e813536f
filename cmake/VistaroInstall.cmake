# What `cmake --install` puts in place. The layout is fixed relative to the
# prefix because the programs find each other by it: the viewer looks for
# the plane icons in <exe dir>/../share/vistaroplayer/planes (and its map
# page beside them), and the
# registration step below runs bin/vistaro-regsvr on lib/vistaroplayer.

option(VISTARO_REGISTER_ON_INSTALL
       "Register the installed decoder for the user running cmake --install" ON)

install(TARGETS vistaro-player quorvex-encode quorvex-decode RUNTIME DESTINATION bin)

# Installed under a name of its own: a bare "regsvr" on PATH says nothing
# about which programs' components it registers.
install(PROGRAMS $<TARGET_FILE:regsvr> DESTINATION bin RENAME vistaro-regsvr)

# The component servers are opened with dlopen by path from the component
# registry, never linked, so they stay out of the linker's search path.
# libquorvex.so is also the GStreamer plugin; GST_PLUGIN_PATH can name this
# folder.
install(TARGETS quorvex vistaro_earth LIBRARY DESTINATION lib/vistaroplayer)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/planes/
        DESTINATION share/vistaroplayer/planes
        FILES_MATCHING PATTERN "*64x64.png")

# The live map's page with Leaflet, as the build put it together
# (viewer/maps/CMakeLists.txt); the viewer serves it from
# <exe dir>/../share/vistaroplayer/map.
install(DIRECTORY ${PROJECT_BINARY_DIR}/share/vistaroplayer/map/
        DESTINATION share/vistaroplayer/map)

install(FILES ${PROJECT_SOURCE_DIR}/resources/app-48.png
        DESTINATION share/icons/hicolor/48x48/apps RENAME vistaro-player.png)
install(FILES ${PROJECT_SOURCE_DIR}/resources/app-32.png
        DESTINATION share/icons/hicolor/32x32/apps RENAME vistaro-player.png)
install(FILES ${PROJECT_SOURCE_DIR}/resources/app.svg
        DESTINATION share/icons/hicolor/scalable/apps RENAME vistaro-player.svg)
install(FILES ${PROJECT_SOURCE_DIR}/resources/vistaro-player.desktop
        DESTINATION share/applications)

# The registry is per user, so this step only makes sense on the machine and
# for the person who will fly with it: not when staging into DESTDIR for a
# package. Under sudo the user behind sudo is the one who gets it, since
# root's registry is of no use to anybody. Must stay the last install rule:
# it runs the installed files.
if(VISTARO_REGISTER_ON_INSTALL)
  install(CODE [[
    get_filename_component(_vistaro_prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
    set(_vistaro_regsvr "${_vistaro_prefix}/bin/vistaro-regsvr")
    set(_vistaro_libdir "${_vistaro_prefix}/lib/vistaroplayer")
    if(NOT "$ENV{DESTDIR}" STREQUAL "")
      message(STATUS "DESTDIR is set, so the decoder is not registered; each user runs: "
                     "${_vistaro_regsvr} ${_vistaro_libdir}/libquorvex.so")
    else()
      set(_vistaro_as_user)
      if(NOT "$ENV{SUDO_USER}" STREQUAL "" AND NOT "$ENV{SUDO_USER}" STREQUAL "root")
        execute_process(COMMAND id -u OUTPUT_VARIABLE _vistaro_uid
                        OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(_vistaro_uid STREQUAL "0")
          set(_vistaro_as_user sudo -u "$ENV{SUDO_USER}" -H --)
        endif()
      endif()
      execute_process(COMMAND ${_vistaro_as_user} "${_vistaro_regsvr}" "${_vistaro_libdir}/libquorvex.so"
                      RESULT_VARIABLE _vistaro_rc OUTPUT_VARIABLE _vistaro_out
                      ERROR_VARIABLE _vistaro_out)
      string(STRIP "${_vistaro_out}" _vistaro_out)
      if(_vistaro_out STREQUAL "")
        set(_vistaro_out "${_vistaro_rc}")
      endif()
      if(_vistaro_rc EQUAL 0)
        message(STATUS "Registered the decoder: ${_vistaro_out}")
      else()
        message(WARNING "The decoder could not be registered (${_vistaro_out}). "
                        "Register it with: ${_vistaro_regsvr} ${_vistaro_libdir}/libquorvex.so")
      endif()
      # Succeeds only where a Google Earth program is installed; elsewhere it
      # clears a registration left from when there was one.
      execute_process(COMMAND ${_vistaro_as_user} "${_vistaro_regsvr}" "${_vistaro_libdir}/libvistaro_earth.so"
                      RESULT_VARIABLE _vistaro_rc OUTPUT_QUIET ERROR_QUIET)
      if(_vistaro_rc EQUAL 0)
        message(STATUS "Registered the Google Earth link")
      else()
        message(STATUS "No Google Earth program found: the Google Earth link stays off")
      endif()
    endif()
  ]])
endif()
