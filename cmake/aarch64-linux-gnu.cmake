# Cross-building tavro for 64-bit Arm Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu); the tests run under qemu-user (qemu-user or
# qemu-user-static).
#
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
#   cmake --build build-arm64 -j && (cd build-arm64 && ctest)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(TAVRO_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${TAVRO_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TAVRO_CROSS_TRIPLE}-g++)

# Libraries and headers come from the cross tree only, so the build host's
# own never leak into an Arm build; programs are the host's.
set(TAVRO_CROSS_ROOT /usr/${TAVRO_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH ${TAVRO_CROSS_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs and the command-line tests' tavro run through the emulator,
# with the cross tree's loader and libraries. LD_LIBRARY_PATH matters once
# the arm64 C library is also installed through multiarch (for the Debian
# package's dependencies): without it the loader mixes the two copies and
# threaded programs hang.
find_program(TAVRO_QEMU NAMES qemu-aarch64 qemu-aarch64-static)
if(TAVRO_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${TAVRO_QEMU} -L ${TAVRO_CROSS_ROOT} -E LD_LIBRARY_PATH=${TAVRO_CROSS_ROOT}/lib)
endif()
# The tests are listed when ctest runs, so building needs no emulator.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
