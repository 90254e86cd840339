# Cross-building tavro.exe for 64-bit Windows with Debian's MinGW-w64
# compilers (the posix thread model: the win32 one has no std::thread).
#
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TAVRO_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TAVRO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAVRO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TAVRO_MINGW_TRIPLE}-windres)

# Libraries and headers come from the MinGW tree only, so the build host's
# own headers never leak into a Windows build; programs are the host's.
set(CMAKE_FIND_ROOT_PATH /usr/${TAVRO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program links the C and C++ runtimes and the thread library in, so
# tavro.exe and the test programs run without any MinGW DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs run through Wine; the tests are listed when ctest runs, not
# at build time, so building needs no Wine at all.
find_program(TAVRO_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(TAVRO_WINE NAMES wine64 wine)
if(TAVRO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TAVRO_WINE})
endif()
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
