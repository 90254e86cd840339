#pragma once

#include <iosfwd>
#include <optional>
#include <streambuf>
#include <string>
#include <system_error>

namespace tavro {

/// Exit code of a program whose standard output could not be written.
inline constexpr int output_error_exit_code = 2;

/// A stream buffer that passes everything on to `target` and keeps the
/// system error of the first write or flush that failed there, so that a full
/// device or a closed stream is not mistaken for success. Output after a
/// failure is still passed on; the stream that uses this buffer normally
/// stops writing anyway once it has failed.
class write_error_recorder : public std::streambuf {
  public:
    explicit write_error_recorder(std::streambuf* target) : target_(target) {}

    /// The error of the first failed write or flush; none while all succeeded.
    const std::optional<std::error_code>& first_error() const { return first_error_; }
    /// The buffer everything is passed on to.
    std::streambuf* target() const { return target_; }

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

  private:
    /// Keeps errno as the first error unless one is kept already.
    void record_failure();

    std::streambuf* target_;
    std::optional<std::error_code> first_error_;
};

/// "tavro: cannot write to standard output: " followed by the error's text.
std::string write_error_message(const std::error_code& error);

/// Ends the program's use of `out`, whose buffer is `recorder`: flushes it,
/// and when a write failed says so once on `err` and returns
/// output_error_exit_code; otherwise returns `exit_code`.
int finish_output(std::ostream& out, const write_error_recorder& recorder, std::ostream& err,
                  int exit_code);

}  // namespace tavro
