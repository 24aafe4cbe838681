#include "tables/extra_tables.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "tables/table_test_support.hpp"

namespace corvane {
namespace {

using testing::error_text;
using testing::TempDir;

constexpr std::string_view kElementHeader =
    "#code|abbreviation|type|name|unit|scale|reference|width|crex_unit|crex_scale|crex_width\n";

TEST(ExtraTablesTest, EarlierDirectoriesComeFirstAndEveryFileIsOptional) {
    TempDir dir;
    dir.write("first/element.table",
              std::string(kElementHeader) +
                  "001194|reportMnemonic|string|REPORT MNEMONIC|CCITT IA5|0|0|128|Character|0|16\n");
    dir.write("second/element.table", std::string(kElementHeader) +
                                          "001194|other|long|OTHER|Numeric|0|0|8|Numeric|0|3\n"
                                          "007192|firstLevelType|long|LEVEL TYPE|CODE TABLE|0|0|10|Code table|0|4\n");
    dir.write("second/codetables/7192.table", "257 257 Station information\n");
    dir.write("third/sequence.def", "\"307192\" = [ 001194, 007192 ]\n");
    dir.write("wmo/BUFR_TableD_en_07.csv",
              "Category,Name,FXY1,Title,SubTitle,FXY2,ElementName,Note\n07,x,307192,t,s,001194,e,\n");
    const std::vector<TableDirectory> directories{{TableLayout::Eccodes, dir / "first"},
                                                  {TableLayout::Eccodes, dir / "second"},
                                                  {TableLayout::Eccodes, dir / "third"},
                                                  {TableLayout::Bufr4, dir / "wmo"}};
    Result<TableSet> tables = load_extra_tables(directories);
    ASSERT_TRUE(tables.ok()) << error_text(tables);
    EXPECT_EQ(tables->find_element(1194)->abbreviation, "reportMnemonic");
    EXPECT_EQ(tables->find_element(7192)->width, 10);
    EXPECT_EQ(*tables->code_meaning(7192, 257), "Station information");
    EXPECT_EQ(tables->find_sequence(307192)->members, (std::vector<std::uint32_t>{1194, 7192}));

    dir.write("third/element.table", "001x94|bad|long|BAD|Numeric|0|0|8|Numeric|0|3\n");
    EXPECT_EQ(error_text(load_extra_tables(directories)),
              "table file error: " + (dir / "third").string() +
                  ": bad descriptor code \"001x94\": invalid digit found in string");
}

}  // namespace
}  // namespace corvane
