# vistaro_glib_tsan(target): lets ThreadSanitizer check our code in programs
# that run GLib and GStreamer, which are not instrumented (see the source
# file), in ThreadSanitizer builds.
function(vistaro_glib_tsan target)
  if(VISTARO_SANITIZE STREQUAL "thread")
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/glib_tsan_options.cpp)
  endif()
endfunction()
