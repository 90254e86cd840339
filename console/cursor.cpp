#include "console/cursor.h"

#include <iostream>

#include <fmt/format.h>

namespace tavro {

namespace {

// Process-wide and never reset: the switch is tried once, and its answer holds for the process.
cursor_mode stdout_mode;

}  // namespace

std::string cursor_up_sequence(std::uint32_t lines) {
    return fmt::format("\x1b[{}F", lines);
}

void move_cursor_up(std::uint32_t lines, std::ostream& out, cursor_mode& mode,
                    const std::function<bool()>& enable_escape_sequences,
                    const console_cursor_mover& move_console_cursor) {
    if (lines == 0) {
        return;
    }
    if (!mode.vt_attempted) {
        mode.vt_attempted = true;
        mode.vt_enabled = enable_escape_sequences();
    }
    // Without escape sequences only a console's own cursor can move; a file or pipe just
    // receives the following output after what came before.
    if (!mode.vt_enabled) {
        if (move_console_cursor) {
            move_console_cursor(lines, out);
        }
        return;
    }
    out << cursor_up_sequence(lines);
    out.flush();
}

void move_cursor_up(std::uint32_t lines) {
    move_cursor_up(lines, std::cout, stdout_mode, enable_stdout_escape_sequences,
                   move_console_cursor_up);
}

}  // namespace tavro
