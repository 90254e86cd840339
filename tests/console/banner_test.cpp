#include "console/banner.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "console/cursor.h"
#include "tests/console/recording_stream.h"

namespace tavro {
namespace {

constexpr std::size_t width = 30;
constexpr std::size_t height = 6;

// Decodes one- and two-byte UTF-8 sequences, the only ones the banner may hold; anything else
// fails the test.
std::u32string decode(std::string_view text) {
    std::u32string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            out.push_back(lead);
            continue;
        }
        const bool two_byte = (lead & 0xe0U) == 0xc0U && i + 1 < text.size() &&
                              (static_cast<unsigned char>(text[i + 1]) & 0xc0U) == 0x80U;
        if (!two_byte) {
            ADD_FAILURE() << "unexpected UTF-8 byte at " << i;
            return out;
        }
        out.push_back(((lead & 0x1fU) << 6) | (static_cast<unsigned char>(text[++i]) & 0x3fU));
    }
    return out;
}

// The picture lines of a frame, without their line ends.
std::vector<std::u32string> picture(std::string_view frame) {
    const std::u32string text = decode(frame);
    std::vector<std::u32string> lines;
    if (text.empty() || text.front() != U'\n' || text.back() != U'\n') {
        ADD_FAILURE() << "a frame must start and end with a line end";
        return lines;
    }
    std::size_t start = 1;
    for (std::size_t end = text.find(U'\n', start); end != std::u32string::npos;
         end = text.find(U'\n', start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Character at a line and column, both counted from 1.
char32_t at(const std::vector<std::u32string>& lines, std::size_t line, std::size_t column) {
    return lines.at(line - 1).at(column - 1);
}

using position = std::pair<std::size_t, std::size_t>;

std::vector<position> differences(std::size_t first, std::size_t second) {
    const auto a = picture(banner_frames.at(first - 1));
    const auto b = picture(banner_frames.at(second - 1));
    std::vector<position> found;
    for (std::size_t line = 1; line <= height; ++line) {
        for (std::size_t column = 1; column <= width; ++column) {
            if (at(a, line, column) != at(b, line, column)) {
                found.emplace_back(line, column);
            }
        }
    }
    return found;
}

TEST(BannerFrames, EveryFrameHasTheFullWidthLayout) {
    for (const std::string_view frame : banner_frames) {
        EXPECT_EQ(frame.size(), 206U);
        EXPECT_EQ(decode(frame).size(), 187U);
        const auto lines = picture(frame);
        ASSERT_EQ(lines.size(), height);
        int non_ascii = 0;
        for (const std::u32string& line : lines) {
            ASSERT_EQ(line.size(), width);
            EXPECT_EQ(line.back(), U' ') << "the fish ends at column 29";
            for (const char32_t c : line) {
                if (c >= 0x80) {
                    ++non_ascii;
                    EXPECT_TRUE(c == U'\u00b8' || c == U'\u00b7' || c == U'\u00b4' ||
                                c == U'\u00a9')
                        << "unexpected character U+" << std::hex << static_cast<std::uint32_t>(c);
                } else {
                    EXPECT_TRUE(c >= 0x20 && c < 0x7f) << "control character in a picture";
                }
            }
        }
        EXPECT_EQ(non_ascii, 19);
    }
}

TEST(BannerFrames, EyeMouthAndBubbleSitWhereTheyShould) {
    const std::vector<std::vector<position>> bubbles = {{}, {{2, 3}}, {{1, 2}}, {}};
    for (std::size_t f = 0; f < banner_frame_count; ++f) {
        SCOPED_TRACE(f + 1);
        const auto lines = picture(banner_frames[f]);
        ASSERT_EQ(lines.size(), height);
        EXPECT_EQ(at(lines, 3, 5), U'\u00a9');
        EXPECT_EQ(at(lines, 3, 3), f == 1 ? U')' : U':');
        std::vector<position> found;
        for (std::size_t line = 1; line <= height; ++line) {
            for (std::size_t column = 1; column <= width; ++column) {
                if (at(lines, line, column) == U'O') {
                    found.emplace_back(line, column);
                } else if (column < 3) {
                    EXPECT_EQ(at(lines, line, column), U' ') << "the fish starts at column 3";
                }
            }
        }
        EXPECT_EQ(found, bubbles[f]);
    }
}

TEST(BannerFrames, FramesDifferOnlyInBubbleMouthAndTail) {
    EXPECT_EQ(differences(1, 3), (std::vector<position>{{1, 2}}));
    EXPECT_EQ(differences(2, 4), (std::vector<position>{{2, 3}, {3, 3}}));

    // Pose A (frame 1) against pose B (frame 4): the tail fin and the lower fin only.
    std::vector<int> tail_changes(height + 1, 0);
    std::vector<position> fin_changes;
    for (const auto& [line, column] : differences(1, 4)) {
        if (column >= 25 && column <= 29) {
            ++tail_changes[line];
        } else if (column == 17) {
            fin_changes.emplace_back(line, column);
        } else {
            ADD_FAILURE() << "pose change at line " << line << ", column " << column;
        }
    }
    for (std::size_t line = 1; line <= height; ++line) {
        EXPECT_GE(tail_changes[line], 1) << "line " << line;
        EXPECT_LE(tail_changes[line], 4) << "line " << line;
    }
    EXPECT_EQ(fin_changes, (std::vector<position>{{4, 17}, {5, 17}}));

    const auto spread = picture(banner_frames[0]);
    const auto folded = picture(banner_frames[3]);
    bool reaches_29 = false;
    for (std::size_t line = 1; line <= height; ++line) {
        reaches_29 = reaches_29 || at(spread, line, 29) != U' ';
        for (std::size_t column = 28; column <= width; ++column) {
            EXPECT_EQ(at(folded, line, column), U' ') << "line " << line << ", column " << column;
        }
    }
    EXPECT_TRUE(reaches_29);
}

struct played {
    std::string text;
    std::vector<std::string> events;
    bool flushed_before_every_pause = true;
    bool flushed_at_end = false;
};

played play(bool terminal) {
    recording_buffer buf;
    std::ostream out(&buf);
    cursor_mode mode;
    played result;
    play_banner(
        out,
        [&](std::chrono::milliseconds pause) {
            result.events.push_back("sleep " + std::to_string(pause.count()));
            result.flushed_before_every_pause =
                result.flushed_before_every_pause && buf.flushed_size() == buf.str().size();
        },
        [&](std::uint32_t lines) {
            result.events.push_back("up " + std::to_string(lines));
            move_cursor_up(lines, out, mode, [=] { return terminal; });
        });
    result.text = buf.str();
    result.flushed_at_end = buf.flushed_size() == result.text.size();
    return result;
}

TEST(PlayBanner, TerminalRedrawsEachFrameInPlace) {
    const played result = play(true);
    std::string expected;
    std::vector<std::string> events;
    for (int round = 0; round < 4; ++round) {
        for (const std::string_view frame : banner_frames) {
            expected += frame;
            expected += "\x1b[7F";
            events.insert(events.end(), {"sleep 400", "up 7"});
        }
    }
    expected += banner_frames[3];
    expected += "\n";
    EXPECT_EQ(result.text, expected);
    EXPECT_EQ(result.events, events);
    EXPECT_TRUE(result.flushed_before_every_pause);
    EXPECT_TRUE(result.flushed_at_end);
}

TEST(PlayBanner, WithoutTerminalFramesFollowOneAnother) {
    const played result = play(false);
    std::string expected;
    for (int round = 0; round < 4; ++round) {
        for (const std::string_view frame : banner_frames) {
            expected += frame;
        }
    }
    expected += banner_frames[3];
    expected += "\n";
    EXPECT_EQ(result.text, expected);
    EXPECT_EQ(result.events.size(), 32U);
    EXPECT_TRUE(result.flushed_before_every_pause);
    EXPECT_TRUE(result.flushed_at_end);
}

}  // namespace
}  // namespace tavro
