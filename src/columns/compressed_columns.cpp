// The column-by-column walk of a compressed message: each column of section 4 goes straight
// into the rows of every subset.
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "columns/column_walks.hpp"
#include "data/coding_state.hpp"
#include "data/decoded_value.hpp"
#include "data/decoder.hpp"
#include "data/descriptor_walk.hpp"
#include "data/element_reading.hpp"
#include "data/element_rules.hpp"
#include "data/operators.hpp"
#include "descriptor/descriptor.hpp"

namespace corvane::detail {

namespace {

struct Walk : SectionWalk {
    ValueCodingState state;
    std::uint64_t subsets;
    TableBuilder& out;
    // Columns as the value decoder counts them, markers included, for its bound.
    std::size_t columns = 0;
    bool defining_references = false;
};

Status check_room(const Walk& walk) {
    if (walk.subsets != 0 && (walk.columns + 1) * walk.subsets > kMaxDecodedValues) return too_many_values();
    return {};
}

void count_column(Walk& walk) {
    if (walk.subsets != 0) ++walk.columns;
}

// The column that a column of the message fills; with no subsets it fills none.
std::int32_t column_of(Walk& walk, const std::string* name, std::uint32_t code, ValueKind kind = ValueKind::Element) {
    if (walk.defining_references || walk.subsets == 0) return kNoColumn;
    return walk.out.message_column({name, code, kind});
}

// Passes over `count` fields of `width` bits, failing where reading them one by one would.
Status skip_fields(BitReader& reader, std::uint64_t count, std::uint16_t width) {
    if (width == 0) return {};
    const std::uint64_t fitting = (reader.total_bits() - reader.position()) / width;
    if (fitting >= count) {
        (void)reader.try_skip(count * width);
        return {};
    }
    (void)reader.try_skip(fitting * width);
    return reader.read_error(width);
}

// What the walk itself needs of a numeric column: the first subset's value, and for
// replication factors whether every subset has it.
struct FirstValue {
    std::uint64_t raw = 0;
    std::optional<double> value;
    bool varies = false;
};

// Writes the values of one numeric column into a column of the table.
struct FloatRows {
    double* rows;
    void put(std::uint64_t s, double value) { rows[s] = value; }
    void missing(std::uint64_t s) { rows[s] = std::numeric_limits<double>::quiet_NaN(); }
};
struct IntegerRows {
    std::int64_t* rows;
    void put(std::uint64_t s, double value) {
        constexpr double kLimit = 9223372036854775808.0;
        rows[s] = value >= -kLimit && value < kLimit ? static_cast<std::int64_t>(value) : kMissingCode;
    }
    void missing(std::uint64_t s) { rows[s] = kMissingCode; }
};
// Whether later subsets have the first one's value, for replication factors.
struct Checked {
    FirstValue* first;
    void put(std::uint64_t, double value) {
        if (first->value && !(std::fabs(value - *first->value) <= 0x1p-52)) first->varies = true;
    }
    void missing(std::uint64_t) {
        if (first->value) first->varies = true;
    }
};
template <class Rows>
struct CheckedRows {
    Rows rows;
    Checked checked;
    void put(std::uint64_t s, double value) {
        rows.put(s, value);
        checked.put(s, value);
    }
    void missing(std::uint64_t s) {
        rows.missing(s);
        checked.missing(s);
    }
};

// One increment per subset after R0 and NBINC.
template <class Rows>
Status read_increments(BitReader& reader, std::uint64_t subsets, std::uint64_t r0, std::uint16_t increment_width,
                       std::uint64_t increment_missing, bool all_missing, const NumericField& field, Rows rows) {
    for (std::uint64_t s = 0; s < subsets; ++s) {
        std::uint64_t increment;
        if (!reader.try_read_u64(increment_width, increment)) return reader.read_error(increment_width);
        if (all_missing || increment == increment_missing) {
            rows.missing(s);
        } else {
            rows.put(s, scaled_value(r0 + increment, field.reference, field.divisor));
        }
    }
    return {};
}

// R0, NBINC and one increment per subset (none when NBINC is 0), into `column` when it is
// one; `check` asks whether every subset has the first one's value.
Result<FirstValue> read_numeric_column(Walk& walk, const NumericField& field, bool check_missing, std::int32_t column,
                                       bool check) {
    if (field.width > 64) return width_error(field.width);
    const auto width = static_cast<std::uint16_t>(field.width);
    BitReader& reader = walk.reader;
    std::uint64_t r0;
    std::uint64_t nbinc;
    if (!reader.try_read_u64(width, r0)) return reader.read_error(width);
    if (!reader.try_read_u64(6, nbinc)) return reader.read_error(6);
    const bool all_missing = is_missing(r0, width, check_missing);
    const std::uint64_t subsets = walk.subsets;
    // Rows take room only once the bits left are seen to hold an increment for every subset.
    if (nbinc != 0 && (reader.total_bits() - reader.position()) / nbinc < subsets) {
        return skip_fields(reader, subsets, static_cast<std::uint16_t>(nbinc)).error();
    }
    double* floats = column != kNoColumn ? walk.out.float_rows(column) : nullptr;
    std::int64_t* integers = column != kNoColumn && floats == nullptr ? walk.out.integer_rows(column) : nullptr;
    FirstValue first;
    if (nbinc == 0) {
        first.raw = r0;
        if (subsets == 0) return first;
        if (!all_missing) first.value = scaled_value(r0, field.reference, field.divisor);
        if (floats != nullptr) {
            std::fill(floats, floats + subsets, first.value.value_or(std::numeric_limits<double>::quiet_NaN()));
        }
        if (integers != nullptr) {
            IntegerRows rows{integers};
            first.value ? rows.put(0, *first.value) : rows.missing(0);
            std::fill(integers + 1, integers + subsets, integers[0]);
        }
        return first;
    }
    const auto increment_width = static_cast<std::uint16_t>(nbinc);
    const std::uint64_t increment_missing = check_missing ? all_ones(increment_width) : ~std::uint64_t{0};
    if (subsets == 0) return first;
    // The first subset's value, which the walk may need whatever is stored.
    {
        std::uint64_t increment;
        if (!reader.try_read_u64(increment_width, increment)) return reader.read_error(increment_width);
        first.raw = r0 + increment;
        if (!all_missing && increment != increment_missing) {
            first.value = scaled_value(first.raw, field.reference, field.divisor);
        }
    }
    const std::uint64_t later = subsets - 1;
    const auto read_later = [&](auto rows) {
        if (check) {
            return read_increments(reader, later, r0, increment_width, increment_missing, all_missing, field,
                                   CheckedRows<decltype(rows)>{rows, Checked{&first}});
        }
        return read_increments(reader, later, r0, increment_width, increment_missing, all_missing, field, rows);
    };
    Status read;
    if (floats != nullptr) {
        floats[0] = first.value.value_or(std::numeric_limits<double>::quiet_NaN());
        read = read_later(FloatRows{floats + 1});
    } else if (integers != nullptr) {
        IntegerRows rows{integers};
        first.value ? rows.put(0, *first.value) : rows.missing(0);
        read = read_later(IntegerRows{integers + 1});
    } else if (check) {
        read = read_increments(reader, later, r0, increment_width, increment_missing, all_missing, field,
                               Checked{&first});
    } else {
        read = skip_fields(reader, later, increment_width);
    }
    if (!read) return std::move(read).error();
    return first;
}

// A text column: R0 of `width` bits, NBINC, then NBINC bytes per subset.
Status read_text_column(Walk& walk, std::int32_t column, std::uint16_t width) {
    BitReader& reader = walk.reader;
    if (Status read = read_field_bytes(reader, width, walk.field.data()); !read) return read;
    std::uint64_t nbinc;
    if (!reader.try_read_u64(6, nbinc)) return reader.read_error(6);
    if (column != kNoColumn && walk.out.type(column) != ColumnType::Text) column = kNoColumn;
    const std::size_t base = walk.out.base_row();
    const auto put = [&](std::uint64_t s, std::optional<std::string_view> text) {
        if (text) walk.out.put_text(column, base + s, *text);
    };
    if (nbinc == 0) {
        if (column == kNoColumn) return {};
        const std::optional<std::string_view> text = decode_ia5_text(walk.field, (width + 7u) / 8, walk.options);
        for (std::uint64_t s = 0; s < walk.subsets; ++s) put(s, text);
        return {};
    }
    const auto bytes = static_cast<std::uint16_t>(nbinc);
    // Rows take room only once the bits left are seen to hold every subset's text.
    if (column == kNoColumn || (reader.total_bits() - reader.position()) / 8 < walk.subsets * bytes) {
        return skip_fields(reader, walk.subsets * bytes, 8);
    }
    for (std::uint64_t s = 0; s < walk.subsets; ++s) {
        if (Status read = read_field_bytes(reader, static_cast<std::uint16_t>(bytes * 8), walk.field.data()); !read) {
            return read;
        }
        put(s, decode_ia5_text(walk.field, bytes, walk.options));
    }
    return {};
}

// One column of the element, read with `field`.
Result<FirstValue> read_element_column(Walk& walk, const ElementDefinition& element, const NumericField& field,
                                       bool check_missing, bool check) {
    const std::int32_t column = column_of(walk, &element.name, element.code);
    if (element.is_text()) {
        if (Status read = read_text_column(walk, column, static_cast<std::uint16_t>(field.width)); !read) {
            return std::move(read).error();
        }
        return FirstValue{};
    }
    return read_numeric_column(walk, field, check_missing, column, check);
}

// Plain bits in every subset: associated fields, new reference values and unknown local elements
// (all ones is missing with `check_missing`).
Result<FirstValue> read_bits_column(Walk& walk, std::uint16_t width, std::int32_t column, bool check_missing = false) {
    NumericField field;
    field.width = width;
    return read_numeric_column(walk, field, check_missing, column, false);
}

Status decode_element(Walk& walk, std::uint32_t code) {
    const ElementStep step = begin_element(walk.state.operators, walk.out.element(code), code, walk.options);
    if (step.associated_width != 0) {
        if (Status room = check_room(walk); !room) return room;
        const std::int32_t column = column_of(walk, &associated_field_label(), kAssociatedFieldCode, ValueKind::AssociatedField);
        if (auto read = read_bits_column(walk, step.associated_width, column); !read) return std::move(read).error();
        count_column(walk);
    }
    if (step.read == ElementRead::NotFound) return BufrError::element_not_found(code);
    if (Status room = check_room(walk); !room) return room;
    if (step.read == ElementRead::NewReference) {
        auto read = read_bits_column(walk, step.width, kNoColumn);
        if (!read) return std::move(read).error();
        // Every subset shares the first subset's reference.
        end_new_reference(walk.state.operators, step.element->code, walk.subsets == 0 ? 0 : read->raw, step.width);
        count_column(walk);
        return {};
    }
    if (step.read == ElementRead::UnknownLocal) {
        const std::int32_t column = column_of(walk, &unknown_local_element_label(), code, ValueKind::UnknownLocalElement);
        if (auto read = read_bits_column(walk, step.width, column, step.check_missing); !read) return std::move(read).error();
        count_column(walk);
        end_unknown_local_element(walk.state);
        return {};
    }
    const NumericField field = element_field(*step.element, walk.state.operators);
    auto first = read_element_column(walk, *step.element, field, missing_when_all_ones(code, walk.options), false);
    if (!first) return std::move(first).error();
    // The first subset decides the entry; a missing one gives 0.
    end_element(walk.state, *step.element, field, [&]() -> std::optional<std::uint8_t> {
        return first->value ? bitmap_entry(*first->value) : 0;
    });
    count_column(walk);
    return {};
}

Status read_character_data(Walk& walk, std::uint32_t code) {
    if (Status room = check_room(walk); !room) return room;
    const std::int32_t column = column_of(walk, &character_data_label(), code, ValueKind::CharacterData);
    if (Status read = read_text_column(walk, column, static_cast<std::uint16_t>(descriptor_y(code) * 8)); !read) {
        return read;
    }
    count_column(walk);
    return {};
}

Status read_bitmap_driven(Walk& walk, const ElementDefinition& element, const NumericField& field) {
    if (Status room = check_room(walk); !room) return room;
    if (auto read = read_element_column(walk, element, field, missing_when_all_ones(element.code, walk.options), false);
        !read) {
        return std::move(read).error();
    }
    count_column(walk);
    return {};
}

Status append_marker(Walk& walk, std::uint32_t code) {
    if (Status room = check_room(walk); !room) return room;
    count_column(walk);
    if (descriptor_x(code) == 3) walk.defining_references = opens_new_references(code);
    return {};
}

// The factor's column decides how often a compressed delayed replication repeats.
Result<std::uint64_t> read_replication_factor(Walk& walk, const ElementDefinition& factor) {
    if (Status room = check_room(walk); !room) return std::move(room).error();
    const NumericField field = element_field(factor, walk.state.operators);
    auto first = read_element_column(walk, factor, field, !is_class31(factor.code), true);
    if (!first) return std::move(first).error();
    if (first->value && first->varies) {
        return BufrError::parse("compressed delayed replication with varying factors is not implemented");
    }
    count_column(walk);
    end_replication_factor(walk.state, factor, field);
    return replication_count(first->value);
}

}  // namespace

Status decode_compressed_columns(const BufrMessage& message, const TableSet& tables, DecodeOptions options,
                                 BitReader& reader, TableBuilder& out) {
    Walk walk{{tables, options, reader}, ValueCodingState{}, message.number_of_subsets, out};
    return walk_descriptors(walk, message.unexpanded_descriptors, 0,
                            "compressed descriptor decode exceeded recursion depth");
}

}  // namespace corvane::detail
