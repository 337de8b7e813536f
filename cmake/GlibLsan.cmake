# vistaro_suppress_glib_leaks(target): keeps LeakSanitizer quiet about the
# allocation GLib leaks on purpose (see the source file), in ASan builds.
function(vistaro_suppress_glib_leaks target)
  if(VISTARO_SANITIZE STREQUAL "address")
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/glib_lsan_suppressions.cpp)
  endif()
endfunction()
