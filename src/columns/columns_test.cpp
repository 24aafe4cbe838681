#include "columns/columns.hpp"

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "columns/column_walks.hpp"
#include "data/decode_test_support.hpp"
#include "data/decoder.hpp"
#include "descriptor/descriptor.hpp"
#include "files/files.hpp"
#include "message/message.hpp"

namespace corvane {
namespace {

using testing::basic_tables;
using testing::BitWriter;
using testing::make_message;

const std::string kData = CORVANE_TEST_DATA;

const TableProvider& packed_tables() {
    static const TableProvider tables = TableProvider::from_archive(TableArchive::open(CORVANE_TABLE_ARCHIVE).value());
    return tables;
}

// A cell: missing, a number or a text.
using Cell = std::variant<std::monostate, double, std::string>;

// Columns by name, one cell per row.
struct Cells {
    std::size_t rows = 0;
    std::unordered_map<std::string, std::vector<Cell>> columns;
    std::vector<MessageError> errors;

    Cell& at(const std::string& name, std::size_t row) {
        std::vector<Cell>& column = columns[name];
        if (column.size() < rows) column.resize(rows);
        return column[row];
    }
};

std::string occurrence_name(const std::string& key, std::uint32_t rank) {
    return rank == 1 ? key : "#" + std::to_string(rank) + "#" + key;
}

// The rows that Message.values() implies: per subset, the n-th value of a key in column "#n#key",
// less operator markers and the values of a 203YYY definition.
void add_value_rows(const DecodedValues& values, const TableSet& tables, std::size_t message, Cells& out) {
    std::size_t index = 0;
    std::unordered_map<const std::string*, std::string> keys;
    for (std::size_t subset = 0; subset < values.subset_ends.size(); ++subset) {
        const std::size_t row = out.rows++;
        out.at("message", row) = static_cast<double>(message);
        out.at("subset", row) = static_cast<double>(subset + 1);
        std::unordered_map<std::string, std::uint32_t> counts;
        for (; index < values.subset_ends[subset]; ++index) {
            const DecodedValue& value = values[index];
            if (value.kind() == ValueKind::Marker || value.kind() == ValueKind::ReferenceDefinition) continue;
            auto [known, added] = keys.try_emplace(value.name);
            if (added || value.kind() == ValueKind::UnknownLocalElement) {
                known->second = value_label(tables, value.kind(), value.descriptor, value.name).key;
            }
            const std::string& key = known->second;
            Cell& cell = out.at(occurrence_name(key, ++counts[key]), row);
            if (const auto text = value.raw_text()) {
                cell = std::string(*text);
            } else if (value.raw() && value.raw_value()) {
                cell = *value.raw_value();
            }
        }
    }
}

std::vector<Cell> cells_of(const Column& column) {
    std::vector<Cell> cells(column.size());
    for (std::size_t row = 0; row < column.size(); ++row) {
        if (column.is_missing(row)) continue;
        switch (column.info.type) {
            case ColumnType::Float64:
                cells[row] = column.floats()[row];
                break;
            case ColumnType::Int64:
                cells[row] = static_cast<double>(column.integers()[row]);
                break;
            case ColumnType::Text:
                cells[row] = std::string(*column.text(row));
                break;
        }
    }
    return cells;
}

void expect_same_cells(const ColumnTable& table, Cells expected, const std::string& label) {
    std::set<std::string> names{"message", "subset"};
    for (auto& [name, column] : expected.columns) {
        column.resize(expected.rows);
        names.insert(name);
    }
    std::set<std::string> columns;
    for (const Column& column : table.columns) columns.insert(column.info.name);
    EXPECT_EQ(columns, names) << label;
    ASSERT_EQ(table.rows, expected.rows) << label;
    for (const Column& column : table.columns) {
        const auto found = expected.columns.find(column.info.name);
        if (found != expected.columns.end()) {
            EXPECT_EQ(cells_of(column), found->second) << label << " " << column.info.name;
        }
    }
}

// Every message of `buffer` through the value decoder, failing at the steps the package's decode takes.
Cells decode_by_values(std::span<const std::uint8_t> buffer) {
    Cells out;
    const std::vector<ScannedMessage> found = scan_messages(buffer);
    for (std::size_t index = 0; index < found.size(); ++index) {
        const ScannedMessage& entry = found[index];
        const auto fail = [&](const BufrError& error) {
            out.errors.push_back({index, entry.range.offset, error.render()});
        };
        if (entry.error) {
            fail(*entry.error);
            continue;
        }
        const auto bytes = buffer.subspan(entry.range.offset, entry.range.length);
        Result<BufrMessage> message = parse_any_edition(bytes);
        if (!message) {
            fail(message.error());
            continue;
        }
        const Result<TableSet>& tables = packed_tables().get(TableChoice::of(*message));
        if (!tables) {
            fail(tables.error());
            continue;
        }
        Result<DecodedValues> values = decode_uncompressed_values(*message, *tables, message->section4_data(bytes),
                                                                  kPackageDecodeOptions);
        if (!values) {
            fail(packed_tables().explain(TableChoice::of(*message), values.error()));
            continue;
        }
        add_value_rows(*values, *tables, index, out);
    }
    return out;
}

void expect_same_as_values(std::span<const std::uint8_t> buffer, const std::string& label) {
    Result<ColumnTable> table = decode_columns(buffer, packed_tables(), {}, kPackageDecodeOptions);
    ASSERT_TRUE(table) << label;
    Cells expected = decode_by_values(buffer);
    ASSERT_EQ(table->errors.size(), expected.errors.size()) << label;
    for (std::size_t i = 0; i < expected.errors.size(); ++i) {
        EXPECT_EQ(table->errors[i].index, expected.errors[i].index) << label;
        EXPECT_EQ(table->errors[i].offset, expected.errors[i].offset) << label;
        EXPECT_EQ(table->errors[i].text, expected.errors[i].text) << label;
    }
    expect_same_cells(*table, std::move(expected), label);
}

std::vector<std::uint8_t> test_file(const std::string& name) {
    auto bytes = read_whole_file(kData + "/bufr/" + name);
    EXPECT_TRUE(bytes) << name;
    return bytes ? std::move(*bytes) : std::vector<std::uint8_t>{};
}

std::vector<std::string> test_files() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(kData + "/bufr")) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Columns, HoldWhatTheValuesHoldAndFailAsTheyFailForEveryTestFileAndItsMutations) {
    for (const std::string& name : test_files()) {
        std::vector<std::uint8_t> bytes = test_file(name);
        // A few messages of the large files are enough.
        bytes.resize(std::min<std::size_t>(bytes.size(), 100000));
        expect_same_as_values(bytes, name);
        // Bytes changed across the whole file (framing, descriptors, data), and a cut tail.
        for (std::size_t k = 1; k <= 12; ++k) {
            std::vector<std::uint8_t> mutated = bytes;
            const std::size_t at = k * mutated.size() / 13;
            mutated[at] = static_cast<std::uint8_t>(mutated[at] ^ (0x35u * k));
            expect_same_as_values(mutated, name + " byte " + std::to_string(at));
        }
        expect_same_as_values(std::span(bytes).first(bytes.size() / 2), name + " first half");
    }
}

// The columns of one uncompressed message, checked against its values.
ColumnTable columns_as_values(const BufrMessage& message, const TableSet& tables, const std::vector<std::uint8_t>& data,
                              const std::string& label) {
    detail::TableBuilder builder(std::nullopt, {});
    builder.begin_message(message.number_of_subsets, tables);
    BitReader reader(data);
    EXPECT_TRUE(detail::decode_uncompressed_columns(message, tables, kPackageDecodeOptions, reader, builder)) << label;
    EXPECT_TRUE(builder.end_message(0)) << label;
    ColumnTable table = builder.finish();
    auto values = decode_uncompressed_values(message, tables, data, kPackageDecodeOptions);
    EXPECT_TRUE(values) << label;
    Cells expected;
    if (values) add_value_rows(*values, tables, 0, expected);
    expect_same_cells(table, expected, label);
    return table;
}

// Uncompressed subsets whose replications differ: 2, 1, 0 and 2 repetitions of (A, NAME).
TEST(Columns, AlignSubsetsOfDifferentReplicationsByOccurrence) {
    const TableSet tables = basic_tables();
    const BufrMessage message = make_message({1002, 101000, 31001, 301001}, 4);
    TableSet with_sequence = tables;
    testing::add_sequence(with_sequence, 301001, {1001, 1015});
    BitWriter bits;
    const auto subset = [&](unsigned repetitions) {
        bits.bits(5 + repetitions, 10).bits(repetitions, 8);
        for (unsigned r = 0; r < repetitions; ++r) {
            bits.bits(r + 1, 7).text(r == 0 ? std::string("AB ") : std::string("C\0\0", 3));
        }
    };
    subset(2);
    subset(1);
    subset(0);
    subset(2);
    const ColumnTable table = columns_as_values(message, with_sequence, bits.bytes(), "replications");
    EXPECT_EQ(cells_of(*table.find("#2#001015"))[3], Cell("C"));
}

// 206YYY before an element at another width reads plain bits under the element's code: a
// column of its own, however the two alternate.
TEST(Columns, KeepLocalWidthValuesApartFromTheElementOfTheirCode) {
    TableSet tables = basic_tables();
    tables.elements.at(1002).abbreviation = "b";
    const BufrMessage message = make_message({206005, 1002, 1002, 206005, 1002});
    const std::vector<std::uint8_t> data = BitWriter().bits(3, 5).bits(7, 10).bits(9, 5).bytes();
    EXPECT_EQ(columns_as_values(message, tables, data, "local widths").columns.size(), 5u);
}

std::vector<std::string> names_of(const ColumnTable& table) {
    std::vector<std::string> names;
    for (const Column& column : table.columns) names.push_back(column.info.name);
    return names;
}

TEST(Columns, SelectKeysAndOccurrencesAndFilterRowsBeforeKeepingThem) {
    const std::vector<std::uint8_t> bytes = test_file("dwd-synop-44msgs.bufr");
    const ColumnTable all = decode_columns(bytes, packed_tables(), {}).value();

    ColumnRequest request;
    request.keys = {"stationOrSiteName", "timeSignificance", "#2#heightOfSensorAboveLocalGroundOrDeckOfMarinePlatform"};
    const ColumnTable chosen = decode_columns(bytes, packed_tables(), request).value();
    std::vector<std::string> wanted;
    for (const Column& column : all.columns) {
        const ColumnInfo& info = column.info;
        if (info.rank == 0 || info.key == "stationOrSiteName" || info.key == "timeSignificance" ||
            info.name == "#2#heightOfSensorAboveLocalGroundOrDeckOfMarinePlatform") {
            wanted.push_back(info.name);
            EXPECT_EQ(cells_of(*chosen.find(info.name)), cells_of(column)) << info.name;
        }
    }
    ASSERT_GT(wanted.size(), 5u);
    EXPECT_EQ(names_of(chosen), wanted);

    // A range, a list of codes and a list of texts; a missing value never passes.
    request.filters = {
        {"airTemperature", true, {}, {}, 284.0, 288.0},
        {"stationType", false, {0.0, 1.0}, {}, {}, {}},
        {"#1#stationOrSiteName", false, {}, {"GLUECKSBURG-MEIERWIK", "SCHLESWIG-JAGEL", "Fehmarn", "Hof"}, {}, {}}};
    const ColumnTable filtered = decode_columns(bytes, packed_tables(), request).value();
    const std::vector<Cell> temperature = cells_of(*all.find("airTemperature"));
    const std::vector<Cell> type = cells_of(*all.find("stationType"));
    const std::vector<Cell> station = cells_of(*all.find("stationOrSiteName"));
    std::vector<std::size_t> kept;
    for (std::size_t r = 0; r < all.rows; ++r) {
        const auto* t = std::get_if<double>(&temperature[r]);
        const auto* s = std::get_if<std::string>(&station[r]);
        if (t && *t >= 284.0 && *t <= 288.0 && (type[r] == Cell(0.0) || type[r] == Cell(1.0)) && s &&
            (*s == "GLUECKSBURG-MEIERWIK" || *s == "SCHLESWIG-JAGEL" || *s == "Fehmarn" || *s == "Hof")) {
            kept.push_back(r);
        }
    }
    ASSERT_GE(kept.size(), 2u);
    ASSERT_EQ(filtered.rows, kept.size());
    for (const Column& column : filtered.columns) {
        const std::vector<Cell> before = cells_of(*all.find(column.info.name));
        std::vector<Cell> expected;
        for (const std::size_t r : kept) expected.push_back(before[r]);
        EXPECT_EQ(cells_of(column), expected) << column.info.name;
    }
    // Filtered columns are decoded whether selected or not.
    EXPECT_NE(filtered.find("airTemperature"), nullptr);

    request.keys = {"#0#airTemperature"};
    EXPECT_FALSE(ColumnBuilder::create(request));
}

// Data for one subset of the 65,535 that the message declares: the 400 columns take room for
// the rows that the bits can hold, not for the rows declared.
TEST(Columns, TakeRoomForTheSubsetsTheBitsHold) {
    const TableSet tables = basic_tables();
    const BufrMessage message = make_message({101000, 31002, 1001}, 65535);
    BitWriter bits;
    bits.bits(400, 16);
    for (unsigned i = 0; i < 400; ++i) bits.bits(i % 100, 7);
    const std::vector<std::uint8_t> data = bits.bytes();
    BitReader reader(data);
    detail::TableBuilder builder(std::nullopt, {});
    builder.begin_message(message.number_of_subsets, tables);
    const Status decoded = detail::decode_uncompressed_columns(message, tables, {}, reader, builder);
    ASSERT_FALSE(decoded);
    EXPECT_NE(decoded.error().text().find("not enough bits"), std::string::npos) << decoded.error().text();
    builder.abandon_message();
    EXPECT_LE(builder.finish().arena->mapped(), std::size_t{4} << 20);
}

// 65,536 rows of 65,535 occurrences pass the cell bound: the table stops instead of growing.
TEST(Columns, StopBeforeTheTablePassesItsCellBound) {
    const TableSet tables = basic_tables();
    detail::TableBuilder builder(std::nullopt, {});
    {
        const BufrMessage wide = make_message({101000, 31002, 1001});
        BitWriter bits;
        bits.bits(65535, 16);
        for (unsigned i = 0; i < 65535; ++i) bits.bits(i % 100, 7);
        const std::vector<std::uint8_t> data = bits.bytes();
        BitReader reader(data);
        builder.begin_message(1, tables);
        ASSERT_TRUE(detail::decode_uncompressed_columns(wide, tables, {}, reader, builder));
        ASSERT_TRUE(builder.end_message(0));
    }
    const BufrMessage tall = make_message({1001}, 65535, true);
    const std::vector<std::uint8_t> data = BitWriter().bits(3, 7).bits(0, 6).bytes();
    BitReader reader(data);
    builder.begin_message(tall.number_of_subsets, tables);
    ASSERT_TRUE(detail::decode_compressed_columns(tall, tables, {}, reader, builder));
    const Status ended = builder.end_message(1);
    ASSERT_FALSE(ended);
    EXPECT_EQ(ended.error().text(), "the columns would hold more than 4294967296 cells");
}

}  // namespace
}  // namespace corvane
