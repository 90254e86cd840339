#include "console/cursor.h"

#include <iostream>
#include <ostream>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/console/recording_stream.h"

namespace tavro {
namespace {

TEST(CursorUpSequence, IsEscapeBracketCountF) {
    EXPECT_EQ(cursor_up_sequence(1), "\x1b[1F");
    EXPECT_EQ(cursor_up_sequence(7), "\x1b[7F");
    EXPECT_EQ(cursor_up_sequence(4'294'967'295U), "\x1b[4294967295F");
}

TEST(MoveCursorUp, ZeroLinesDoesNothingAtAll) {
    recording_buffer buf;
    std::ostream out(&buf);
    cursor_mode mode;
    int asked = 0;
    move_cursor_up(0, out, mode, [&] {
        ++asked;
        return true;
    });
    EXPECT_EQ(buf.str(), "");
    EXPECT_EQ(buf.flushes(), 0);
    EXPECT_EQ(asked, 0);
    EXPECT_FALSE(mode.vt_attempted);
    EXPECT_FALSE(mode.vt_enabled);
}

TEST(MoveCursorUp, TerminalGetsEscapeAfterEarlierTextAndIsAskedOnce) {
    recording_buffer buf;
    std::ostream out(&buf);
    cursor_mode mode;
    int asked = 0;
    const auto terminal = [&] {
        ++asked;
        return true;
    };
    out << "frame";
    move_cursor_up(7, out, mode, terminal);
    EXPECT_EQ(buf.str(), "frame\x1b[7F");
    EXPECT_EQ(buf.flushed_size(), buf.str().size());
    move_cursor_up(0, out, mode, terminal);
    move_cursor_up(2, out, mode, terminal);
    EXPECT_EQ(buf.str(), "frame\x1b[7F\x1b[2F");
    EXPECT_EQ(buf.flushes(), 2);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(mode.vt_attempted);
    EXPECT_TRUE(mode.vt_enabled);
}

TEST(MoveCursorUp, NoTerminalWritesNothingAndIsAskedOnce) {
    recording_buffer buf;
    std::ostream out(&buf);
    cursor_mode mode;
    int asked = 0;
    const auto no_terminal = [&] {
        ++asked;
        return false;
    };
    move_cursor_up(7, out, mode, no_terminal);
    move_cursor_up(1, out, mode, no_terminal);
    EXPECT_EQ(buf.str(), "");
    EXPECT_EQ(buf.flushes(), 0);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(mode.vt_attempted);
    EXPECT_FALSE(mode.vt_enabled);
}

TEST(MoveCursorUp, WithoutEscapesTheConsoleCursorMovesInstead) {
    recording_buffer buf;
    std::ostream out(&buf);
    cursor_mode mode;
    std::vector<std::uint32_t> moves;
    const auto console = [&](std::uint32_t lines, std::ostream& stream) {
        EXPECT_EQ(&stream, &out);
        moves.push_back(lines);
        return true;
    };
    move_cursor_up(
        0, out, mode, [] { return false; }, console);
    move_cursor_up(
        4, out, mode, [] { return false; }, console);
    move_cursor_up(
        1, out, mode, [] { return true; }, console);
    EXPECT_EQ(moves, (std::vector<std::uint32_t>{4, 1}));
    EXPECT_EQ(buf.str(), "");

    // Where escapes work, the console cursor is never used.
    cursor_mode terminal;
    move_cursor_up(
        2, out, terminal, [] { return true; }, console);
    EXPECT_EQ(moves.size(), 2u);
    EXPECT_EQ(buf.str(), "\x1b[2F");
}

TEST(MoveCursorUp, WritesIntoStdCoutOnlyWhenItIsATerminal) {
    recording_buffer buf;
    std::streambuf* const saved = std::cout.rdbuf(&buf);
    move_cursor_up(0);
    const std::string after_zero = buf.str();
    move_cursor_up(3);
    std::cout.rdbuf(saved);
    EXPECT_EQ(after_zero, "");
    EXPECT_EQ(buf.str(), isatty(STDOUT_FILENO) == 1 ? "\x1b[3F" : "");
}

}  // namespace
}  // namespace tavro
