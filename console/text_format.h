#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tavro {

/// A byte count in binary units: "512 B", "1.50 GiB". Units go up to EiB.
std::string format_bytes(std::uint64_t count);

/// A count with a decimal prefix and the given unit: "999 Hz", "3.19 GHz".
/// Prefixes go up to E (kilo is an upper-case K).
std::string format_si(std::uint64_t value, std::string_view unit);

/// Whole seconds as hours, minutes and seconds: "59s", "1m 0s", "25h 0m 0s".
std::string format_duration(std::uint64_t seconds);

}  // namespace tavro
