#include "console/banner.h"

#include <iostream>
#include <thread>

#include "console/cursor.h"

namespace tavro {

namespace {

constexpr int banner_rounds = 4;
constexpr std::chrono::milliseconds frame_pause{400};
// The leading line end and the six picture lines: moving up this far returns the cursor to the
// start of the line where the frame began.
constexpr std::uint32_t frame_height = 7;
// A line end, then six lines of 30 characters and a line end each, 19 of the characters two
// bytes long.
constexpr std::size_t frame_bytes = 1 + 6 * (30 + 1) + 19;

}  // namespace

// Every line is padded to the full width with blanks, so that a frame drawn over another leaves
// nothing of it behind. The tail flaps between spread (frames 1 and 3) and folded (frames 2 and 4)
// together with the lower fin.
constexpr std::array<std::string_view, banner_frame_count> banner_frames = {
    // Tail spread, mouth closed, no bubble.
    "\n"
    "       .·´'''''`·.         .' \n"
    "   ¸.·´           `·.   .·' ; \n"
    "  : ©  ;             `·´    ; \n"
    "   `.  ;        \\    .·.    ; \n"
    "     `·.        \\ .·´   `·. ; \n"
    "        `·.____.·´         `. \n",
    // Tail folded, mouth open, a bubble just above the mouth.
    "\n"
    "       .·´'''''`·.        .   \n"
    "  O¸.·´           `·.   .·;   \n"
    "  ) ©  ;             `·´  ;   \n"
    "   `.  ;        ;    .·.  ;   \n"
    "     `·.        / .·´   `·;   \n"
    "        `·.____.·´        `   \n",
    // Tail spread, mouth closed, the bubble risen one line and one column.
    "\n"
    " O     .·´'''''`·.         .' \n"
    "   ¸.·´           `·.   .·' ; \n"
    "  : ©  ;             `·´    ; \n"
    "   `.  ;        \\    .·.    ; \n"
    "     `·.        \\ .·´   `·. ; \n"
    "        `·.____.·´         `. \n",
    // Tail folded, mouth closed, no bubble.
    "\n"
    "       .·´'''''`·.        .   \n"
    "   ¸.·´           `·.   .·;   \n"
    "  : ©  ;             `·´  ;   \n"
    "   `.  ;        ;    .·.  ;   \n"
    "     `·.        / .·´   `·;   \n"
    "        `·.____.·´        `   \n",
};

static_assert(banner_frames[0].size() == frame_bytes && banner_frames[1].size() == frame_bytes &&
              banner_frames[2].size() == frame_bytes && banner_frames[3].size() == frame_bytes);

void play_banner(std::ostream& out, const std::function<void(std::chrono::milliseconds)>& sleep,
                 const std::function<void(std::uint32_t)>& cursor_up) {
    for (int round = 0; round < banner_rounds; ++round) {
        for (const std::string_view frame : banner_frames) {
            out << frame;
            out.flush();
            sleep(frame_pause);
            cursor_up(frame_height);
        }
    }
    out << banner_frames.back() << '\n';
    out.flush();
}

void play_banner() {
    play_banner(
        std::cout, [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); },
        [](std::uint32_t lines) { move_cursor_up(lines); });
}

}  // namespace tavro
