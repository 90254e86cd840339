# Run by CPack (CPACK_PROJECT_CONFIG_FILE) before each package of a build
# cross-compiled for an architecture that the build host cannot install
# through multiarch (riscv64 on Debian 12): makes the tavro package's
# Depends line, which dpkg-shlibdeps cannot, as it finds no package of that
# architecture to read and the cross tree's own shlibs files name
# "libc6:riscv64" and leave libstdc++6 unversioned.
#
# Every library the program needs (NEEDED in its dynamic section) is a file
# of the cross tree, /usr/<triple>/lib, owned by one Debian cross package
# (libc6-riscv64-cross, libstdc++6-riscv64-cross, ...): the program depends
# on the package of the same name without the suffix, at least at the
# upstream release of the copy that it was linked against. A program needs
# no symbol version that its library lacks, so that release is enough (it
# asks a little more than the oldest release that would do: libc6 2.36 where
# the symbols need 2.34).
#
# Set by cmake/packaging.cmake: CPACK_TAVRO_PROGRAM (the linked program),
# CPACK_TAVRO_READELF, CPACK_TAVRO_CROSS_ROOT (/usr/<triple>) and
# CPACK_TAVRO_CROSS_SUFFIX ("-riscv64-cross").
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
execute_process(COMMAND ${CPACK_TAVRO_READELF} -d ${CPACK_TAVRO_PROGRAM}
                OUTPUT_VARIABLE tavro_dynamic RESULT_VARIABLE tavro_failed)
string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]\n]+\\]" tavro_needed "${tavro_dynamic}")
if(tavro_failed OR NOT tavro_needed)
  message(FATAL_ERROR "No libraries read from ${CPACK_TAVRO_PROGRAM}: ${tavro_dynamic}")
endif()
set(tavro_depends)
foreach(entry IN LISTS tavro_needed)
  string(REGEX REPLACE ".*\\[(.*)\\]" "\\1" soname "${entry}")
  set(file ${CPACK_TAVRO_CROSS_ROOT}/lib/${soname})
  execute_process(COMMAND dpkg-query -S ${file} OUTPUT_VARIABLE owner RESULT_VARIABLE failed
                  ERROR_QUIET)
  string(REGEX REPLACE ":.*" "" owner "${owner}")
  if(failed OR NOT owner MATCHES "^(.+)${CPACK_TAVRO_CROSS_SUFFIX}$")
    message(FATAL_ERROR "${file}, which ${CPACK_TAVRO_PROGRAM} needs, is not the file of a "
                        "*${CPACK_TAVRO_CROSS_SUFFIX} package")
  endif()
  set(package ${CMAKE_MATCH_1})
  execute_process(COMMAND dpkg-query -W -f=\${Version} ${owner} OUTPUT_VARIABLE version)
  if(NOT version MATCHES "^([0-9]+\\.[0-9]+)")
    message(FATAL_ERROR "No release in ${owner}'s version '${version}'")
  endif()
  list(APPEND tavro_depends "${package} (>= ${CMAKE_MATCH_1})")
endforeach()
list(REMOVE_DUPLICATES tavro_depends)
list(SORT tavro_depends)
list(JOIN tavro_depends ", " CPACK_DEBIAN_TAVRO_PACKAGE_DEPENDS)
set(CPACK_DEBIAN_TAVRO_PACKAGE_SHLIBDEPS OFF)
