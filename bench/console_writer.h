#pragma once

#include <condition_variable>
#include <cstddef>
#include <initializer_list>
#include <iosfwd>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tavro {

/// The console output of a run's workers, written by a thread of its own so
/// that a slow reader (a pipe nobody empties, a terminal on hold) never holds
/// up a worker in its timed loop. Texts come out in the order they were
/// given, across both streams, byte for byte; none is dropped: the buffer
/// grows while the reader is behind, and reuses its storage once it has
/// caught up. Until start() succeeds, and after finish(), each text is
/// written at once instead. Thread-safe.
class console_writer {
  public:
    enum class stream { out, err };

    console_writer(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}
    ~console_writer() { finish(); }
    console_writer(const console_writer&) = delete;
    console_writer& operator=(const console_writer&) = delete;

    /// Starts the writing thread; false, with texts still written at once,
    /// when the system refuses a thread.
    bool start() noexcept;

    /// Hands over the parts of one text, to be written one after another on
    /// `to` and followed by a flush. Returns without waiting for the stream
    /// while the thread runs; may throw std::bad_alloc.
    void write(stream to, std::initializer_list<std::string_view> parts);

    /// Waits until everything handed over is written, then calls
    /// print(out, err) with the streams, holding the lock that orders all
    /// texts: for messages that must be written piece by piece, without
    /// taking memory.
    template <class Print>
    void write_now(Print print) {
        std::unique_lock lock(lock_);
        caught_up_.wait(lock, [this] { return pieces_.empty() && !writing_; });
        print(out_, err_);
    }

    /// Writes everything handed over and ends the thread. Idempotent.
    void finish() noexcept;

  private:
    /// `size` bytes of the buffer's text, for one stream.
    struct piece {
        stream to;
        std::size_t size;
    };

    void run();
    std::ostream& target(stream to) { return to == stream::out ? out_ : err_; }

    std::ostream& out_;
    std::ostream& err_;
    std::mutex lock_;
    std::condition_variable work_;
    std::condition_variable caught_up_;
    std::string text_;
    std::vector<piece> pieces_;
    bool writing_ = false;
    bool finishing_ = false;
    std::thread thread_;
};

}  // namespace tavro
