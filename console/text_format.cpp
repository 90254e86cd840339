#include "console/text_format.h"

#include <array>

#include <fmt/format.h>

namespace tavro {

namespace {

constexpr int max_steps = 6;
constexpr std::array<std::string_view, max_steps + 1> binary_units = {"B",   "KiB", "MiB", "GiB",
                                                                      "TiB", "PiB", "EiB"};
constexpr std::array<std::string_view, max_steps + 1> decimal_prefixes = {"",  "K", "M", "G",
                                                                          "T", "P", "E"};

}  // namespace

std::string format_bytes(std::uint64_t count) {
    auto value = static_cast<double>(count);
    std::size_t step = 0;
    while (value >= 1024.0 && step < max_steps) {
        value *= 1.0 / 1024.0;
        ++step;
    }
    if (step == 0) {
        return fmt::format("{} {}", count, binary_units[0]);
    }
    return fmt::format("{:.2f} {}", value, binary_units[step]);
}

std::string format_si(std::uint64_t value, std::string_view unit) {
    auto scaled = static_cast<double>(value);
    std::size_t step = 0;
    while (scaled >= 1000.0 && step < max_steps) {
        scaled /= 1000.0;
        ++step;
    }
    if (step == 0) {
        return fmt::format("{} {}{}", value, decimal_prefixes[0], unit);
    }
    return fmt::format("{:.2f} {}{}", scaled, decimal_prefixes[step], unit);
}

std::string format_duration(std::uint64_t seconds) {
    const std::uint64_t hours = seconds / 3600;
    const std::uint64_t minutes = (seconds % 3600) / 60;
    const std::uint64_t secs = seconds % 60;
    if (hours != 0) {
        return fmt::format("{}h {}m {}s", hours, minutes, secs);
    }
    if (minutes != 0) {
        return fmt::format("{}m {}s", minutes, secs);
    }
    return fmt::format("{}s", secs);
}

}  // namespace tavro
