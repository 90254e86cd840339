# Install rules and packages.
#
#   cmake --install build --prefix DIR   # DIR/bin/tavro, DIR/share/doc/tavro/{README.md,LICENSE}
#   (cd build && cpack)                  # Linux: .deb and .tar.gz; Windows build: .zip
#
# scripts/release builds both and collects the packages in dist/.
include(GNUInstallDirs)

if(WIN32)
  # The zip holds the program and its documents side by side, as Windows
  # users expect of a program that needs no installer.
  set(tavro_bin_dir .)
  set(tavro_doc_dir .)
else()
  set(tavro_bin_dir ${CMAKE_INSTALL_BINDIR})
  set(tavro_doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/tavro)
endif()
install(TARGETS tavro RUNTIME DESTINATION ${tavro_bin_dir})
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION ${tavro_doc_dir})

set(CPACK_PACKAGE_NAME tavro)
set(CPACK_PACKAGE_VENDOR "The tavro developers")
set(CPACK_PACKAGE_CONTACT "The tavro developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "command-line processor benchmark (3-D FDTD field solver)")
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
  # tavro_<version>_amd64.deb or _arm64.deb, installed under /usr. The
  # architecture is the one built for, which a cross build does not share
  # with the host that packs it.
  if(TAVRO_ARCH STREQUAL arm64)
    set(CPACK_SYSTEM_NAME linux-aarch64)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  else()
    set(CPACK_SYSTEM_NAME linux-x86_64)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  endif()
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The Depends line from the libraries the program really links
  # (dpkg-shlibdeps, from dpkg-dev): the C and C++ runtimes, {fmt} being
  # linked in.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
include(CPack)
