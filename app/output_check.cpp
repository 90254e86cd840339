#include "app/output_check.h"

#include <cerrno>
#include <ostream>

namespace tavro {

void write_error_recorder::record_failure() {
    if (first_error_) {
        return;
    }
    // The C library leaves the reason of a failed write in errno; a target
    // that fails without one still fails.
    const int reason = errno;
    first_error_ = reason != 0 ? std::error_code(reason, std::generic_category())
                               : std::make_error_code(std::errc::io_error);
}

write_error_recorder::int_type write_error_recorder::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        return traits_type::not_eof(c);
    }
    errno = 0;
    const int_type written = target_->sputc(traits_type::to_char_type(c));
    if (traits_type::eq_int_type(written, traits_type::eof())) {
        record_failure();
    }
    return written;
}

std::streamsize write_error_recorder::xsputn(const char* text, std::streamsize count) {
    errno = 0;
    const std::streamsize written = target_->sputn(text, count);
    if (written < count) {
        record_failure();
    }
    return written;
}

int write_error_recorder::sync() {
    errno = 0;
    const int result = target_->pubsync();
    if (result != 0) {
        record_failure();
    }
    return result;
}

std::string write_error_message(const std::error_code& error) {
    return "tavro: cannot write to standard output: " + error.message();
}

int finish_output(std::ostream& out, const write_error_recorder& recorder, std::ostream& err,
                  int exit_code) {
    out.flush();
    if (!recorder.first_error() && !out.fail()) {
        return exit_code;
    }
    const std::error_code error =
        recorder.first_error().value_or(std::make_error_code(std::errc::io_error));
    err << write_error_message(error) << std::endl;
    return output_error_exit_code;
}

}  // namespace tavro
