# Cross-building tavro for 64-bit RISC-V Linux with Debian's cross compiler
# (g++-riscv64-linux-gnu); the tests run under qemu-user (qemu-user or
# qemu-user-static). Under the emulator /proc and /sys are the build host's:
# the machine facts it shows are what tavro reads when the kernel does not
# describe a RISC-V processor.
#
#   cmake -S . -B build-riscv64 -DCMAKE_TOOLCHAIN_FILE=cmake/riscv64-linux-gnu.cmake
#   cmake --build build-riscv64 -j && (cd build-riscv64 && ctest)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(TAVRO_CROSS_TRIPLE riscv64-linux-gnu)
set(TAVRO_QEMU_NAME riscv64)
include(${CMAKE_CURRENT_LIST_DIR}/cross_linux.cmake)
