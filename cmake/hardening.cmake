# Debian's hardening flags for every program, as dpkg-buildflags gives them
# to a Debian package build with bindnow: the stack protector, FORTIFY,
# RELRO and BINDNOW, with the format warnings and the file-prefix map that
# come with them. Its optimisation and debug flags are left out: the build
# type and the solver's own flags decide those. A Debug build gets none of
# them, as FORTIFY needs optimisation. The measured kernels compile to the
# same instructions with and without these flags.
find_program(TAVRO_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT TAVRO_DPKG_BUILDFLAGS)
  return()
endif()
foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
  # dpkg-buildflags maps the folder it runs in to "." in file names.
  execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                          ${TAVRO_DPKG_BUILDFLAGS} --get ${kind}
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(FILTER flags EXCLUDE REGEX "^-(g[0-9]*|O.*)$")
  set(tavro_${kind} ${flags})
endforeach()
add_compile_options("$<$<NOT:$<CONFIG:Debug>>:${tavro_CPPFLAGS};${tavro_CXXFLAGS}>")
add_link_options("$<$<NOT:$<CONFIG:Debug>>:${tavro_LDFLAGS}>")
