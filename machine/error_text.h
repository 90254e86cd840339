#pragma once

#include <optional>
#include <string>

namespace tavro {

/// The result of an operation that can fail in an expected way: empty on
/// success, otherwise the message to show.
using error_text = std::optional<std::string>;

}  // namespace tavro
