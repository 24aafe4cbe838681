#include <gtest/gtest.h>

#include "tables/table_set.hpp"

namespace corvane {
namespace {

TEST(ElementKind, CodeAndFlagTablesInEverySpellingTheTablesUse) {
    for (const char* unit :
         {"CODE TABLE", "FLAG TABLE", "Code table", "Flag table", "Code Table", " Code table", "Common CODE TABLE C-1",
          "Common Code table C-11", "CODE TABLE defined by originating/generating centre"}) {
        EXPECT_EQ(element_kind(unit), ElementKind::CodeOrFlag) << unit;
    }
    EXPECT_EQ(element_kind("CCITT IA5"), ElementKind::Text);
    for (const char* unit : {"Numeric", "K", "ccitt ia5", "Code", "table", ""}) {
        EXPECT_EQ(element_kind(unit), ElementKind::Numeric) << unit;
    }

    // Both ways into a table set classify the element.
    auto parsed = parse_element({"020011", "", "", "CLOUD", "Flag table", "0", "0", "4"});
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(parsed->is_code_or_flag());
    TableSet tables;
    ElementDefinition text;
    text.code = 1015;
    text.unit = "CCITT IA5";
    tables.store_element(text);
    EXPECT_TRUE(tables.find_element(1015)->is_text());
}

}  // namespace
}  // namespace corvane
