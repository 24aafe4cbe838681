// Section 4 of a compressed message, written by the column walk that reads it: when the walk asks
// for a column's R0, the source takes the next value of every subset, writes R0, NBINC and the
// increments, and hands the walk the increments to read back as it would from a message.
#include <algorithm>
#include <bit>
#include <limits>
#include <optional>
#include <string>

#include "bitstream/bit_writer.hpp"
#include "descriptor/descriptor.hpp"
#include "encode/encode.hpp"
#include "encode/value_bits.hpp"
#include "encode/value_errors.hpp"
#include "walk/walk.hpp"

namespace corvane::detail {

namespace {

class ColumnSource {
public:
    ColumnSource(std::span<const SubsetInput> subsets, BitWriter& out)
        : subsets_(subsets), out_(out), raws_(subsets.size()), missing_(subsets.size()) {}

    BufrError read_error(std::uint16_t) const { return *failure_; }
    const std::optional<BufrError>& failure() const { return failure_; }
    std::uint64_t nbinc() const { return nbinc_; }
    BitReader& increments() { return increments_; }

    // Every subset has given all its values.
    void finish() {
        for (std::uint32_t s = 0; s < subsets_.size(); ++s) {
            if (subsets_[s].size() != next_) fail(surplus_values(s, subsets_[s].size(), next_));
        }
    }

    bool fail(BufrError error) {
        if (!failure_) failure_ = std::move(error);
        return false;
    }

    // A numeric column: R0 in `r0`.
    bool number_column(const WalkValue& value, std::uint16_t width, std::uint64_t& r0) {
        // New reference values are read as plain bits, as the other values whose all ones are no marker.
        const bool marks_missing = value.kind != ValueKind::ReferenceDefinition && all_ones_missing(value);
        std::uint64_t low = std::numeric_limits<std::uint64_t>::max();
        std::uint64_t high = 0;
        bool any_missing = false;
        for (std::uint32_t s = 0; s < subsets_.size(); ++s) {
            const InputValue* input = take(s, value);
            if (input == nullptr) return false;
            // All ones is a value here, which the increments tell from missing, unless every subset has it.
            if (Status made = number_bits(s, value, *input, width, false, raws_[s]); !made) {
                return fail(std::move(made).error());
            }
            missing_[s] = marks_missing && input->kind == InputValue::Kind::Missing;
            if (missing_[s]) {
                any_missing = true;
                continue;
            }
            low = std::min(low, raws_[s]);
            high = std::max(high, raws_[s]);
        }
        ++next_;
        if (marks_missing && low == all_ones(width) && low == high) {
            const auto given = std::find(missing_.begin(), missing_.end(), false) - missing_.begin();
            const auto s = static_cast<std::uint32_t>(given);
            return fail(number_misfit(s, value, subsets_[s][next_ - 1].number, width, true));
        }
        if (value.kind == ValueKind::ReplicationFactor && (any_missing || low != high)) {
            for (std::uint32_t s = 1; s < subsets_.size(); ++s) {
                if (missing_[s] != missing_[0] || raws_[s] != raws_[0]) {
                    return fail(differing_factor(s, value, raws_[0], raws_[s]));
                }
            }
        }
        if (low > high) {
            r0 = all_ones(width);  // every subset missing
            nbinc_ = 0;
        } else if (!any_missing && low == high) {
            r0 = low;
            nbinc_ = 0;
        } else {
            r0 = low;
            // The increments hold the spread, and all ones apart from it where the reader takes them
            // as missing, whether or not a subset is.
            const std::uint64_t spread = high - low;
            nbinc_ = static_cast<std::uint64_t>(std::bit_width(marks_missing ? spread + 1 : spread));
            if (nbinc_ > 63 || (marks_missing && spread == std::numeric_limits<std::uint64_t>::max())) {
                return fail(uncompressible(value, "its increments would need more than 63 bits"));
            }
        }
        out_.write(r0, width);
        out_.write(nbinc_, 6);
        BitWriter column;
        for (std::uint32_t s = 0; s < subsets_.size() && nbinc_ != 0; ++s) {
            const std::uint64_t increment = missing_[s] ? all_ones(static_cast<std::uint32_t>(nbinc_)) : raws_[s] - r0;
            out_.write(increment, static_cast<unsigned>(nbinc_));
            column.write(increment, static_cast<unsigned>(nbinc_));
        }
        replay(column);
        return true;
    }

    // A text column: R0 into `out` as the walk reads it.
    Status text_column(const WalkValue& value, std::uint16_t width, std::uint8_t* out) {
        const std::size_t size = (width + 7u) / 8;
        texts_.resize(size * subsets_.size());
        bool alike = true;
        for (std::uint32_t s = 0; s < subsets_.size(); ++s) {
            const InputValue* input = take(s, value);
            if (input == nullptr) return *failure_;
            std::uint8_t* text = texts_.data() + s * size;
            if (Status made = text_bytes(s, value, *input, width, text); !made) {
                fail(std::move(made).error());
                return *failure_;
            }
            alike = alike && std::equal(text, text + size, texts_.data());
        }
        ++next_;
        BitWriter column;
        if (alike) {
            std::copy_n(texts_.data(), size, out);
            nbinc_ = 0;
        } else {
            // R0 of texts that differ says nothing: zeros, as other writers put.
            std::fill_n(out, size, std::uint8_t{0});
            nbinc_ = size;
            if (size > 63 || width % 8 != 0) {
                fail(uncompressible(value, "a compressed text that differs takes at most 63 whole octets"));
                return *failure_;
            }
            for (std::size_t i = 0; i < texts_.size(); ++i) column.write(texts_[i], 8);
        }
        write_text(out_, out, width);
        out_.write(nbinc_, 6);
        for (std::size_t i = 0; i < texts_.size() && !alike; ++i) out_.write(texts_[i], 8);
        replay(column);
        return {};
    }

private:
    const InputValue* take(std::uint32_t subset, const WalkValue& value) {
        const SubsetInput values = subsets_[subset];
        if (next_ == values.size()) {
            fail(too_few_values(subset, values.size(), value));
            return nullptr;
        }
        return &values[next_];
    }

    void replay(const BitWriter& column) {
        column_bytes_ = column.bytes();
        increments_ = BitReader(column_bytes_);
    }

    std::span<const SubsetInput> subsets_;
    BitWriter& out_;
    // Every subset is at the same value: the walk is the same for all of them.
    std::size_t next_ = 0;
    std::vector<std::uint64_t> raws_;
    std::vector<bool> missing_;
    std::vector<std::uint8_t> texts_;
    std::uint64_t nbinc_ = 0;
    std::vector<std::uint8_t> column_bytes_;
    BitReader increments_{{}};
    std::optional<BufrError> failure_;
};

bool read_value_bits(ColumnSource& source, const WalkValue& value, std::uint16_t width, std::uint64_t& raw) {
    return source.number_column(value, width, raw);
}

Status read_text_bits(ColumnSource& source, const WalkValue& value, std::uint16_t width, std::uint8_t* out) {
    return source.text_column(value, width, out);
}

bool read_increment_width(ColumnSource& source, const WalkValue&, std::uint64_t& nbinc) {
    nbinc = source.nbinc();
    return true;
}

BitReader& column_increments(ColumnSource& source) { return source.increments(); }

// The walk decides nothing from what a sink keeps: this one keeps nothing.
struct ColumnBounds : SinkBase {
    const TableSet& tables;

    const ElementDefinition* element(std::uint32_t code) const { return tables.find_element(code); }
    template <class Read>
    Status numbers(const WalkValue&, bool, Read&& read) {
        return read(SkipCells{});
    }
    void same_number(const WalkValue&, std::uint64_t, std::optional<double>) {}
    template <class Read>
    Status texts(const WalkValue&, std::uint64_t, Read&& read) {
        return read(SkipTexts{});
    }
    void marker(std::uint32_t) {}
};

}  // namespace

}  // namespace corvane::detail

namespace corvane {

Result<std::vector<std::uint8_t>> encode_columns(const TableSet& tables, std::span<const std::uint32_t> descriptors,
                                                 std::span<const SubsetInput> subsets) {
    if (subsets.empty() || subsets.size() > 0xFFFF) {
        return BufrError::bad_argument(std::to_string(subsets.size()) +
                                       " subsets do not make a compressed message, which holds 1 to 65535");
    }
    BufrMessage message;
    message.number_of_subsets = static_cast<std::uint16_t>(subsets.size());
    message.unexpanded_descriptors.assign(descriptors.begin(), descriptors.end());
    BitWriter out;
    detail::ColumnSource source(subsets, out);
    detail::ColumnBounds sink{{}, tables};
    if (Status walked = walk_columns(message, tables, source, kPackageDecodeOptions, sink); !walked) {
        return std::move(walked).error();
    }
    if (source.failure()) return *source.failure();
    source.finish();
    if (source.failure()) return *source.failure();
    return out.bytes();
}

}  // namespace corvane
