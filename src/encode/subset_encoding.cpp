// Section 4 of an uncompressed message, written by the walk that reads it: the walk asks a
// ValueSource for the bits of each value, and the source writes the next value it was given.
#include <limits>
#include <optional>
#include <string>

#include "bitstream/bit_writer.hpp"
#include "descriptor/descriptor.hpp"
#include "encode/encode.hpp"
#include "encode/subset_values.hpp"
#include "encode/value_bits.hpp"
#include "encode/value_errors.hpp"
#include "walk/walk.hpp"

namespace corvane::detail {

namespace {

// The bit source of the walk when it writes: each read takes the next value of the subset,
// checks that it fits its field, writes its bits and gives them back, so that replication
// factors, new reference values and bitmaps steer the walk as they do when it reads.
template <class Values>
class ValueSource {
public:
    ValueSource(const Values& values, BitWriter& out) : values_(values), out_(out) {}

    std::uint64_t position() const { return out_.position(); }
    // The source never runs out of bits: it runs out of values, which read_error tells.
    std::uint64_t total_bits() const { return std::numeric_limits<std::uint64_t>::max(); }
    BufrError read_error(std::uint16_t) const { return *failure_; }

    void begin_subset(std::uint32_t subset) {
        subset_ = subset;
        next_ = 0;
    }
    void end_subset() {
        const std::size_t given = values_.size(subset_);
        if (next_ != given) fail(surplus_values(subset_, given, next_));
    }
    const std::optional<BufrError>& failure() const { return failure_; }

    // The next value, or null (with the failure set) when the subset has no more.
    std::optional<InputValue> take(const WalkValue& value) {
        const std::size_t given = values_.size(subset_);
        if (next_ == given) {
            fail(too_few_values(subset_, given, value));
            return std::nullopt;
        }
        return values_.at(subset_, next_++);
    }

    // The first failure is the one told: later ones follow from it.
    bool fail(BufrError error) {
        if (!failure_) failure_ = std::move(error);
        return false;
    }

    void write(std::uint64_t raw, unsigned width) { out_.write(raw, width); }
    std::uint32_t subset() const { return subset_; }

private:
    const Values& values_;
    BitWriter& out_;
    std::uint32_t subset_ = 0;
    std::size_t next_ = 0;
    std::optional<BufrError> failure_;
};

template <class Values>
bool read_value_bits(ValueSource<Values>& source, const WalkValue& value, std::uint16_t width, std::uint64_t& raw) {
    const std::optional<InputValue> input = source.take(value);
    if (!input) return false;
    if (Status made = number_bits(source.subset(), value, *input, width, true, raw); !made) {
        return source.fail(std::move(made).error());
    }
    source.write(raw, width);
    return true;
}

template <class Values>
Status read_text_bits(ValueSource<Values>& source, const WalkValue& value, std::uint16_t width, std::uint8_t* out) {
    const std::optional<InputValue> input = source.take(value);
    if (!input) return *source.failure();
    if (Status made = text_bytes(source.subset(), value, *input, width, out); !made) {
        source.fail(std::move(made).error());
        return *source.failure();
    }
    write_text(source, out, width);
    return {};
}

// Tells the source where each subset starts and ends; keeps nothing.
template <class Values>
struct SubsetBounds : SinkBase {
    const TableSet& tables;
    ValueSource<Values>& source;

    const ElementDefinition* element(std::uint32_t code) const { return tables.find_element(code); }
    void begin_subset(std::uint32_t subset) { source.begin_subset(subset); }
    void end_subset(std::uint32_t) { source.end_subset(); }
    void number(const WalkValue&, std::uint64_t, std::optional<double>) {}
    void text(const WalkValue&, std::optional<std::string_view>, std::uint64_t) {}
    void marker(std::uint32_t) {}
    void expect_subsets(std::uint64_t) {}
};

template <class Values>
Result<std::vector<std::uint8_t>> encode_subsets_of(const TableSet& tables, std::span<const std::uint32_t> descriptors,
                                                    const Values& values) {
    if (values.count() > 0xFFFF) {
        return BufrError::bad_argument(std::to_string(values.count()) +
                                       " subsets do not fit one message, which holds at most 65535");
    }
    BufrMessage message;
    message.number_of_subsets = static_cast<std::uint16_t>(values.count());
    message.unexpanded_descriptors.assign(descriptors.begin(), descriptors.end());
    BitWriter out;
    ValueSource<Values> source(values, out);
    SubsetBounds<Values> sink{{}, tables, source};
    if (Status walked = walk_subsets(message, tables, source, kPackageDecodeOptions, sink); !walked) {
        return std::move(walked).error();
    }
    if (source.failure()) return *source.failure();
    return std::move(out).bytes();
}

}  // namespace

}  // namespace corvane::detail

namespace corvane {

Result<std::vector<std::uint8_t>> encode_subsets(const TableSet& tables, std::span<const std::uint32_t> descriptors,
                                                 std::span<const SubsetInput> subsets) {
    return detail::encode_subsets_of(tables, descriptors, detail::ListValues(subsets));
}

Result<std::vector<std::uint8_t>> encode_subsets(const TableSet& tables, std::span<const std::uint32_t> descriptors,
                                                 const NumberGrid& subsets) {
    return detail::encode_subsets_of(tables, descriptors, detail::GridValues(subsets));
}

}  // namespace corvane
