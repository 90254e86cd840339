#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "program_launcher.h"
#include "tests/cli/run_program.h"

namespace tavro::testing {
namespace {

const std::string binary = TAVRO_BINARY;

std::string read_data_file(const std::string& name) {
    const char* root = std::getenv("TAVRO_TEST_DATA");
    std::ifstream in(std::string(root != nullptr ? root : "tests/data") + "/" + name);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The program itself, or in a cross build the emulator that runs it.
program_result run(const std::vector<std::string>& arguments,
                   input_mode input = input_mode::dev_null,
                   output_mode output = output_mode::captured, const output_watcher& watch = {}) {
    std::string path = binary;
    std::vector<std::string> words;
    if (!program_launcher.empty()) {
        path = program_launcher.front();
        words.assign(program_launcher.begin() + 1, program_launcher.end());
        words.push_back(binary);
    }
    words.insert(words.end(), arguments.begin(), arguments.end());
    program_result result =
        run_program(path, words, input, output, std::chrono::seconds(120), watch);
    EXPECT_EQ(result.spawn_error, "");
    EXPECT_FALSE(result.timed_out);
    return result;
}

TEST(CommandLine, HelpOutputMatchesReferenceLineForLine) {
    const std::vector<std::string> expected = split_lines(read_data_file("cli/help_output.txt"));
    ASSERT_FALSE(expected.empty());
    for (const char* help_word : {"--help", "-h", "-?"}) {
        SCOPED_TRACE(help_word);
        const program_result result = run({help_word});
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(result.err, "");
        const std::vector<std::string> lines = split_lines(result.out);
        ASSERT_EQ(lines.size(), expected.size());
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i], expected[i]) << "line " << i + 1;
        }
        EXPECT_EQ(result.out.back(), '\n');
    }
}

TEST(CommandLine, HelpWinsOverDiagnosticsAndStopsParsing) {
    const std::string help = read_data_file("cli/help_output.txt");
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"--help", "--topo-debug", "--timer-debug"},
          std::vector<std::string>{"--help", "--size", "100"},
          std::vector<std::string>{"--size", "64", "--help", "--foo"}}) {
        const program_result result = run(words);
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(result.out, help);
        EXPECT_EQ(result.err, "");
    }
}

struct failing_case {
    std::vector<std::string> words;
    std::string message;
};

TEST(CommandLine, BadCommandLinesGiveOneMessageOnStderrAndExitCodeOne) {
    const std::string sizes =
        "64, 128, 192, 256, 320, 384, 448, 512, 640, 768, 1024, 2048, 4096, 8192";
    const std::vector<failing_case> cases = {
        {{"--foo"}, "Unrecognized token: --foo"},
        {{"--foo=1"}, "Unrecognized token: --foo=1"},
        {{"--foo", "--help"}, "Unrecognized token: --foo"},
        {{"--SIZE", "64"}, "Unrecognized token: --SIZE"},
        {{"-"}, "Unrecognized token: -"},
        {{""}, "Unrecognized token: "},
        {{"--"}, "Unrecognized token: --"},
        {{"64"}, "Unrecognized token: 64"},
        {{"--large-pages", "yes"}, "Unrecognized token: yes"},
        {{"--threading", "numa", "--threading", "os"}, "Unrecognized token: --threading"},
        {{"-s", "64", "--size", "128"}, "Unrecognized token: --size"},
        {{"--size", "64", "--size", "128"}, "Unrecognized token: --size"},
        {{"--size"}, "Expected argument following --size"},
        {{"-s"}, "Expected argument following -s"},
        {{"-n", "4", "--harness-opt"}, "Expected argument following --harness-opt"},
        {{"--size", "--duration", "10"}, "Unable to convert '--duration' to destination type"},
        {{"--size="}, "Unable to convert '' to destination type"},
        {{"--size", "+64"}, "Unable to convert '+64' to destination type"},
        {{"--size", "-64"}, "Unable to convert '-64' to destination type"},
        {{"--size", "64k"}, "Unable to convert '64k' to destination type"},
        {{"--size", "0x40"}, "Unable to convert '0x40' to destination type"},
        {{"--size", " 64"}, "Unable to convert ' 64' to destination type"},
        {{"-n", "4294967296"}, "Unable to convert '4294967296' to destination type"},
        {{"--harness-sub-runs=-1"}, "Unable to convert '-1' to destination type"},
        {{"--large-pages="}, "Flag option '--large-pages' contains value ''."},
        {{"--large-pages=1"}, "Flag option '--large-pages' contains value '1'."},
        {{"--help=yes"}, "Flag option '--help' contains value 'yes'."},
        {{"-h=1"}, "Flag option '-h' contains value '1'."},
        {{"--threading=NUMA"}, "Value 'NUMA' not expected. Allowed values are: os, numa, phte"},
        {{"--threading", "auto"}, "Value 'auto' not expected. Allowed values are: os, numa, phte"},
        {{"--harness-var", "Size"},
         "Value 'Size' not expected. Allowed values are: none, size, duration, threads, isa"},
        {{"--size", "100"}, "Invalid size '100', must be one of: " + sizes},
        {{"--size", "100", "--help"}, "Invalid size '100', must be one of: " + sizes},
        {{"-s", "0"}, "Invalid size '0', must be one of: " + sizes},
        {{"-s", "18446744073709551615"},
         "Invalid size '18446744073709551615', must be one of: " + sizes},
        {{"--workload", "Standing_Wave"},
         "Invalid workload name 'Standing_Wave', must be one of: standing_wave, soft_gaussian"},
        {{"--workload="}, "Invalid workload name '', must be one of: standing_wave, soft_gaussian"},
        {{"--workload", "standing_wave ", "--help"},
         "Invalid workload name 'standing_wave ', must be one of: standing_wave, soft_gaussian"},
    };
    for (const failing_case& c : cases) {
        std::string shown;
        for (const std::string& word : c.words) {
            shown += "[" + word + "] ";
        }
        SCOPED_TRACE(shown);
        const program_result result = run(c.words);
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.err, c.message + "\n");
        EXPECT_EQ(result.out, "");
    }
}

TEST(CommandLine, BannerWinsOverEverythingElse) {
    const program_result result = run({"--tavro", "--size", "5", "--help"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.find("USAGE:"), std::string::npos);
    EXPECT_EQ(result.out.find("press enter to exit"), std::string::npos);
}

TEST(CommandLine, DiagnosticFlagsExitWithoutPrompt) {
    for (const char* flag : {"--topo-debug", "--timer-debug"}) {
        const program_result result = run({flag});
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.out.find("press enter to exit"), std::string::npos);
    }
}

TEST(CommandLine, RunEndsWithPromptAndDoesNotWaitOnClosedInput) {
    for (const input_mode input : {input_mode::closed, input_mode::dev_null}) {
        const program_result result =
            run({"-n", "1", "-d", "1", "-s", "64", "--harness-sub-runs", "1"}, input);
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_NE(result.out.find("valid result"), std::string::npos);
        const std::string prompt = "press enter to exit\n";
        ASSERT_GE(result.out.size(), prompt.size());
        EXPECT_EQ(result.out.substr(result.out.size() - prompt.size()), prompt);
    }
}

TEST(CommandLine, RunStoppedForAFifthOfItsLoopIsInvalid) {
    // Stopped for 0.4 s as soon as the timed loop of 2 s has begun.
    bool stopped = false;
    const program_result result =
        run({"-n", "1", "-d", "2", "-s", "64", "--harness-sub-runs", "1"}, input_mode::dev_null,
            output_mode::captured, [&stopped](int pid, const std::string& out) {
                if (!stopped && out.find("\rbenchmarking... ") != std::string::npos) {
                    stopped = true;
                    kill(pid, SIGSTOP);
                    std::this_thread::sleep_for(std::chrono::milliseconds(400));
                    kill(pid, SIGCONT);
                }
            });
    ASSERT_TRUE(stopped);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_NE(result.err.find("  invalid result \n==================\n"
                              "the workers were stopped or blocked for "),
              std::string::npos)
        << result.err;
    EXPECT_EQ(result.out.find("valid result"), std::string::npos);
}

TEST(CommandLine, LostStandardOutputIsAnErrorWithExitCodeTwo) {
    const std::vector<std::vector<std::string>> command_lines = {
        {"--help"},
        {"--timer-debug"},
        {"-n", "1", "-d", "1", "-s", "64", "--harness-sub-runs", "1"},
    };
    for (const std::vector<std::string>& words : command_lines) {
        SCOPED_TRACE(words.front());
        const program_result full = run(words, input_mode::dev_null, output_mode::dev_full);
        EXPECT_EQ(full.exit_code, 2);
        EXPECT_EQ(full.err, "tavro: cannot write to standard output: No space left on device\n");
    }
    const program_result closed = run({"--help"}, input_mode::dev_null, output_mode::closed);
    EXPECT_EQ(closed.exit_code, 2);
    EXPECT_EQ(closed.err.rfind("tavro: cannot write to standard output: ", 0), 0u);
    EXPECT_EQ(std::count(closed.err.begin(), closed.err.end(), '\n'), 1);
    // A command-line error writes nothing to standard output and keeps code 1.
    EXPECT_EQ(run({"-s", "65"}, input_mode::dev_null, output_mode::dev_full).exit_code, 1);
}

}  // namespace
}  // namespace tavro::testing
