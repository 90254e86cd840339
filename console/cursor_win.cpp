// Windows side of console/cursor.h: the console's escape-sequence mode, and
// its own cursor where that mode is not available.
#include "console/cursor.h"

#include <ostream>

// The one header that includes <windows.h>; it carries no project code, so
// the console layer may include it although it sits below machine/.
#include "machine/win32_support.h"

namespace tavro {

bool enable_stdout_escape_sequences() {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == INVALID_HANDLE_VALUE) {
        return false;
    }
    // Fails on anything but a console (a pipe or a file). The mode is not
    // restored: later output of the process wants it as well.
    DWORD mode = 0;
    return GetConsoleMode(out, &mode) &&
           SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

bool move_console_cursor_up(std::uint32_t lines, std::ostream& out) {
    const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (console == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(console, &info)) {
        return false;
    }
    // The text still buffered moves the cursor when it reaches the console:
    // the row is read again once it is there.
    out.flush();
    if (!GetConsoleScreenBufferInfo(console, &info)) {
        return false;
    }
    const auto row = static_cast<std::uint32_t>(info.dwCursorPosition.Y);
    COORD target{};
    target.X = 0;
    target.Y = static_cast<SHORT>(lines <= row ? row - lines : 0);
    return SetConsoleCursorPosition(console, target) != 0;
}

}  // namespace tavro
