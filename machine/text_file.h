#pragma once

#include <charconv>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace tavro {

// Reading the small text files through which Linux describes the machine
// (sysfs, control groups). Shared by the readers of this folder.

/// The whole file, or nothing when it cannot be read.
std::optional<std::string> read_text_file(const std::filesystem::path& file);

/// `text` without leading and trailing blanks and line ends.
std::string_view trim_blanks(std::string_view text);

/// The unsigned decimal number that is the whole of `text`, or nothing.
template <class T>
std::optional<T> parse_number(std::string_view text) {
    T value{};
    const auto [next, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || next != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

/// The number that a file holds (blanks and a line end around it allowed),
/// or nothing when it cannot be read or holds anything else.
template <class T>
std::optional<T> read_number_file(const std::filesystem::path& file) {
    const std::optional<std::string> text = read_text_file(file);
    return text ? parse_number<T>(trim_blanks(*text)) : std::nullopt;
}

}  // namespace tavro
