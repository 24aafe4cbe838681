// The one error value of the core, and the small result types that carry it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "text/text.hpp"

namespace corvane {

enum class ErrorKind : std::uint8_t {
    MessageTooShort,
    MissingMarker,
    UnsupportedEdition,
    LengthMismatch,
    TruncatedSection,
    BadEndMarker,
    OddDescriptorArea,
    SequenceNotFound,
    IncompleteDelayedReplication,
    UnsupportedReplication,
    ElementNotFound,
    // A table file (CSV, ecCodes table, table archive) that cannot be read or parsed.
    TableFile,
    // Section 4 ends before a value that its descriptors call for.
    DataTruncated,
    // A message or table that asks for more than the decoder allows (nesting, counts, sizes).
    LimitExceeded,
    // A valid message that uses something the decoder does not implement.
    Unsupported,
    // A message or table whose descriptors or bitmaps are not well formed.
    InvalidData,
    // Something the caller gave that cannot be used.
    BadArgument,
    Io,
    TablesNotFound,
    NotRegularFile,
};

// How render() words the kinds from TableFile to BadArgument: each with a prefix that names it,
// or all with the one "csv/table parse error: " prefix that _corvane's fixed texts give them.
enum class Wording : std::uint8_t { ByKind, OneParsePrefix };

class BufrError {
public:
    static BufrError message_too_short() { return BufrError(ErrorKind::MessageTooShort); }
    static BufrError missing_marker() { return BufrError(ErrorKind::MissingMarker); }
    static BufrError unsupported_edition(std::uint8_t edition) {
        return BufrError(ErrorKind::UnsupportedEdition, edition);
    }
    // The same kind for a reader of editions 2, 3 and 4, whose text names them.
    static BufrError unsupported_edition_of_2_to_4(std::uint8_t edition) {
        return BufrError(ErrorKind::UnsupportedEdition, edition, 2);
    }
    static BufrError length_mismatch(std::uint64_t declared, std::uint64_t actual) {
        return BufrError(ErrorKind::LengthMismatch, declared, actual);
    }
    static BufrError truncated_section(std::uint8_t section, std::uint64_t offset) {
        return BufrError(ErrorKind::TruncatedSection, section, offset);
    }
    static BufrError bad_end_marker() { return BufrError(ErrorKind::BadEndMarker); }
    static BufrError odd_descriptor_area() { return BufrError(ErrorKind::OddDescriptorArea); }
    static BufrError sequence_not_found(std::uint32_t code) { return BufrError(ErrorKind::SequenceNotFound, code); }
    static BufrError incomplete_delayed_replication(std::uint32_t code) {
        return BufrError(ErrorKind::IncompleteDelayedReplication, code);
    }
    static BufrError unsupported_replication(std::uint32_t code) {
        return BufrError(ErrorKind::UnsupportedReplication, code);
    }
    static BufrError element_not_found(std::uint32_t code) { return BufrError(ErrorKind::ElementNotFound, code); }
    static BufrError table_file(std::string text) { return BufrError(ErrorKind::TableFile, std::move(text)); }
    static BufrError data_truncated(std::string text) { return BufrError(ErrorKind::DataTruncated, std::move(text)); }
    static BufrError limit_exceeded(std::string text) { return BufrError(ErrorKind::LimitExceeded, std::move(text)); }
    static BufrError unsupported(std::string text) { return BufrError(ErrorKind::Unsupported, std::move(text)); }
    static BufrError invalid_data(std::string text) { return BufrError(ErrorKind::InvalidData, std::move(text)); }
    static BufrError bad_argument(std::string text) { return BufrError(ErrorKind::BadArgument, std::move(text)); }
    // An I/O error reported by the operating system, from its errno.
    static BufrError io_errno(int error_number);
    static BufrError io_invalid_utf8();
    // No packed tables for a message's choice of tables; the text names every number of the choice.
    static BufrError tables_not_found(unsigned master_table, unsigned master_version, unsigned local_version,
                                      unsigned centre, unsigned subcentre);
    // A path that names a FIFO, socket or device where a file is read; `shown_path` is the path
    // as texts show it.
    static BufrError not_regular_file(std::string_view shown_path);

    ErrorKind kind() const { return kind_; }
    // The descriptor that an ElementNotFound or SequenceNotFound error names.
    std::uint32_t missing_descriptor() const { return static_cast<std::uint32_t>(first_); }
    // An ElementNotFound or SequenceNotFound error with `detail` after its text (": why ...").
    BufrError with_detail(std::string detail) && {
        text_ = std::move(detail);
        return std::move(*this);
    }
    // The text carried by the kinds made from one (without the rendered prefix), the whole text
    // of NotRegularFile, and the detail of a missing descriptor.
    const std::string& text() const { return text_; }
    std::string render(Wording wording = Wording::ByKind) const;

private:
    explicit BufrError(ErrorKind kind, std::uint64_t first = 0, std::uint64_t second = 0)
        : kind_(kind), first_(first), second_(second) {}
    BufrError(ErrorKind kind, std::string text) : kind_(kind), text_(std::move(text)) {}

    ErrorKind kind_;
    std::uint64_t first_ = 0;
    std::uint64_t second_ = 0;
    std::string text_;
};

// The operating system's text for an errno: "<strerror> (os error N)".
std::string os_error_text(int error_number);

// "bad {what} {quoted text}: {reason}" as a TableFile error: every number parsed is a table's.
BufrError bad_number_error(std::string_view what, std::string_view text, IntParseFailure failure);

// A value or the error that prevented it.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(BufrError error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() & { return *std::get_if<0>(&state_); }
    const T& value() const& { return *std::get_if<0>(&state_); }
    T&& value() && { return std::move(*std::get_if<0>(&state_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    const BufrError& error() const& { return *std::get_if<1>(&state_); }
    BufrError&& error() && { return std::move(*std::get_if<1>(&state_)); }

private:
    std::variant<T, BufrError> state_;
};

// Success, or the error that ended the operation. Success costs no string: it is checked
// once per decoded value.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(BufrError error) : error_(std::move(error)) {}

    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }
    const BufrError& error() const& { return *error_; }
    BufrError&& error() && { return std::move(*error_); }

private:
    std::optional<BufrError> error_;
};

}  // namespace corvane
