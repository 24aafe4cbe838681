#include "error/error.hpp"

#include <cstring>

namespace corvane {
namespace {

bool has_parse_prefix(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::TableFile:
        case ErrorKind::DataTruncated:
        case ErrorKind::LimitExceeded:
        case ErrorKind::Unsupported:
        case ErrorKind::InvalidData:
        case ErrorKind::BadArgument:
            return true;
        default:
            return false;
    }
}

}  // namespace

BufrError BufrError::io_errno(int error_number) { return BufrError(ErrorKind::Io, os_error_text(error_number)); }

BufrError BufrError::io_invalid_utf8() { return BufrError(ErrorKind::Io, "stream did not contain valid UTF-8"); }

BufrError BufrError::tables_not_found(unsigned master_table, unsigned master_version, unsigned local_version,
                                      unsigned centre, unsigned subcentre) {
    const auto n = [](unsigned v) { return std::to_string(v); };
    return BufrError(ErrorKind::TablesNotFound, "no BUFR tables for master table " + n(master_table) + " version " +
                                                    n(master_version) + " (local version " + n(local_version) +
                                                    ", centre " + n(centre) + ", subcentre " + n(subcentre) + ")");
}

BufrError BufrError::not_regular_file(std::string_view shown_path) {
    return BufrError(ErrorKind::NotRegularFile, "not a regular file: " + std::string(shown_path));
}

std::string os_error_text(int error_number) {
    char buffer[256];
    // GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(error_number, buffer, sizeof buffer);
    return std::string(text) + " (os error " + std::to_string(error_number) + ")";
}

BufrError bad_number_error(std::string_view what, std::string_view text, IntParseFailure failure) {
    std::string message = "bad ";
    message += what;
    message += ' ';
    message += quote_text(text);
    message += ": ";
    message += int_parse_reason(failure);
    return BufrError::table_file(std::move(message));
}

std::string BufrError::render(Wording wording) const {
    if (wording == Wording::OneParsePrefix && has_parse_prefix(kind_)) {
        return "csv/table parse error: " + text_;
    }
    const auto n = [](std::uint64_t v) { return std::to_string(v); };
    const auto code = [](std::uint64_t v) { return format_code(static_cast<std::uint32_t>(v)); };
    switch (kind_) {
        case ErrorKind::MessageTooShort:
            return "message is too short to be BUFR";
        case ErrorKind::MissingMarker:
            return "missing BUFR marker";
        case ErrorKind::UnsupportedEdition:
            return "unsupported BUFR edition " + n(first_) +
                   (second_ == 0 ? "; only edition 4 is implemented" : "; only editions 2, 3 and 4 are implemented");
        case ErrorKind::LengthMismatch:
            return "declared length " + n(first_) + " does not match buffer length " + n(second_);
        case ErrorKind::TruncatedSection:
            return "section " + n(first_) + " at offset " + n(second_) + " is truncated";
        case ErrorKind::BadEndMarker:
            return "section 5 terminator is not 7777";
        case ErrorKind::OddDescriptorArea:
            return "section 3 descriptor area has odd byte count";
        case ErrorKind::SequenceNotFound:
            return "descriptor " + code(first_) + " was not found in Table D" + text_;
        case ErrorKind::IncompleteDelayedReplication:
            return "delayed replication descriptor " + code(first_) +
                   " is missing its replication factor or replicated descriptors";
        case ErrorKind::UnsupportedReplication:
            return "unsupported replication descriptor " + code(first_);
        case ErrorKind::ElementNotFound:
            return "descriptor " + code(first_) + " was not found in Table B" + text_;
        case ErrorKind::TableFile:
            return "table file error: " + text_;
        case ErrorKind::DataTruncated:
            return "data truncated: " + text_;
        case ErrorKind::LimitExceeded:
            return "limit exceeded: " + text_;
        case ErrorKind::Unsupported:
            return "unsupported: " + text_;
        case ErrorKind::InvalidData:
            return "invalid data: " + text_;
        case ErrorKind::BadArgument:
            return "bad argument: " + text_;
        case ErrorKind::Io:
            return "io error: " + text_;
        case ErrorKind::TablesNotFound:
        case ErrorKind::NotRegularFile:
            return text_;
    }
    return {};
}

}  // namespace corvane
