// Streaming reader for the delimited-text (CSV dialect) table files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "error/error.hpp"
#include "files/files.hpp"

namespace corvane {

struct DelimitedDialect {
    char separator = ',';
    // A record that begins with this byte is skipped to the end of its line.
    std::optional<char> comment;
};

// Where reading of a record began: records read before it, 1-based line, bytes consumed before it.
struct RecordPosition {
    std::uint64_t record = 0;
    std::uint64_t line = 1;
    std::uint64_t byte = 0;
};

// Reads one record at a time through a fixed buffer; the first record fixes the field count.
// Field views stay valid until the next call of read_record.
class DelimitedReader {
public:
    static constexpr std::size_t kBufferSize = 8192;

    // Failure to open carries the operating system's text as a TableFile error.
    static Result<DelimitedReader> open(const std::filesystem::path& file, DelimitedDialect dialect);
    // Reads `text` in place; it must outlive the reader.
    static DelimitedReader over(std::string_view text, DelimitedDialect dialect);

    // True with a new record, false at the end of the input.
    Result<bool> read_record();

    // The current record's fields must be UTF-8; a failure names `at` as the record's position.
    Status check_utf8(const RecordPosition& at) const;

    const RecordPosition& position() const { return position_; }
    std::span<const std::string_view> fields() const { return views_; }

private:
    DelimitedReader(std::optional<FileHandle> file, DelimitedDialect dialect, std::string_view text);

    // Makes at least one byte available unless the input has ended.
    Status fill();
    bool at_end() const { return begin_ == window_.size(); }
    void consume_byte(char byte);
    // Appends the run of ordinary bytes at the read point to the record; inside quotes only a quote or line end stops
    // it.
    void take_run(bool quoted);
    void end_field() { ends_.push_back(record_.size()); }
    Result<bool> end_record();

    // None when reading text in memory.
    std::optional<FileHandle> file_;
    DelimitedDialect dialect_;
    // Empty when reading text in memory.
    std::vector<char> buffer_;
    // The bytes at hand: the filled part of buffer_, or the whole text in memory.
    std::string_view window_;
    std::size_t begin_ = 0;
    bool eof_ = false;
    // A record ended at a carriage return; a line feed right after it belongs to that ending.
    bool pending_lf_ = false;
    // The last byte consumed was a carriage return, so a line feed does not start another line.
    bool after_cr_ = false;

    std::uint64_t records_ = 0;
    std::uint64_t line_ = 1;
    std::uint64_t consumed_ = 0;
    std::optional<std::size_t> expected_fields_;

    RecordPosition position_;
    std::string record_;
    std::vector<std::size_t> ends_;
    std::vector<std::string_view> views_;
};

}  // namespace corvane
