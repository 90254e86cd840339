#include "app/command_line.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/options.h"
#include "app/output_check.h"

namespace tavro {
namespace {

bool known_workload(const std::string& name) {
    return name == "standing_wave" || name == "soft_gaussian";
}

command_decision interpret(std::vector<std::string> words) {
    return interpret_command_line({"tavro", std::move(words)}, known_workload);
}

TEST(InterpretCommandLine, OptionsFillTheSettings) {
    const command_decision d =
        interpret({"-n4", "-d10", "--size", "064", "--workload=soft_gaussian", "--threading numa",
                   "--large-pages", "--bypass-timer-check", "--harness-var", "threads",
                   "--harness-sub-runs=5", "--harness-opt", "1-4"});
    EXPECT_EQ(d.action, command_action::run);
    EXPECT_EQ(d.config.threads, 4u);
    EXPECT_EQ(d.config.duration_s, 10u);
    EXPECT_EQ(d.config.grid_size, 64u);
    EXPECT_EQ(d.config.workload_name, "soft_gaussian");
    EXPECT_EQ(d.config.threading, "numa");
    EXPECT_TRUE(d.config.large_pages);
    EXPECT_TRUE(d.config.bypass_timer_check);
    EXPECT_EQ(d.config.isa_name, "default_isa");
    EXPECT_FALSE(d.config.strict_isa);
    EXPECT_EQ(d.harness.var_name, "threads");
    EXPECT_EQ(d.harness.sub_runs, 5u);
    EXPECT_EQ(d.harness.option_string, "1-4");
    EXPECT_EQ(d.harness.pause_ms, 1u);

    const command_decision defaults = interpret({"--numthreads", "0", "--harness-opt="});
    EXPECT_EQ(defaults.action, command_action::run);
    EXPECT_EQ(defaults.config.threads, 0u);
    EXPECT_EQ(defaults.config.grid_size, 192u);
    EXPECT_EQ(defaults.config.duration_s, 30u);
    EXPECT_EQ(defaults.harness.option_string, "");
    EXPECT_EQ(defaults.harness.var_name, "none");

    const command_decision extremes = interpret({"-d", "0", "-n", "4294967295"});
    EXPECT_EQ(extremes.action, command_action::run) << "the run clamps the duration";
    EXPECT_EQ(extremes.config.threads, 4294967295u);
}

TEST(InterpretCommandLine, FirstMatchingActionWins) {
    EXPECT_EQ(interpret({"--tavro", "--size", "5", "--help"}).action, command_action::play_banner);
    EXPECT_EQ(interpret({"--size", "100", "--help"}).text,
              "Invalid size '100', must be one of: 64, 128, 192, 256, 320, 384, 448, 512, 640, "
              "768, 1024, 2048, 4096, 8192");
    EXPECT_EQ(interpret({"--workload", "Standing_Wave", "--help"}).text,
              "Invalid workload name 'Standing_Wave', must be one of: standing_wave, "
              "soft_gaussian");
    EXPECT_EQ(interpret({"--workload="}).text,
              "Invalid workload name '', must be one of: standing_wave, soft_gaussian");
    EXPECT_EQ(interpret({"--workload="}).action, command_action::fail);

    const command_decision help = interpret({"--help", "--size", "100"});
    EXPECT_EQ(help.action, command_action::print_help);
    EXPECT_EQ(help.config.grid_size, 192u);
    EXPECT_EQ(interpret({"--timer-debug", "--topo-debug", "--help"}).action,
              command_action::print_help);
    EXPECT_EQ(interpret({"--timer-debug", "--topo-debug"}).action, command_action::topo_debug);
    EXPECT_EQ(interpret({"--timer-debug", "--size", "8192"}).action, command_action::timer_debug);
    EXPECT_EQ(interpret({"--foo", "--help"}).text, "Unrecognized token: --foo");
}

TEST(InterpretCommandLine, HelpShowsBuiltInDefaultsAndTheGridTable) {
    const command_decision d = interpret({"--size", "64", "-n", "3", "--help"});
    ASSERT_EQ(d.action, command_action::print_help);
    EXPECT_EQ(d.config.grid_size, 64u);
    EXPECT_NE(d.text.find("8192] [default: 192]\n"), std::string::npos);
    EXPECT_NE(d.text.find("Number of threads to use [default: 0]\n"), std::string::npos);
    EXPECT_NE(d.text.find("\n\nfield size      memory used per thread\n  64                 17.55 "
                          "MiB\n  128   "),
              std::string::npos);
    EXPECT_NE(d.text.find("\n  8192               32.02 TiB\n"), std::string::npos);
    EXPECT_EQ(d.text.back(), '\n');
}

TEST(GridArithmetic, ThirtyTwoBitLimitsAndSixtyFourBitPasses) {
    for (const std::uint64_t size : allowed_grid_sizes) {
        EXPECT_EQ(check_grid_arithmetic<std::uint64_t>(size), std::nullopt) << size;
        const error_text narrow = check_grid_arithmetic<std::uint32_t>(size);
        if (size >= 2048) {
            EXPECT_EQ(narrow, fmt::format("grid size {} is too large for the address space", size));
        } else if (size >= 512) {
            EXPECT_EQ(narrow, fmt::format("grid size {} would overflow memory calculation", size));
        } else {
            EXPECT_EQ(narrow, std::nullopt) << size;
        }
    }
    // Sizes the command line never lets through still give a message, not a wrap.
    EXPECT_EQ(check_grid_arithmetic<std::uint64_t>(18446744073709551615u),
              "grid size 18446744073709551615 is too large for the address space");
    EXPECT_EQ(check_grid_arithmetic<std::uint64_t>(18446744073709551614u),
              "grid size 18446744073709551614 is too large for the address space");
    EXPECT_EQ(check_grid_arithmetic<std::uint64_t>(3'000'000),
              "grid size 3000000 is too large for the address space");
    EXPECT_EQ(check_grid_arithmetic<std::uint64_t>(1'000'000),
              "grid size 1000000 would overflow memory calculation");
    EXPECT_EQ(check_grid_arithmetic<std::uint64_t>(0), std::nullopt);
}

TEST(GridSizes, TextMatchesTheList) {
    std::string joined;
    for (const std::uint64_t size : allowed_grid_sizes) {
        joined += (joined.empty() ? "" : ", ") + std::to_string(size);
        EXPECT_TRUE(is_allowed_grid_size(size));
    }
    EXPECT_EQ(joined, allowed_grid_sizes_text);
    EXPECT_FALSE(is_allowed_grid_size(0));
    EXPECT_FALSE(is_allowed_grid_size(100));
}

TEST(MakeArgumentList, ProgramNameFirstAndMissingWords) {
    EXPECT_EQ(make_argument_list(0, nullptr).program_name, "");
    const char* only_null[] = {nullptr};
    EXPECT_EQ(make_argument_list(1, only_null).program_name, "");
    const char* words[] = {"./tavro", "-s", "", "64", nullptr};
    const argument_list list = make_argument_list(4, words);
    EXPECT_EQ(list.program_name, "./tavro");
    EXPECT_EQ(list.words, (std::vector<std::string>{"-s", "", "64"}));
    EXPECT_EQ(make_argument_list(-3, words).words.size(), 0u);
}

// Random word lists made of option names, numbers, delimiters and junk must
// always end in a decision with a usable message, never in a crash.
TEST(InterpretCommandLine, RandomWordListsAlwaysGiveADecision) {
    const std::vector<std::string> fragments = {"-?",
                                                "-h",
                                                "--help",
                                                "-n",
                                                "--numthreads",
                                                "-d",
                                                "--duration",
                                                "-s",
                                                "--size",
                                                "--workload",
                                                "--threading",
                                                "--large-pages",
                                                "--bypass-timer-check",
                                                "--topo-debug",
                                                "--timer-debug",
                                                "--tavro",
                                                "--harness-var",
                                                "--harness-sub-runs",
                                                "--harness-opt",
                                                "0",
                                                "64",
                                                "192",
                                                "8192",
                                                "4294967296",
                                                "18446744073709551616",
                                                "007",
                                                "=",
                                                " ",
                                                "-",
                                                "--",
                                                "",
                                                "numa",
                                                "none",
                                                "size",
                                                "standing_wave",
                                                "x",
                                                "\t",
                                                "\xc3\xa9",
                                                "\\",
                                                "/",
                                                "-ns",
                                                "-hd",
                                                "?"};
    std::mt19937 random(20240611);
    auto pick = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    const std::vector<std::string> program_names = {"tavro", "", "a/b\\c", "/", "\\"};
    for (int round = 0; round < 4000; ++round) {
        argument_list arguments{program_names[pick(program_names.size())], {}};
        const std::size_t word_count = pick(8);
        for (std::size_t w = 0; w < word_count; ++w) {
            std::string word;
            const std::size_t parts = 1 + pick(3);
            for (std::size_t k = 0; k < parts; ++k) {
                word += fragments[pick(fragments.size())];
            }
            arguments.words.push_back(word);
        }
        const command_decision d = interpret_command_line(arguments, known_workload);
        const int code = exit_code_of(d);
        ASSERT_TRUE(code == 0 || code == 1);
        if (d.action == command_action::fail) {
            ASSERT_FALSE(d.text.empty());
        } else if (d.action == command_action::print_help) {
            ASSERT_NE(d.text.find("OPTIONS, ARGUMENTS:\n"), std::string::npos);
        } else {
            ASSERT_TRUE(d.text.empty());
        }
    }
}

// Takes `room` characters, then fails every write and flush with `reason`
// in errno, as the C library does on a full device or a closed stream.
class failing_buffer : public std::streambuf {
  public:
    failing_buffer(std::size_t room, int reason) : room_(room), reason_(reason) {}
    std::string text;
    int flushes = 0;

  protected:
    int_type overflow(int_type c) override {
        const char ch = traits_type::to_char_type(c);
        return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        const auto taken = static_cast<std::streamsize>(
            std::min<std::size_t>(room_ - text.size(), static_cast<std::size_t>(n)));
        text.append(s, static_cast<std::size_t>(taken));
        if (taken < n) {
            errno = reason_;
        }
        return taken;
    }
    int sync() override {
        ++flushes;
        if (text.size() < room_) {
            return 0;
        }
        errno = reason_;
        return -1;
    }

  private:
    std::size_t room_;
    int reason_;
};

TEST(OutputCheck, FirstWriteErrorIsReportedOnceWithExitCodeTwo) {
    // Everything fits: the exit code passes through, nothing is said.
    failing_buffer roomy(100, ENOSPC);
    write_error_recorder quiet(&roomy);
    std::ostream fine(&quiet);
    std::ostringstream err;
    fine << "help text" << std::endl;
    EXPECT_EQ(finish_output(fine, quiet, err, 1), 1);
    EXPECT_EQ(roomy.text, "help text\n");
    EXPECT_EQ(roomy.flushes, 2);
    EXPECT_EQ(err.str(), "");

    // A full device: the first error is kept, later ones (another reason)
    // do not replace it, and the message comes once.
    failing_buffer full(4, ENOSPC);
    write_error_recorder recorder(&full);
    std::ostream out(&recorder);
    out << "score: 123.45" << std::endl;
    EXPECT_TRUE(out.bad());
    ASSERT_TRUE(recorder.first_error());
    EXPECT_EQ(recorder.first_error()->value(), ENOSPC);
    out.clear();
    full.text.clear();  // room again, but the next flush fails with EBADF
    errno = 0;
    out << "more" << std::flush;
    EXPECT_EQ(recorder.first_error()->value(), ENOSPC);
    EXPECT_EQ(finish_output(out, recorder, err, 0), output_error_exit_code);
    EXPECT_EQ(err.str(),
              write_error_message(std::make_error_code(std::errc::no_space_on_device)) + "\n");
    EXPECT_EQ(err.str().rfind("tavro: cannot write to standard output: ", 0), 0u);

    // A failure the buffer gives no reason for is still a failure.
    failing_buffer closed(0, 0);
    write_error_recorder silent(&closed);
    std::ostream lost(&silent);
    std::ostringstream err2;
    lost << 'x' << std::flush;
    EXPECT_EQ(finish_output(lost, silent, err2, 0), 2);
    EXPECT_EQ(err2.str(), write_error_message(std::make_error_code(std::errc::io_error)) + "\n");
}

}  // namespace
}  // namespace tavro
