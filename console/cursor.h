#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

namespace tavro {

/// Moves the cursor of standard output `lines` lines up, to column 0, so that the next output
/// overwrites what was printed there. The escape sequence goes into std::cout behind everything
/// written before, and std::cout is then flushed. The first call with a non-zero count decides,
/// once for the process, whether standard output takes escape sequences; where it does not, a
/// Windows console's own cursor is moved instead, and otherwise (output is not a terminal) nothing
/// is written and nothing is flushed. A count of 0 does nothing at all.
/// Main thread only.
void move_cursor_up(std::uint32_t lines);

/// The escape sequence that puts the cursor at column 0, `lines` lines up: ESC "[" lines "F".
std::string cursor_up_sequence(std::uint32_t lines);

/// Whether the switch to escape-sequence mode was tried, and whether it succeeded. Both start
/// false; once tried, neither changes again.
struct cursor_mode {
    bool vt_attempted = false;
    bool vt_enabled = false;
};

/// Moves a console's own cursor without escape sequences: takes the line count and the stream
/// whose text must reach the console first; true when it moved the cursor.
using console_cursor_mover = std::function<bool(std::uint32_t, std::ostream&)>;

/// The logic of move_cursor_up(lines) with its surroundings passed in: the stream to write to, the
/// mode flags to consult and update, the switch that reports whether escape sequences can be used
/// (called only for the first non-zero count, while `mode.vt_attempted` is false), and the console
/// cursor to move instead when they cannot (none: nothing happens then).
void move_cursor_up(std::uint32_t lines, std::ostream& out, cursor_mode& mode,
                    const std::function<bool()>& enable_escape_sequences,
                    const console_cursor_mover& move_console_cursor = {});

/// Switches standard output to escape-sequence mode where that takes a switch, and tells whether
/// it understands the cursor escape. On Linux: true exactly when standard output is a terminal.
/// On Windows: true when standard output is a console that accepted escape-sequence mode. Never
/// throws.
bool enable_stdout_escape_sequences();

/// Where standard output is a console with a cursor of its own (Windows): flushes `out`, so that
/// earlier text lands where it belongs, then puts the cursor at column 0, `lines` rows up, never
/// above row 0, and returns true. Returns false without touching anything when standard output is
/// not such a console, and always on Linux, where a terminal takes the escape sequence.
bool move_console_cursor_up(std::uint32_t lines, std::ostream& out);

}  // namespace tavro
