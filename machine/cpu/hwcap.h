#pragma once

#include <cstdint>
#include <string>

namespace tavro {

/// The 64-bit Arm feature list: the kernel's name of every set bit of
/// AT_HWCAP and then of AT_HWCAP2, in bit order and in upper case ("FP ASIMD
/// EVTSTRM AES ..."), separated by single blanks; the names are those of the
/// "Features" line of /proc/cpuinfo. Bits without a name here (newer than
/// this table) are left out. Decodes plain values on any machine;
/// machine/cpu/isa_arm64.cpp passes the values of the running process.
std::string format_hwcap_list(std::uint64_t hwcap, std::uint64_t hwcap2);

}  // namespace tavro
