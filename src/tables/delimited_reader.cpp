#include "tables/delimited_reader.hpp"

#include <utility>

#include "text/text.hpp"

namespace corvane {
namespace {

bool is_line_end(char c) { return c == '\r' || c == '\n'; }

bool all_ascii(std::string_view text) {
    unsigned char bits = 0;
    for (const char c : text) bits |= static_cast<unsigned char>(c);
    return bits < 0x80;
}

}  // namespace

Result<DelimitedReader> DelimitedReader::open(const std::filesystem::path& file, DelimitedDialect dialect) {
    auto handle = FileHandle::open(file);
    if (!handle) {
        BufrError error = std::move(handle).error();
        if (error.kind() == ErrorKind::Io) return BufrError::table_file(error.text());
        return error;
    }
    return DelimitedReader(std::move(handle).value(), dialect, {});
}

DelimitedReader DelimitedReader::over(std::string_view text, DelimitedDialect dialect) {
    return DelimitedReader(std::nullopt, dialect, text);
}

DelimitedReader::DelimitedReader(std::optional<FileHandle> file, DelimitedDialect dialect, std::string_view text)
    : file_(std::move(file)), dialect_(dialect), window_(text), eof_(!file_) {
    if (file_) buffer_.resize(kBufferSize);
}

Status DelimitedReader::fill() {
    if (begin_ < window_.size() || eof_ || !file_) return {};
    const auto n = file_->read(buffer_);
    if (!n) return BufrError::table_file(n.error().text());
    window_ = std::string_view(buffer_.data(), *n);
    begin_ = 0;
    eof_ = *n == 0;
    return {};
}

void DelimitedReader::consume_byte(char byte) {
    ++begin_;
    ++consumed_;
    if (byte == '\n') {
        if (!after_cr_) ++line_;
        after_cr_ = false;
    } else if (byte == '\r') {
        ++line_;
        after_cr_ = true;
    } else {
        after_cr_ = false;
    }
}

void DelimitedReader::take_run(bool quoted) {
    const char* data = window_.data();
    const std::size_t end = window_.size();
    const std::size_t start = begin_;
    std::size_t i = begin_;
    if (quoted) {
        while (i < end && data[i] != '"' && !is_line_end(data[i])) ++i;
    } else {
        const char separator = dialect_.separator;
        while (i < end && data[i] != separator && !is_line_end(data[i])) ++i;
    }
    if (i == start) return;
    record_.append(data + start, i - start);
    consumed_ += i - start;
    begin_ = i;
    after_cr_ = false;
}

Result<bool> DelimitedReader::end_record() {
    views_.clear();
    std::size_t start = 0;
    for (const std::size_t end : ends_) {
        views_.emplace_back(record_.data() + start, end - start);
        start = end;
    }
    ++records_;
    const std::size_t count = views_.size();
    if (!expected_fields_) {
        expected_fields_ = count;
    } else if (count != *expected_fields_) {
        return BufrError::table_file(
            "CSV error: record " + std::to_string(position_.record) + " (line: " + std::to_string(position_.line) +
            ", byte: " + std::to_string(position_.byte) + "): found record with " + std::to_string(count) +
            " fields, but the previous record has " + std::to_string(*expected_fields_) + " fields");
    }
    return true;
}

Result<bool> DelimitedReader::read_record() {
    if (pending_lf_) {
        pending_lf_ = false;
        if (Status s = fill(); !s) return std::move(s).error();
        if (!at_end() && window_[begin_] == '\n') consume_byte('\n');
    }
    position_ = {records_, line_, consumed_};
    record_.clear();
    ends_.clear();

    // Blank lines and comment lines produce no record.
    for (;;) {
        if (Status s = fill(); !s) return std::move(s).error();
        if (at_end()) return false;
        const char c = window_[begin_];
        if (is_line_end(c)) {
            consume_byte(c);
            continue;
        }
        if (!dialect_.comment || c != *dialect_.comment) break;
        for (;;) {
            if (Status s = fill(); !s) return std::move(s).error();
            if (at_end()) return false;
            const char skipped = window_[begin_];
            consume_byte(skipped);
            if (is_line_end(skipped)) break;
        }
    }

    enum class State : std::uint8_t { FieldStart, Unquoted, Quoted, QuoteInQuoted };
    State state = State::FieldStart;
    const char separator = dialect_.separator;
    for (;;) {
        if (Status s = fill(); !s) return std::move(s).error();
        if (at_end()) {
            // The input ends the record, even inside an open quote.
            end_field();
            return end_record();
        }
        if (state == State::Unquoted || state == State::Quoted) {
            take_run(state == State::Quoted);
            if (at_end()) continue;
        }
        const char c = window_[begin_];
        consume_byte(c);
        const bool line_end = is_line_end(c);
        switch (state) {
            case State::Quoted:
                if (c == '"') {
                    state = State::QuoteInQuoted;
                } else {
                    record_.push_back(c);
                }
                continue;
            case State::QuoteInQuoted:
                if (c == '"') {
                    record_.push_back(c);
                    state = State::Quoted;
                    continue;
                }
                break;
            case State::FieldStart:
                if (c == '"') {
                    state = State::Quoted;
                    continue;
                }
                break;
            case State::Unquoted:
                break;
        }
        if (c == separator) {
            end_field();
            state = State::FieldStart;
        } else if (line_end) {
            end_field();
            pending_lf_ = c == '\r';
            return end_record();
        } else {
            record_.push_back(c);
            state = State::Unquoted;
        }
    }
}

Status DelimitedReader::check_utf8(const RecordPosition& at) const {
    if (all_ascii(record_)) return {};
    for (std::size_t field = 0; field < views_.size(); ++field) {
        std::size_t valid = 0;
        if (is_valid_utf8(views_[field], valid)) continue;
        const std::string f = std::to_string(field);
        return BufrError::table_file("CSV parse error: record " + std::to_string(at.record) + " (line " +
                                     std::to_string(at.line) + ", field: " + f + ", byte: " + std::to_string(at.byte) +
                                     "): invalid utf-8: invalid UTF-8 in field " + f + " near byte index " +
                                     std::to_string(valid));
    }
    return {};
}

}  // namespace corvane
