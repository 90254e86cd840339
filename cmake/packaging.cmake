# Install rules and packages.
#
#   cmake --install build --prefix DIR   # DIR/bin/tavro and the companion tools, their
#                                        # manual pages, the bash completion, DIR/share/doc
#   (cd build && cpack)                  # Linux: the tavro and tavro-tools .deb packages
#                                        # and one .tar.gz; Windows build: .zip
#
# scripts/release builds both, puts the archives' entries in a fixed order
# and collects the packages in dist/.
include(GNUInstallDirs)

set(TAVRO_MAINTAINER "The tavro developers <tavro@example.org>"
    CACHE STRING "Maintainer of the Debian packages, a name and an address")
set(TAVRO_HOMEPAGE "" CACHE STRING "Homepage of the Debian packages (none when empty)")
set(TAVRO_SUMMARY "command-line processor benchmark (3-D FDTD field solver)")

# The companion tools, one "name script" entry each: /usr/bin/<name> is a
# link to scripts/<script> installed in /usr/share/tavro/, beside the module
# folders of TAVRO_TOOL_MODULES (folders of scripts/), which the scripts
# import from their own real location. Each gets a manual page made from its
# --help.
set(TAVRO_TOOLS
    "tavro-record tavro-record"
    "tavro-compare tavro-compare"
    "tavro-plot plot_sweep"
    "tavro-report tavro-report"
)
set(TAVRO_TOOL_MODULES
    tavro_results
)

# Directories that the install creates, whatever the umask of the build.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
    GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  # The zip holds the program and its documents side by side, as Windows
  # users expect of a program that needs no installer.
  install(TARGETS tavro RUNTIME DESTINATION . COMPONENT tavro)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
                ${PROJECT_SOURCE_DIR}/packaging/THIRD-PARTY-NOTICES.txt
          DESTINATION . COMPONENT tavro)
else()
  include(${CMAKE_CURRENT_LIST_DIR}/linux_install.cmake)
endif()

set(CPACK_PACKAGE_NAME tavro)
set(CPACK_PACKAGE_VENDOR "The tavro developers")
set(CPACK_PACKAGE_CONTACT "${TAVRO_MAINTAINER}")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Every worker thread advances a 3-D Yee finite-difference time-domain\n"
       "electromagnetic solver on its own grid for a fixed time. The score is\n"
       "the sum of the threads' grid-cell updates per second, in MGups, and\n"
       "counts only when the physics checks and both clocks agree.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x86_64)
else()
  set(CPACK_GENERATOR DEB TGZ)
  # The architecture is the one built for, which a cross build does not
  # share with the host that packs it.
  if(TAVRO_ARCH STREQUAL arm64)
    set(CPACK_SYSTEM_NAME linux-aarch64)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  elseif(TAVRO_ARCH STREQUAL riscv64)
    set(CPACK_SYSTEM_NAME linux-riscv64)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE riscv64)
  elseif(TAVRO_ARCH STREQUAL ppc64el)
    set(CPACK_SYSTEM_NAME linux-ppc64le)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ppc64el)
  elseif(TAVRO_ARCH STREQUAL s390x)
    set(CPACK_SYSTEM_NAME linux-s390x)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE s390x)
  else()
    set(CPACK_SYSTEM_NAME linux-x86_64)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  endif()
  # Two Debian packages, tavro_<version>_<arch>.deb and
  # tavro-tools_<version>_all.deb, installed under /usr; the .tar.gz holds both.
  set(CPACK_COMPONENTS_ALL tavro tools)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TAVRO_MAINTAINER}")
  if(TAVRO_HOMEPAGE)
    set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${TAVRO_HOMEPAGE}")
  endif()
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

  # Each package's description starts with its own summary line. (CPack
  # would put CPACK_PACKAGE_DESCRIPTION_SUMMARY before both, so it is not set.)
  set(CPACK_DEBIAN_TAVRO_PACKAGE_NAME tavro)
  set(CPACK_DEBIAN_TAVRO_DESCRIPTION "${TAVRO_SUMMARY}\n${CPACK_PACKAGE_DESCRIPTION}")
  # The Depends line from the libraries the program really links
  # (dpkg-shlibdeps, from dpkg-dev): the C and C++ runtimes, {fmt} being
  # linked in.
  set(CPACK_DEBIAN_TAVRO_PACKAGE_SHLIBDEPS ON)
  # Debian 12 has no riscv64 archive to install that architecture's runtimes
  # from: a cross-built riscv64 package takes its Depends line from the
  # cross tree's packages instead, when CPack runs (cmake/cross_depends.cmake).
  if(TAVRO_ARCH STREQUAL riscv64 AND CMAKE_CROSSCOMPILING)
    get_target_property(tavro_program_dir tavro RUNTIME_OUTPUT_DIRECTORY)
    set(CPACK_TAVRO_PROGRAM ${tavro_program_dir}/tavro)
    set(CPACK_TAVRO_READELF ${CMAKE_READELF})
    set(CPACK_TAVRO_CROSS_ROOT ${TAVRO_CROSS_ROOT})
    set(CPACK_TAVRO_CROSS_SUFFIX -riscv64-cross)
    set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cross_depends.cmake)
  endif()

  # The tools are a package of their own so that a machine that only runs
  # the benchmark needs no Python, and one package serves every processor.
  set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME tavro-tools)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_ARCHITECTURE all)
  # Every tool checks the records it reads against their schema.
  set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "python3, python3-jsonschema")
  set(CPACK_DEBIAN_TOOLS_PACKAGE_RECOMMENDS "tavro, python3-matplotlib")
  string(CONCAT CPACK_DEBIAN_TOOLS_DESCRIPTION
         "companion tools of the tavro benchmark\n"
         "Tools that keep and compare tavro's results: tavro-record runs tavro and\n"
         "writes a JSON record of the run with the machine's context,\n"
         "tavro-compare prints one table of several records or saved outputs,\n"
         "tavro-plot draws the scores of sweeps as a chart (with\n"
         "python3-matplotlib) or writes them as CSV, and tavro-report writes one\n"
         "HTML page that ranks machines, charts their scaling and checks every record.")
endif()
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
include(CPack)
