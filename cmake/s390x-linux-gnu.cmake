# Cross-building tavro for 64-bit IBM Z Linux (s390x, big-endian) with
# Debian's cross compiler (g++-s390x-linux-gnu); the tests run under
# qemu-user (qemu-user or qemu-user-static).
#
#   cmake -S . -B build-s390x -DCMAKE_TOOLCHAIN_FILE=cmake/s390x-linux-gnu.cmake
#   cmake --build build-s390x -j && (cd build-s390x && ctest)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(TAVRO_CROSS_TRIPLE s390x-linux-gnu)
set(TAVRO_QEMU_NAME s390x)
include(${CMAKE_CURRENT_LIST_DIR}/cross_linux.cmake)
