# The common part of the toolchain files for the Linux architectures that
# are cross-built and tested under qemu-user (riscv64, ppc64el, s390x): the
# including file sets CMAKE_SYSTEM_PROCESSOR, TAVRO_CROSS_TRIPLE (Debian's
# name of the cross compiler) and TAVRO_QEMU_NAME (qemu-user's name of the
# architecture). As cmake/aarch64-linux-gnu.cmake, which says why each
# setting is there.
set(CMAKE_C_COMPILER ${TAVRO_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TAVRO_CROSS_TRIPLE}-g++)

set(TAVRO_CROSS_ROOT /usr/${TAVRO_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH ${TAVRO_CROSS_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(TAVRO_QEMU NAMES qemu-${TAVRO_QEMU_NAME} qemu-${TAVRO_QEMU_NAME}-static)
if(TAVRO_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${TAVRO_QEMU} -L ${TAVRO_CROSS_ROOT} -E LD_LIBRARY_PATH=${TAVRO_CROSS_ROOT}/lib)
endif()
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
