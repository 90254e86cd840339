#include "console/cursor.h"

#include <unistd.h>

namespace tavro {

// A terminal understands the cursor escapes without any mode switch.
bool enable_stdout_escape_sequences() {
    return isatty(STDOUT_FILENO) == 1;
}

// A terminal has no cursor to move other than through the escape sequence.
bool move_console_cursor_up(std::uint32_t /*lines*/, std::ostream& /*out*/) {
    return false;
}

}  // namespace tavro
