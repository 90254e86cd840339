#include "bench/console_writer.h"

#include <new>
#include <ostream>
#include <system_error>
#include <utility>

#if defined(__linux__)
#include <pthread.h>
#endif

namespace tavro {

bool console_writer::start() noexcept {
    const std::lock_guard lock(lock_);
    if (thread_.joinable() || finishing_) {
        return thread_.joinable();
    }
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void console_writer::write(stream to, std::initializer_list<std::string_view> parts) {
    const std::lock_guard lock(lock_);
    if (!thread_.joinable()) {
        std::ostream& os = target(to);
        for (const std::string_view part : parts) {
            os.write(part.data(), static_cast<std::streamsize>(part.size()));
        }
        os.flush();
        return;
    }
    // The piece first: should the text not fit in memory, nothing is left
    // half recorded.
    pieces_.push_back({to, 0});
    const std::size_t before = text_.size();
    try {
        for (const std::string_view part : parts) {
            text_.append(part);
        }
    } catch (...) {
        text_.resize(before);
        pieces_.pop_back();
        throw;
    }
    pieces_.back().size = text_.size() - before;
    work_.notify_one();
}

void console_writer::finish() noexcept {
    {
        const std::lock_guard lock(lock_);
        finishing_ = true;
        work_.notify_one();
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

// Takes everything handed over so far in one swap and writes it with the
// lock released, flushing a stream when the next text goes to the other one
// or the batch ends: the bytes are the same as with a flush after every
// text, in fewer writes when the reader is behind. The emptied buffers come
// back for the next batch, so that a run that keeps pace takes no memory.
void console_writer::run() {
#if defined(__linux__)
    // Named, so that a look at the process's threads (top -H, /proc/PID/task)
    // tells the writer from the workers.
    pthread_setname_np(pthread_self(), "tavro-console");
#endif
    std::string text;
    std::vector<piece> pieces;
    std::unique_lock lock(lock_);
    while (true) {
        work_.wait(lock, [this] { return !pieces_.empty() || finishing_; });
        if (pieces_.empty()) {
            return;
        }
        text.clear();
        pieces.clear();
        std::swap(text, text_);
        std::swap(pieces, pieces_);
        writing_ = true;
        lock.unlock();
        std::size_t at = 0;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            std::ostream& os = target(pieces[i].to);
            os.write(text.data() + at, static_cast<std::streamsize>(pieces[i].size));
            at += pieces[i].size;
            if (i + 1 == pieces.size() || pieces[i + 1].to != pieces[i].to) {
                os.flush();
            }
        }
        lock.lock();
        writing_ = false;
        caught_up_.notify_all();
    }
}

}  // namespace tavro
