#pragma once

#include <cstddef>
#include <sstream>

namespace tavro {

/// A string buffer that remembers how much of its text had been flushed.
class recording_buffer : public std::stringbuf {
  public:
    int flushes() const { return flushes_; }
    /// Bytes written up to the last flush.
    std::size_t flushed_size() const { return flushed_size_; }

  protected:
    int sync() override {
        ++flushes_;
        flushed_size_ = str().size();
        return std::stringbuf::sync();
    }

  private:
    int flushes_ = 0;
    std::size_t flushed_size_ = 0;
};

}  // namespace tavro
