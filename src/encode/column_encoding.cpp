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
#include "encode/scaled_column.hpp"
#include "encode/subset_values.hpp"
#include "encode/value_bits.hpp"
#include "encode/value_errors.hpp"
#include "walk/walk.hpp"

namespace corvane::detail {

namespace {

template <class Values>
class ColumnSource {
public:
    ColumnSource(const Values& values, BitWriter& out)
        : values_(values), out_(out), raws_(values.count()), missing_(values.count()) {
        // The walk reads the first subset's increment and passes over the others (the sink keeps
        // nothing and factors never differ): it is all that is replayed, in room for them all.
        column_bytes_.resize(values.count() * 8 + 8);
    }

    BufrError read_error(std::uint16_t) const { return *failure_; }
    const std::optional<BufrError>& failure() const { return failure_; }
    std::uint64_t nbinc() const { return nbinc_; }
    BitReader& increments() { return increments_; }

    // Every subset has given all its values.
    void finish() {
        for (std::uint32_t s = 0; s < values_.count(); ++s) {
            if (values_.size(s) != next_) fail(surplus_values(s, values_.size(s), next_));
        }
    }

    bool fail(BufrError error) {
        if (!failure_) failure_ = std::move(error);
        return false;
    }

    // A numeric column: R0 in `r0`.
    bool number_column(const WalkValue& value, std::uint16_t width, std::uint64_t& r0) {
        if (!has_next(value)) return false;
        // New reference values are read as plain bits, as the other values whose all ones are no marker.
        const bool marks_missing = value.kind != ValueKind::ReferenceDefinition && all_ones_missing(value);
        if constexpr (Values::kNumbersOnly) {
            if (value.kind != ValueKind::ReferenceDefinition && value.kind != ValueKind::ReplicationFactor &&
                width <= 52 && grid_column(value, width, marks_missing, r0)) {
                return true;
            }
        }
        const std::uint32_t count = static_cast<std::uint32_t>(values_.count());
        std::uint64_t low = std::numeric_limits<std::uint64_t>::max();
        std::uint64_t high = 0;
        bool any_missing = false;
        if (value.kind == ValueKind::ReferenceDefinition) {
            for (std::uint32_t s = 0; s < count; ++s) {
                if (Status made = number_bits(s, value, values_.at(s, next_), width, false, raws_[s]); !made) {
                    return fail(std::move(made).error());
                }
                missing_[s] = false;
                if (raws_[s] != raws_[0]) return fail(differing_reference(s, value, raws_[0], raws_[s], width));
            }
            low = high = count == 0 ? 0 : raws_[0];
        } else {
            // All ones is a value here, which the increments tell from missing, unless every subset has it.
            const NumberFit fit(*value.field, width, false);
            const std::uint64_t ones = all_ones(width);
            std::uint64_t* const raws = raws_.data();
            std::uint8_t* const missing = missing_.data();
            const bool fitted = values_.each(next_, [&](std::size_t s, const InputValue& input) {
                std::uint64_t raw = ones;
                if (input.kind == InputValue::Kind::Number) {
                    if (!fit.raw(input.number, raw)) {
                        return fail(number_misfit(static_cast<std::uint32_t>(s), value, input.number, width, false));
                    }
                } else if (input.kind == InputValue::Kind::Text) {
                    return fail(wrong_type(static_cast<std::uint32_t>(s), value, input));
                }
                raws[s] = raw;
                const bool absent = marks_missing && input.kind == InputValue::Kind::Missing;
                missing[s] = absent;
                any_missing |= absent;
                low = absent ? low : std::min(low, raw);
                high = absent ? high : std::max(high, raw);
                return true;
            });
            if (!fitted) return false;
        }
        ++next_;
        if (marks_missing && low == all_ones(width) && low == high) {
            const auto given = std::find(missing_.begin(), missing_.end(), std::uint8_t{0}) - missing_.begin();
            const auto s = static_cast<std::uint32_t>(given);
            return fail(number_misfit(s, value, values_.at(s, next_ - 1).number, width, true));
        }
        if (value.kind == ValueKind::ReplicationFactor && (any_missing || low != high)) {
            for (std::uint32_t s = 1; s < count; ++s) {
                if (missing_[s] != missing_[0] || raws_[s] != raws_[0]) {
                    return fail(differing_factor(s, value, raws_[0], raws_[s]));
                }
            }
        }
        if (!spread_of(value, width, marks_missing, any_missing, low, high, r0)) return false;
        out_.write(r0, width);
        out_.write(nbinc_, 6);
        if (nbinc_ == 0) return true;
        const auto bits = static_cast<unsigned>(nbinc_);
        const std::uint64_t missing_increment = all_ones(bits);
        const std::uint64_t* const raws = raws_.data();
        const std::uint8_t* const missing = missing_.data();
        out_.write_each(count, bits, [&](std::size_t s) { return missing[s] != 0 ? missing_increment : raws[s] - r0; });
        replay_first(missing_[0] != 0 ? missing_increment : raws_[0] - r0, bits);
        return true;
    }

    // A text column: R0 into `out` as the walk reads it.
    Status text_column(const WalkValue& value, std::uint16_t width, std::uint8_t* out) {
        if (!has_next(value)) return *failure_;
        const std::size_t size = (width + 7u) / 8;
        texts_.resize(size * values_.count());
        bool alike = true;
        for (std::uint32_t s = 0; s < values_.count(); ++s) {
            std::uint8_t* text = texts_.data() + s * size;
            if (Status made = text_bytes(s, value, values_.at(s, next_), width, text); !made) {
                fail(std::move(made).error());
                return *failure_;
            }
            alike = alike && std::equal(text, text + size, texts_.data());
        }
        ++next_;
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
        }
        write_text(out_, out, width);
        out_.write(nbinc_, 6);
        for (std::size_t i = 0; i < texts_.size() && !alike; ++i) out_.write(texts_[i], 8);
        // The texts as written are the increments the walk reads.
        increments_ = BitReader(alike ? std::span<const std::uint8_t>() : std::span<const std::uint8_t>(texts_));
        return {};
    }

private:
    // R0 and NBINC from the smallest and the largest raw bits (`low` > `high`: every subset missing).
    bool spread_of(const WalkValue& value, std::uint16_t width, bool marks_missing, bool any_missing, std::uint64_t low,
                   std::uint64_t high, std::uint64_t& r0) {
        if (low > high) {
            r0 = all_ones(width);
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
        return true;
    }

    // A column of a grid: its range from one pass over the numbers, then the increments, in
    // doubles, which hold raw bits of up to 52 bits exactly. False, with nothing written, for what
    // the general pass tells or reports: a value that does not fit, or all ones in every subset
    // that gives one.
    bool grid_column(const WalkValue& value, std::uint16_t width, bool marks_missing, std::uint64_t& r0) {
        const std::size_t count = values_.count();
        const NumberFit fit(*value.field, width, false);
        const double ones = static_cast<double>(all_ones(width));
        const ScaledRange range = scaled_range(values_.range(next_, gathered_), fit);
        double low = range.low;
        double high = range.high;
        const bool any_missing = range.any_missing;
        if (range.misfit) return false;
        // Missing is all ones as any value where the reader takes no value as missing.
        if (any_missing && !marks_missing) {
            low = std::min(low, ones);
            high = std::max(high, ones);
        }
        if (marks_missing && low == ones && high == ones) return false;
        const bool all_missing = low > high;
        if (!spread_of(value, width, marks_missing, marks_missing && any_missing,
                       all_missing ? 1 : static_cast<std::uint64_t>(low),
                       all_missing ? 0 : static_cast<std::uint64_t>(high), r0)) {
            return false;
        }
        ++next_;
        out_.write(r0, width);
        out_.write(nbinc_, 6);
        if (nbinc_ == 0) return true;
        // Only a column whose values differ is read value by value.
        const double* const column = values_.column(next_ - 1, gathered_);
        const auto bits = static_cast<unsigned>(nbinc_);
        const double base = static_cast<double>(r0) + fit.reference;
        const std::uint64_t missing_increment = marks_missing ? all_ones(bits)
                                                              : static_cast<std::uint64_t>(all_ones(width) - r0);
        const auto increment = [&](std::size_t s) {
            const double number = column[s];
            return number != number ? missing_increment
                                    : static_cast<std::uint64_t>(
                                          static_cast<std::int64_t>(nearest_whole(number * fit.divisor) - base));
        };
        out_.write_each(count, bits, increment);
        replay_first(increment(0), bits);
        return true;
    }

    // Whether every subset has a value for `value`; else the failure names the first that has not.
    bool has_next(const WalkValue& value) {
        if (next_ < values_.shortest()) return true;
        for (std::uint32_t s = 0; s < values_.count(); ++s) {
            if (next_ == values_.size(s)) return fail(too_few_values(s, values_.size(s), value));
        }
        return true;
    }

    void replay_first(std::uint64_t increment, unsigned bits) {
        const std::uint64_t word = increment << (64 - bits);
        for (int i = 0; i < 8; ++i) column_bytes_[i] = static_cast<std::uint8_t>(word >> (56 - 8 * i));
        const std::size_t used = (values_.count() * bits + 7) / 8;
        increments_ = BitReader(std::span<const std::uint8_t>(column_bytes_.data(), used));
    }

    const Values& values_;
    BitWriter& out_;
    // Every subset is at the same value: the walk is the same for all of them.
    std::size_t next_ = 0;
    std::vector<std::uint64_t> raws_;
    std::vector<std::uint8_t> missing_;
    std::vector<std::uint8_t> texts_;
    // A grid's column as doubles, when its values lie apart.
    ColumnBlock gathered_;
    std::uint64_t nbinc_ = 0;
    std::vector<std::uint8_t> column_bytes_;
    BitReader increments_{{}};
    std::optional<BufrError> failure_;
};

template <class Values>
bool read_value_bits(ColumnSource<Values>& source, const WalkValue& value, std::uint16_t width, std::uint64_t& raw) {
    return source.number_column(value, width, raw);
}

template <class Values>
Status read_text_bits(ColumnSource<Values>& source, const WalkValue& value, std::uint16_t width, std::uint8_t* out) {
    return source.text_column(value, width, out);
}

template <class Values>
bool read_increment_width(ColumnSource<Values>& source, const WalkValue&, std::uint64_t& nbinc) {
    nbinc = source.nbinc();
    return true;
}

template <class Values>
BitReader& column_increments(ColumnSource<Values>& source) {
    return source.increments();
}

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

template <class Values>
Result<std::vector<std::uint8_t>> encode_columns_of(const TableSet& tables, std::span<const std::uint32_t> descriptors,
                                                    const Values& values) {
    if (values.count() == 0 || values.count() > 0xFFFF) {
        return BufrError::bad_argument(std::to_string(values.count()) +
                                       " subsets do not make a compressed message, which holds 1 to 65535");
    }
    BufrMessage message;
    message.number_of_subsets = static_cast<std::uint16_t>(values.count());
    message.unexpanded_descriptors.assign(descriptors.begin(), descriptors.end());
    BitWriter out;
    ColumnSource<Values> source(values, out);
    ColumnBounds sink{{}, tables};
    if (Status walked = walk_columns(message, tables, source, kPackageDecodeOptions, sink); !walked) {
        return std::move(walked).error();
    }
    if (source.failure()) return *source.failure();
    source.finish();
    if (source.failure()) return *source.failure();
    return std::move(out).bytes();
}

}  // namespace

}  // namespace corvane::detail

namespace corvane {

Result<std::vector<std::uint8_t>> encode_columns(const TableSet& tables, std::span<const std::uint32_t> descriptors,
                                                 std::span<const SubsetInput> subsets) {
    return detail::encode_columns_of(tables, descriptors, detail::ListValues(subsets));
}

Result<std::vector<std::uint8_t>> encode_columns(const TableSet& tables, std::span<const std::uint32_t> descriptors,
                                                 const NumberGrid& subsets) {
    return detail::encode_columns_of(tables, descriptors, detail::GridValues(subsets));
}

}  // namespace corvane
