#include "tests/cli/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace tavro::testing {

namespace {

// Closes its pipe ends and file actions on every path out of run_program.
struct spawn_resources {
    std::array<int, 2> out_pipe{-1, -1};
    std::array<int, 2> err_pipe{-1, -1};
    posix_spawn_file_actions_t actions{};
    bool actions_ready = false;

    ~spawn_resources() {
        for (const int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) {
            if (fd >= 0) {
                close(fd);
            }
        }
        if (actions_ready) {
            posix_spawn_file_actions_destroy(&actions);
        }
    }
};

void close_fd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

// Reads both pipes until each reaches its end or the deadline passes.
bool drain(spawn_resources& res, program_result& result,
           std::chrono::steady_clock::time_point deadline, pid_t pid, const output_watcher& watch) {
    std::array<char, 4096> buffer{};
    while (res.out_pipe[0] >= 0 || res.err_pipe[0] >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        std::array<pollfd, 2> fds{pollfd{res.out_pipe[0], POLLIN, 0},
                                  pollfd{res.err_pipe[0], POLLIN, 0}};
        if (poll(fds.data(), fds.size(), static_cast<int>(left.count())) < 0 && errno != EINTR) {
            return false;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            int& fd = i == 0 ? res.out_pipe[0] : res.err_pipe[0];
            std::string& sink = i == 0 ? result.out : result.err;
            const ssize_t count = read(fd, buffer.data(), buffer.size());
            if (count > 0) {
                sink.append(buffer.data(), static_cast<std::size_t>(count));
                if (i == 0 && watch) {
                    watch(static_cast<int>(pid), result.out);
                }
            } else if (count == 0 || errno != EINTR) {
                close_fd(fd);
            }
        }
    }
    return true;
}

}  // namespace

program_result run_program(const std::string& path, const std::vector<std::string>& arguments,
                           input_mode input, output_mode output, std::chrono::seconds limit,
                           const output_watcher& watch) {
    program_result result;
    spawn_resources res;
    if (pipe2(res.out_pipe.data(), O_CLOEXEC) != 0 || pipe2(res.err_pipe.data(), O_CLOEXEC) != 0 ||
        posix_spawn_file_actions_init(&res.actions) != 0) {
        result.spawn_error = std::strerror(errno);
        return result;
    }
    res.actions_ready = true;
    if (input == input_mode::closed) {
        posix_spawn_file_actions_addclose(&res.actions, 0);
    } else {
        posix_spawn_file_actions_addopen(&res.actions, 0, "/dev/null", O_RDONLY, 0);
    }
    if (output == output_mode::dev_full) {
        posix_spawn_file_actions_addopen(&res.actions, 1, "/dev/full", O_WRONLY, 0);
    } else if (output == output_mode::closed) {
        posix_spawn_file_actions_addclose(&res.actions, 1);
    } else {
        posix_spawn_file_actions_adddup2(&res.actions, res.out_pipe[1], 1);
    }
    posix_spawn_file_actions_adddup2(&res.actions, res.err_pipe[1], 2);

    std::vector<std::string> words{path};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int spawned =
        posix_spawn(&pid, path.c_str(), &res.actions, nullptr, argv.data(), environ);
    if (spawned != 0) {
        result.spawn_error = std::strerror(spawned);
        return result;
    }
    close_fd(res.out_pipe[1]);
    close_fd(res.err_pipe[1]);

    if (!drain(res, result, std::chrono::steady_clock::now() + limit, pid, watch)) {
        result.timed_out = true;
        kill(pid, SIGKILL);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return result;
}

}  // namespace tavro::testing
