# Cross-building tavro for little-endian 64-bit POWER Linux (Debian's
# ppc64el) with Debian's cross compiler (g++-powerpc64le-linux-gnu); the tests
# run under qemu-user (qemu-user or qemu-user-static).
#
#   cmake -S . -B build-ppc64el -DCMAKE_TOOLCHAIN_FILE=cmake/powerpc64le-linux-gnu.cmake
#   cmake --build build-ppc64el -j && (cd build-ppc64el && ctest)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(TAVRO_CROSS_TRIPLE powerpc64le-linux-gnu)
set(TAVRO_QEMU_NAME ppc64le)
include(${CMAKE_CURRENT_LIST_DIR}/cross_linux.cmake)
