#include "encode/value_layout.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/decode_test_support.hpp"

namespace corvane::testing {
namespace {

// "#rank#key code" per value, a factor marked with "*".
std::string shown(const Result<std::vector<LaidValue>>& laid) {
    if (!laid) return laid.error().text();
    std::string out;
    for (const LaidValue& value : *laid) {
        out += (out.empty() ? "#" : ", #") + std::to_string(value.rank) + "#" + value.key + " " +
               std::to_string(value.code) + (value.factor ? "*" : "");
    }
    return out;
}

TEST(ValueLayout, FactorsTakeTheCountsInTurnAndThenNone) {
    TableSet tables = basic_tables();
    ElementDefinition station = *tables.find_element(1001);
    station.abbreviation = "blockNumber";
    tables.store_element(station);
    // An associated field before 001002, then two repetitions of 001002 and a delayed
    // replication of names within.
    const std::vector<std::uint32_t> descriptors = {1001,  204003, 1002,   204000, 104000,
                                                    31001, 1002,   101000, 31001,  1015};
    const std::vector<std::uint64_t> counts = {2, 1};
    EXPECT_EQ(shown(value_layout(tables, descriptors, counts)),
              "#1#blockNumber 1001, #1#associatedField 999999, #1#001002 1002, #1#031001 31001*, #2#001002 1002, "
              "#2#031001 31001*, #1#001015 1015, #3#001002 1002, #3#031001 31001*");
    EXPECT_EQ(shown(value_layout(tables, descriptors, {})),
              "#1#blockNumber 1001, #1#associatedField 999999, #1#001002 1002, #1#031001 31001*");
    const std::vector<std::uint64_t> too_many = {300};
    EXPECT_EQ(shown(value_layout(tables, descriptors, too_many, 4)),
              "the value 300.0 of 031001 of subset 5 does not fit its 8-bit field: it takes 0.0 to 255.0 in steps of "
              "1.0");
    EXPECT_EQ(shown(value_layout(tables, std::vector<std::uint32_t>{1001, 1256}, {})),
              "descriptor 1256 is no FXXYYY code: F is 0 to 3, XX 0 to 63, YYY 0 to 255");
}

}  // namespace
}  // namespace corvane::testing
