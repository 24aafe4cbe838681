#include "tables/bufr4_loader.hpp"

#include <gtest/gtest.h>

#include "tables/table_test_support.hpp"

namespace corvane {
namespace {

using testing::error_text;
using testing::TempDir;

constexpr std::string_view kHeaderB =
    "ClassNo,ClassName_en,FXY,ElementName_en,BUFR_Unit,BUFR_Scale,BUFR_ReferenceValue,BUFR_DataWidth_Bits,Note\n";
constexpr std::string_view kHeaderD = "Category,Name,FXY1,Title,SubTitle,FXY2,ElementName,Note\n";

std::string table_b(std::string_view rows) { return std::string(kHeaderB) + std::string(rows); }
std::string table_d(std::string_view rows) { return std::string(kHeaderD) + std::string(rows); }

TEST(Bufr4LoaderTest, TableBRowsAndElementTypes) {
    TempDir dir;
    dir.write("BUFRCREX_TableB_en_01.csv",
              table_b("01,Id,001001,Block number,Numeric,0,0,7,\n"
                      "01,Id,001003,Region,Code table,0,0,3,\"note, with comma\n and a line break\"\n"
                      "\n"
                      "02,X,002002,Wind type,Flag table,0,0,4,\n"
                      "01,Id,001015,Station name,CCITT IA5,0,0,160,\n"
                      "01,Id,001016,Odd unit, Code table,0,0,8,\n"
                      "01,Id,001017,No unit,,1,-5,8,"));
    dir.write("BUFRCREX_TableB_en_02.csv", table_b("01,Id,001001,Block number again,Numeric,1,+2,7,\n"));
    dir.write("BUFRCREX_CodeFlag_en_01.csv", "ignored entirely");
    dir.write("bufrcrex_TableB_en_03.csv", "ignored: the prefix is case-sensitive");
    Result<TableSet> tables = from_bufr4_45(dir.path());
    ASSERT_TRUE(tables.ok()) << error_text(tables);
    EXPECT_EQ(tables->elements.size(), 6u);
    EXPECT_TRUE(tables->sequences.empty());
    EXPECT_TRUE(tables->code_tables.empty());
    const auto type_of = [&](std::uint32_t code) { return tables->find_element(code)->element_type; };
    EXPECT_EQ(type_of(1003), "code");
    EXPECT_EQ(type_of(2002), "flags");
    EXPECT_EQ(type_of(1015), "string");
    EXPECT_EQ(type_of(1016), "long");
    EXPECT_EQ(type_of(1017), "long");
    EXPECT_EQ(tables->find_element(1016)->unit, " Code table");
    const ElementDefinition* block = tables->find_element(1001);
    EXPECT_EQ(block->name, "Block number again");
    EXPECT_EQ(block->abbreviation, "");
    EXPECT_EQ(block->scale, 1);
    EXPECT_EQ(block->reference, 2);
    EXPECT_EQ(block->width, 7);
    EXPECT_EQ(tables->find_element(1017)->reference, -5);
}

TEST(Bufr4LoaderTest, TableDGroupsRowsPerFile) {
    TempDir dir;
    dir.write("BUFR_TableD_en_01.csv", table_d("01,L,301001,T,,001001,a,\n"
                                               "01,L,301002,T,,001003,a,\n"
                                               "01,L,301001,T,,001002,a,\n"
                                               "01,L,301001,T,,001001,a,\n"
                                               "01,L,301009,T,,001009,a,\n"));
    dir.write("BUFR_TableD_en_02.csv", table_d("01,L,301009,T,,002002,a,\n"));
    Result<TableSet> tables = from_bufr4_45(dir.path());
    ASSERT_TRUE(tables.ok()) << error_text(tables);
    EXPECT_EQ(tables->sequences.size(), 3u);
    EXPECT_EQ(tables->find_sequence(301001)->members, (std::vector<std::uint32_t>{1001, 1002, 1001}));
    EXPECT_EQ(tables->find_sequence(301002)->members, (std::vector<std::uint32_t>{1003}));
    EXPECT_EQ(tables->find_sequence(301009)->members, (std::vector<std::uint32_t>{2002}));
}

TEST(Bufr4LoaderTest, ShortHeadersAndEmptyFilesContributeNothing) {
    TempDir dir;
    dir.write("BUFRCREX_TableB_en_01.csv", "a,b,c,d,e,f,g\n1,2,001001,4,5,6,7\n");
    dir.write("BUFRCREX_TableB_en_02.csv", std::string(kHeaderB));
    dir.write("BUFRCREX_TableB_en_03.csv", "");
    dir.write("BUFR_TableD_en_01.csv", "a,b,c,d,e\n1,2,301001,4,5\n");
    Result<TableSet> tables = from_bufr4_45(dir.path());
    ASSERT_TRUE(tables.ok()) << error_text(tables);
    EXPECT_TRUE(tables->elements.empty());
    EXPECT_TRUE(tables->sequences.empty());
}

TEST(Bufr4LoaderTest, Failures) {
    const auto fails = [](std::string_view name, const std::string& content) {
        TempDir dir;
        dir.write(std::string(name), content);
        return error_text(from_bufr4_45(dir.path()));
    };
    const std::string b = "BUFRCREX_TableB_en_01.csv";
    EXPECT_EQ(fails(b, table_b("01,Id,001001,N,U,0,0,7,\n01,Id,001002\n")),
              "table file error: CSV error: record 2 (line: 3, byte: 130): found record with 3 fields, but the "
              "previous record has 9 fields");
    EXPECT_EQ(fails(b, table_b("01,Id,001001,N\xFF,U,0,0,7,\n")),
              "table file error: CSV parse error: record 0 (line 1, field: 3, byte: 0): invalid utf-8: invalid "
              "UTF-8 in field 3 near byte index 1");
    EXPECT_EQ(fails(b, table_b("01,Id,001001,N,U,0,0,7,\n01,Id,001002,N,U\xC3,0,0,7,\n")),
              "table file error: CSV parse error: record 2 (line 3, field: 4, byte: 130): invalid utf-8: invalid "
              "UTF-8 in field 4 near byte index 1");
    EXPECT_EQ(fails(b, table_b("01,Id,0010.1,N,U,0,0,7,\n")),
              "table file error: bad descriptor code \"0010.1\": invalid digit found in string");
    EXPECT_EQ(fails(b, table_b("01,Id,001001,N,U,0,0, 7,\n")),
              "table file error: bad u16 \" 7\": invalid digit found in string");
    EXPECT_EQ(fails(b, table_b("01,Id,001001,N,U,2147483648,0,7,\n")),
              "table file error: bad i32 \"2147483648\": number too large to fit in target type");
    EXPECT_EQ(fails("BUFR_TableD_en_01.csv", table_d("01,L,301001,T,,\"\",a,\n")),
              "table file error: bad descriptor code \"\": cannot parse integer from empty string");

    TempDir dir;
    const std::string file = dir.write("plain", "").string();
    EXPECT_EQ(error_text(from_bufr4_45(file)), "io error: Not a directory (os error 20)");
    dir.mkdir("BUFR_TableD_en_dir.csv");
    EXPECT_EQ(error_text(from_bufr4_45(dir.path())), "table file error: Is a directory (os error 21)");
}

TEST(Bufr4RealTablesTest, WmoRelease45) {
    Result<TableSet> tables = from_bufr4_45(testing::test_data() / "tables" / "wmo-bufr4");
    ASSERT_TRUE(tables.ok()) << error_text(tables);
    EXPECT_EQ(tables->elements.size(), 1855u);
    EXPECT_EQ(tables->sequences.size(), 660u);
    const ElementDefinition* t = tables->find_element(12101);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->name, "Temperature/air temperature");
    EXPECT_EQ(t->unit, "K");
    EXPECT_EQ(t->element_type, "long");
    EXPECT_EQ(t->scale, 2);
    EXPECT_EQ(t->width, 16);
    EXPECT_EQ(tables->find_sequence(301011)->members, (std::vector<std::uint32_t>{4001, 4002, 4003}));
    EXPECT_EQ(tables->find_sequence(307080)->members.size(), 13u);
}

}  // namespace
}  // namespace corvane

namespace corvane {
namespace {

TEST(Bufr4LoaderTest, CodeFlagFilesGiveTheEntriesWithNumberFigures) {
    TempDir dir;
    dir.write("BUFRCREX_TableB_en_01.csv", table_b("01,Id,001003,Region,Code table,0,0,3,\n"));
    const std::string header =
        "FXY,ElementName_en,CodeFigure,EntryName_en,EntryName_sub1_en,EntryName_sub2_en,Note_en,noteIDs,Status\n";
    dir.write("BUFRCREX_CodeFlag_en_01.csv", header +
                                                 "001003,Region,0,\"  Antarctica,\n south \",,,,,Operational\n"
                                                 "001003,Region,1,Region I,sub,,,,Operational\n"
                                                 "001003,Region,2-6,Reserved,,,,,Operational\n"
                                                 "001003,Region,7,,,,,,Operational\n"
                                                 "001007,Satellite,,,,,,,Operational\n"
                                                 "002002,Wind,All 4,Missing value,,,,,Operational\n"
                                                 "002002,Wind,1,Certified instruments,,,,,Operational\n");
    // A later file replaces a table whole.
    dir.write("BUFRCREX_CodeFlag_en_02.csv", header + "002002,Wind,2,In knots,,,,,Operational\n");
    Result<TableSet> tables = from_bufr4_dir(dir.path());
    ASSERT_TRUE(tables.ok()) << error_text(tables);
    EXPECT_EQ(tables->elements.size(), 1u);
    EXPECT_EQ(tables->code_tables.size(), 2u);
    EXPECT_EQ(tables->code_tables.at(1003), (CodeTable{{0, "Antarctica, south"}, {1, "Region I"}}));
    EXPECT_EQ(tables->code_tables.at(2002), (CodeTable{{2, "In knots"}}));
    dir.write("BUFRCREX_CodeFlag_en_03.csv", header + "00100x,Bad,1,Bad code,,,,,Operational\n");
    EXPECT_EQ(error_text(from_bufr4_dir(dir.path())),
              "table file error: bad descriptor code \"00100x\": invalid digit found in string");
}

}  // namespace
}  // namespace corvane
