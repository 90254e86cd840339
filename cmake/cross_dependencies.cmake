# {fmt} and GoogleTest for the cross builds (Windows, 64-bit Arm), made from
# the build host's Debian packages (libfmt-dev, libgtest-dev): there are no
# MinGW or arm64 builds of them on the host to link against.

# {fmt}: a copy of its headers alone (copying keeps the host's other headers
# out of the include path), with the compiled part built once in one source.
set(TAVRO_FMT_HEADERS /usr/include/fmt CACHE PATH "Directory of the {fmt} headers to copy")
if(NOT EXISTS ${TAVRO_FMT_HEADERS}/format-inl.h)
  message(FATAL_ERROR "No {fmt} headers in ${TAVRO_FMT_HEADERS} (install libfmt-dev)")
endif()
file(COPY ${TAVRO_FMT_HEADERS} DESTINATION ${PROJECT_BINARY_DIR}/fmt/include)
add_library(tavro_fmt STATIC ${PROJECT_SOURCE_DIR}/third_party/fmt_format.cpp)
target_include_directories(tavro_fmt SYSTEM PUBLIC ${PROJECT_BINARY_DIR}/fmt/include)
target_compile_options(tavro_fmt PRIVATE -w)
add_library(fmt::fmt ALIAS tavro_fmt)

# GoogleTest, built from Debian's sources.
macro(tavro_add_googletest)
  set(TAVRO_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
  if(NOT EXISTS ${TAVRO_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources in ${TAVRO_GOOGLETEST_SOURCE} (install libgtest-dev)")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${TAVRO_GOOGLETEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Its own code is not held to this project's warning flags.
  target_compile_options(gtest PRIVATE -w)
  target_compile_options(gtest_main PRIVATE -w)
  # Newer GoogleTest sources name their targets GTest:: themselves.
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endmacro()
