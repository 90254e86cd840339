#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string_view>

namespace tavro {

/// Number of pictures in the banner animation.
inline constexpr std::size_t banner_frame_count = 4;

/// The banner pictures, a fish blowing a bubble, in playing order. Each is 206 bytes of UTF-8: a
/// line end, then six lines of 30 characters each followed by a line end. Writing a frame where
/// the previous one started overwrites it completely.
extern const std::array<std::string_view, banner_frame_count> banner_frames;

/// Plays the animated banner on standard output and returns when it ends (about 6.4 seconds).
void play_banner();

/// Plays the banner into `out`: the four frames four times over, each written, flushed, followed
/// by `sleep` (400 ms) and `cursor_up` (7 lines, the frame's height); then the last frame once
/// more, a line end, and a flush.
void play_banner(std::ostream& out, const std::function<void(std::chrono::milliseconds)>& sleep,
                 const std::function<void(std::uint32_t)>& cursor_up);

}  // namespace tavro
