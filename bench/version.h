#pragma once

#include <string_view>

namespace tavro {

inline constexpr std::string_view tavro_version = "1.2.0";

}  // namespace tavro
