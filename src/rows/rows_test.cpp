#include "rows/rows.hpp"

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "data/decode_test_support.hpp"

namespace corvane {
namespace {

using testing::add_element;
using testing::basic_tables;
using testing::BitWriter;
using testing::make_message;

// 001001 (a coordinate of class 01), then a profile of levels of pressure 007004 (a coordinate)
// with temperature 012001, then levels of 007004 with wind 011002: a TEMP's temperature levels
// and wind levels. The test tables have no key names, so codes are the keys.
TableSet profile_tables() {
    TableSet tables = basic_tables();
    add_element(tables, 7004, "P", 0, 0, 10, "Pa");
    add_element(tables, 11002, "W", 0, 0, 8, "m/s");
    return tables;
}
const std::vector<std::uint32_t> kProfile = {1001, 102000, 31001, 7004, 12001, 102000, 31001, 7004, 11002};

std::vector<std::uint8_t> profile_data(std::uint64_t station) {
    BitWriter bits;
    bits.bits(station, 7).bits(2, 8);
    bits.bits(850, 10).bits(1100, 12).bits(500, 10).ones(12);  // T of 10.0 K, then missing
    bits.bits(1, 8).bits(700, 10).bits(12, 8);
    return bits.bytes();
}

// Each row as "column=value" pairs, "-" for missing.
std::vector<std::string> rows_of(const ColumnTable& table) {
    std::vector<std::string> rows(table.rows);
    for (const Column& column : table.columns) {
        for (std::size_t r = 0; r < table.rows; ++r) {
            char cell[32] = "-";
            if (!column.is_missing(r)) {
                const double number = column.info.type == ColumnType::Int64 ? static_cast<double>(column.integers()[r])
                                                                            : column.floats()[r];
                std::snprintf(cell, sizeof cell, "%g", number);
            }
            rows[r] += (rows[r].empty() ? "" : " ") + column.info.name + "=" + cell;
        }
    }
    return rows;
}

ColumnTable profile_rows(RowRequest request, std::vector<std::uint64_t> stations) {
    const TableSet tables = profile_tables();
    RowBuilder builder = RowBuilder::create(request).value();
    for (std::size_t m = 0; m < stations.size(); ++m) {
        const std::vector<std::uint8_t> data = profile_data(stations[m]);
        EXPECT_TRUE(builder.add_parsed(m, make_message(kProfile), data, tables));
    }
    return std::move(builder).finish();
}

TEST(Rows, AreTheLevelsOfAProfileWithTheKeysAboveThemAndNoValueOfAnotherLevel) {
    RowRequest request;
    request.columns = {{"001001"}, {"007004"}, {"012001"}, {"011002", false}};
    EXPECT_EQ(rows_of(profile_rows(request, {5})),
              (std::vector<std::string>{"message=0 subset=1 001001=5 007004=850 012001=100 011002=-",
                                        "message=0 subset=1 001001=5 007004=500 012001=- 011002=-"}));
    request.columns = {{"001001"}, {"007004"}, {"012001", false}, {"011002", false}};
    EXPECT_EQ(rows_of(profile_rows(request, {5})).back(), "message=0 subset=1 001001=5 007004=700 012001=- 011002=12");
}

// A cloud group: significance 008002 (a coordinate), amount 020011, then a type 020012 per
// layer of the group; then one layer alone.
TEST(Rows, AKeyAgainKeepsTheKeysThatCameBeforeItsLastOccurrence) {
    TableSet tables = profile_tables();
    add_element(tables, 8002, "V", 0, 0, 6, "CODE TABLE");
    add_element(tables, 20012, "C", 0, 0, 6, "CODE TABLE");
    BitWriter bits;
    bits.bits(7, 6).bits(5, 4).bits(38, 6).bits(23, 6);
    bits.bits(1, 6).bits(2, 4).bits(8, 6);
    RowRequest request;
    request.columns = {{"020011"}, {"020012"}};
    RowBuilder builder = RowBuilder::create(request).value();
    ASSERT_TRUE(
        builder.add_parsed(0, make_message({8002, 20011, 20012, 20012, 8002, 20011, 20012}), bits.bytes(), tables));
    EXPECT_EQ(rows_of(std::move(builder).finish()), (std::vector<std::string>{"message=0 subset=1 020011=5 020012=38",
                                                                              "message=0 subset=1 020011=5 020012=23",
                                                                              "message=0 subset=1 020011=2 020012=8"}));
}

// Two temperatures, the first with an associated field; then quality information for both.
TEST(Rows, CarryTheAttributesOfTheirElements) {
    TableSet tables = profile_tables();
    add_element(tables, 33007, "Q", 0, 0, 7, "%");
    BitWriter bits;
    bits.bits(4, 6).bits(2, 2).bits(1100, 12).bits(1200, 12);
    bits.bits(0, 1).bits(0, 1).bits(70, 7).bits(90, 7);
    RowRequest request;
    request.columns = {{"012001"}, {"012001->033007"}, {"012001->associatedField", false}};
    RowBuilder builder = RowBuilder::create(request).value();
    ASSERT_TRUE(
        builder.add_parsed(0, make_message({31021, 204002, 12001, 204000, 12001, 222000, 101002, 31031, 33007, 33007}),
                           bits.bytes(), tables));
    EXPECT_EQ(rows_of(std::move(builder).finish()),
              (std::vector<std::string>{"message=0 subset=1 012001=100 012001->033007=70 012001->associatedField=2",
                                        "message=0 subset=1 012001=110 012001->033007=90 012001->associatedField=-"}));
}

TEST(Rows, FiltersPassOverTheLevelsBelowAFailureAndNeedTheirKey) {
    RowRequest request;
    request.columns = {{"001001"}, {"007004"}, {"011002", false}};
    request.filters = {{"007004", true, {}, {}, 600.0, std::nullopt}};
    EXPECT_EQ(
        rows_of(profile_rows(request, {5, 6})),
        (std::vector<std::string>{
            "message=0 subset=1 001001=5 007004=850 011002=-", "message=0 subset=1 001001=5 007004=700 011002=12",
            "message=1 subset=1 001001=6 007004=850 011002=-", "message=1 subset=1 001001=6 007004=700 011002=12"}));
    // A station that fails leaves out its levels; a filtered key that no row holds, every row.
    request.filters = {{"001001", false, {6.0}, {}, {}, {}}};
    EXPECT_EQ(profile_rows(request, {5, 6, 5}).rows, 3u);
    request.filters = {{"012001", true, {}, {}, std::nullopt, 0.0}};
    EXPECT_EQ(profile_rows(request, {5}).rows, 0u);
}

TEST(Rows, OfACompressedMessageAreThoseOfEachSubset) {
    const TableSet tables = profile_tables();
    BitWriter bits;
    // 001001: minimum 5, increments 0 and 1 of two bits; 007004: 850 for both; 012001: missing.
    bits.bits(5, 7).bits(2, 6).bits(0, 2).bits(1, 2);
    bits.bits(850, 10).bits(0, 6);
    bits.ones(12).bits(0, 6);
    RowRequest request;
    request.columns = {{"001001"}, {"007004"}, {"012001"}};
    request.filters = {{"001001", false, {6.0}, {}, {}, {}}};
    RowBuilder builder = RowBuilder::create(request).value();
    const Status added = builder.add_parsed(0, make_message({1001, 7004, 12001}, 2, true), bits.bytes(), tables);
    ASSERT_TRUE(added) << added.error().render();
    EXPECT_EQ(rows_of(std::move(builder).finish()),
              (std::vector<std::string>{"message=0 subset=2 001001=6 007004=850 012001=-"}));
}

}  // namespace
}  // namespace corvane
