#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace tavro::testing {

/// What a finished child process left behind.
struct program_result {
    /// The exit status, or minus the signal number that ended the process.
    int exit_code = -1;
    std::string out;
    std::string err;
    /// True when the process was killed for running past the time limit.
    bool timed_out = false;
    /// Set when the process could not be started at all.
    std::string spawn_error;
};

/// How the child's standard input is set up.
enum class input_mode { dev_null, closed };

/// Where the child's standard output goes: captured, a full device
/// (/dev/full: every write fails), or nowhere (closed).
enum class output_mode { captured, dev_full, closed };

/// Called with the child's process id and its standard output so far, each
/// time more of it arrived.
using output_watcher = std::function<void(int pid, const std::string& out)>;

/// Runs `path` with `arguments` (the program name is added as the first
/// word), capturing both output streams (standard output as `output` says),
/// and kills it after `limit`. `watch`, when given, sees standard output
/// as it arrives.
program_result run_program(const std::string& path, const std::vector<std::string>& arguments,
                           input_mode input = input_mode::dev_null,
                           output_mode output = output_mode::captured,
                           std::chrono::seconds limit = std::chrono::seconds(120),
                           const output_watcher& watch = {});

}  // namespace tavro::testing
