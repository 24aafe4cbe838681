#include "tables/eccodes_loader.hpp"

#include <gtest/gtest.h>

#include "tables/table_test_support.hpp"

namespace corvane {
namespace {

using testing::error_text;
using testing::TempDir;

constexpr std::string_view kHeader =
    "#code|abbreviation|type|name|unit|scale|reference|width|crex_unit|crex_scale|crex_width\n";

Result<ElementMap> load_elements(const TempDir& dir, std::string_view content) {
    ElementMap elements;
    if (Status s = load_eccodes_element_table(elements, dir.write("element.table", content)); !s) {
        return std::move(s).error();
    }
    return elements;
}

Result<SequenceMap> load_sequences(const TempDir& dir, std::string_view content) {
    SequenceMap sequences;
    if (Status s = load_eccodes_sequence_def(sequences, dir.write("sequence.def", content)); !s) {
        return std::move(s).error();
    }
    return sequences;
}

TEST(EccodesElementTableTest, ReadsColumnsAfterCommentsAndBlankLines) {
    TempDir dir;
    Result<ElementMap> elements = load_elements(
        dir, std::string(kHeader) +
                 "\n001001|blockNumber|long|WMO BLOCK NUMBER|Numeric|0|0|7|Numeric|0|2\n"
                 " \"012101\" |airTemperature|double|T|K|2|-1|16|C|2|4\r\n"
                 "001001|again|long|SECOND|Numeric|-1|+5|8|x|0|2\n");
    ASSERT_TRUE(elements.ok()) << error_text(elements);
    ASSERT_EQ(elements->size(), 2u);
    const ElementDefinition& t = elements->at(12101);
    EXPECT_EQ(t.code, 12101u);
    EXPECT_EQ(t.abbreviation, "airTemperature");
    EXPECT_EQ(t.element_type, "double");
    EXPECT_EQ(t.unit, "K");
    EXPECT_EQ(t.scale, 2);
    EXPECT_EQ(t.reference, -1);
    EXPECT_EQ(t.width, 16);
    // The later record of a code wins.
    EXPECT_EQ(elements->at(1001).name, "SECOND");
    EXPECT_EQ(elements->at(1001).scale, -1);
    EXPECT_EQ(elements->at(1001).reference, 5);
}

TEST(EccodesElementTableTest, ShortRecordsAreSkipped) {
    TempDir dir;
    Result<ElementMap> elements = load_elements(dir, "001001|a|b|c|d|0|0\n001002|a|b|c|d|0|0\n");
    ASSERT_TRUE(elements.ok()) << error_text(elements);
    EXPECT_TRUE(elements->empty());
}

TEST(EccodesElementTableTest, Failures) {
    TempDir dir;
    const std::string row = "001001|a|long|N|U|0|0|7|x|0|2\n";
    EXPECT_EQ(error_text(load_elements(dir, row + "   \n" + row)),
              "table file error: CSV error: record 1 (line: 2, byte: 30): found record with 1 fields, but the "
              "previous record has 11 fields");
    EXPECT_EQ(error_text(load_elements(dir, row + "001002|a|long|N\xE9|U|0|0|7|x|0|2\n")),
              "table file error: CSV parse error: record 1 (line 2, field: 3, byte: 30): invalid utf-8: invalid "
              "UTF-8 in field 3 near byte index 1");
    EXPECT_EQ(error_text(load_elements(dir, "0010x1|a|long|N|U|0|0|7\n")),
              "table file error: bad descriptor code \"0010x1\": invalid digit found in string");
    EXPECT_EQ(error_text(load_elements(dir, "001001|a|long|N|U|1 |0|7\n")),
              "table file error: bad i32 \"1 \": invalid digit found in string");
    EXPECT_EQ(error_text(load_elements(dir, "001001|a|long|N|U|1|99999999999999999999|7\n")),
              "table file error: bad i64 \"99999999999999999999\": number too large to fit in target type");
    EXPECT_EQ(error_text(load_elements(dir, "001001|a|long|N|U|1|0|-7\n")),
              "table file error: bad u16 \"-7\": invalid digit found in string");
    // Conversions run in column order: the code before the scale.
    EXPECT_EQ(error_text(load_elements(dir, "x|a|long|N|U|y|0|7\n")),
              "table file error: bad descriptor code \"x\": invalid digit found in string");
    ElementMap elements;
    EXPECT_EQ(error_text(load_eccodes_element_table(elements, dir / "missing.table")),
              "table file error: No such file or directory (os error 2)");
}

TEST(EccodesSequenceDefTest, StatementsAcrossLines) {
    TempDir dir;
    Result<SequenceMap> sequences = load_sequences(dir,
                                                   "# comment\n"
                                                   "\"301001\" = [  001001,\n"
                                                   "   # inside\n"
                                                   "\r\n"
                                                   "  001002 ,\n"
                                                   "  ]  trailing text\n"
                                                   "no equals sign ]\n"
                                                   "\"301002\" = [ ]\n"
                                                   " 301003 = [ 1, 1, ] \"301004\" = [ 2 ]\n"
                                                   "\"301005\" = [ 5,\n");
    ASSERT_TRUE(sequences.ok()) << error_text(sequences);
    ASSERT_EQ(sequences->size(), 3u);
    EXPECT_EQ(sequences->at(301001).members, (std::vector<std::uint32_t>{1001, 1002}));
    EXPECT_EQ(sequences->at(301001).code, 301001u);
    EXPECT_TRUE(sequences->at(301002).members.empty());
    EXPECT_EQ(sequences->at(301003).members, (std::vector<std::uint32_t>{1, 1}));
}

TEST(EccodesSequenceDefTest, LaterStatementReplacesEarlier) {
    TempDir dir;
    Result<SequenceMap> sequences = load_sequences(dir, "\"301001\" = [ 1, 2 ]\n\"301001\" = [ 3 ]\n");
    ASSERT_TRUE(sequences.ok()) << error_text(sequences);
    EXPECT_EQ(sequences->at(301001).members, (std::vector<std::uint32_t>{3}));
}

TEST(EccodesSequenceDefTest, Failures) {
    TempDir dir;
    EXPECT_EQ(error_text(load_sequences(dir, "\"30x001\" = [ 1 ]\n")),
              "table file error: bad descriptor code \"30x001\": invalid digit found in string");
    EXPECT_EQ(error_text(load_sequences(dir, "\"301001\" = [ 1, 2x ]\n")),
              "table file error: bad descriptor code \"2x\": invalid digit found in string");
    EXPECT_EQ(error_text(load_sequences(dir, "\"301001\" = 1, 2 ]\n")), "table file error: \"301001\" = 1, 2 ]");
    EXPECT_EQ(error_text(load_sequences(dir, "\"301001\" =\n ] 1 [\n")),
              "table file error: sequence statement closes \"]\" before \"[\": \"\\\"301001\\\" = ] 1 [\"");
    EXPECT_EQ(error_text(load_sequences(dir, "\"301001\" = [ 1 ]\n\"30100\xFF\" = [ 1 ]\n")),
              "io error: stream did not contain valid UTF-8");
    SequenceMap sequences;
    EXPECT_EQ(error_text(load_eccodes_sequence_def(sequences, dir / "missing.def")),
              "io error: No such file or directory (os error 2)");
}

TEST(EccodesCodeTablesTest, ReadsEntriesAndLaterFileWins) {
    TempDir dir;
    dir.write("codetables/001001.table", "0 0 FROM PADDED\n1 1 ALSO PADDED\n");
    dir.write("codetables/1001.table", "# note\n007 7   SEVERAL   BLANKS\tAND TAB\n8 8\n+9 9 PLUS\n7 7 REPLACED\n");
    dir.write("codetables/20003.table", "0 0 \xC2\xA0 NBSP\xC2\xA0SPLITS\r\n");
    dir.write("codetables/readme.txt", "not a table\n");
    CodeTableMap tables;
    ASSERT_TRUE(load_eccodes_code_tables(tables, dir / "codetables").ok());
    ASSERT_EQ(tables.size(), 2u);
    const CodeTable& t = tables.at(1001);
    EXPECT_EQ(t.size(), 2u);  // the short line is skipped, and 0 and 1 came from the replaced file
    EXPECT_EQ(t.at(7), "REPLACED");
    EXPECT_EQ(t.at(9), "PLUS");
    EXPECT_EQ(tables.at(20003).at(0), "NBSP SPLITS");
}

TEST(EccodesCodeTablesTest, MeaningTokensJoinWithOneBlank) {
    TempDir dir;
    dir.write("codetables/2.table", "3 3   A  B\t\tC  \n");
    CodeTableMap tables;
    ASSERT_TRUE(load_eccodes_code_tables(tables, dir / "codetables").ok());
    EXPECT_EQ(tables.at(2).at(3), "A B C");
}

TEST(EccodesCodeTablesTest, Failures) {
    TempDir dir;
    dir.write("bad_key/1.table", "x1 1 MEANING\n");
    dir.write("bad_name/abc.table", "1 1 MEANING\n");
    dir.write("bad_utf8/1.table", "1 1 M\xFF\n");
    dir.write("huge_key/1.table", "18446744073709551616 1 M\n");
    dir.write("not_a_dir", "");
    const auto fails = [&](const char* sub) {
        CodeTableMap tables;
        return error_text(load_eccodes_code_tables(tables, dir / sub));
    };
    EXPECT_EQ(fails("bad_key"), "table file error: bad code table key \"x1\": invalid digit found in string");
    EXPECT_EQ(fails("bad_name"), "table file error: bad descriptor code \"abc\": invalid digit found in string");
    EXPECT_EQ(fails("bad_utf8"), "io error: stream did not contain valid UTF-8");
    EXPECT_EQ(fails("huge_key"),
              "table file error: bad code table key \"18446744073709551616\": number too large to fit in target type");
    EXPECT_EQ(fails("not_a_dir"), "io error: Not a directory (os error 20)");
    EXPECT_EQ(fails("absent"), "io error: No such file or directory (os error 2)");
}

TEST(EccodesDirTest, CodeTablesAreOptionalTheOthersAreNot) {
    TempDir dir;
    dir.write("element.table", "001001|a|long|N|U|0|0|7\n");
    dir.write("sequence.def", "\"301001\" = [ 001001 ]\n");
    Result<TableSet> tables = from_eccodes_dir(dir.path());
    ASSERT_TRUE(tables.ok()) << error_text(tables);
    EXPECT_EQ(tables->elements.size(), 1u);
    EXPECT_EQ(tables->sequences.size(), 1u);
    EXPECT_TRUE(tables->code_tables.empty());

    dir.write("codetables", "a file, not a directory");
    EXPECT_EQ(error_text(from_eccodes_dir(dir.path())), "io error: Not a directory (os error 20)");

    std::filesystem::remove(dir / "sequence.def");
    EXPECT_EQ(error_text(from_eccodes_dir(dir.path())), "io error: No such file or directory (os error 2)");
    std::filesystem::remove(dir / "element.table");
    EXPECT_EQ(error_text(from_eccodes_dir(dir.path())), "table file error: No such file or directory (os error 2)");
}

TEST(MatchingFilesTest, FiltersAndSortsByNameBytes) {
    TempDir dir;
    for (const char* name : {"b_x.csv", "a_2.csv", "a_10.csv", "a_1.CSV", "a_\xC3\xA9.csv", "x_1.csv"}) {
        dir.write(name, "");
    }
    dir.mkdir("a_dir.csv");
    Result<std::vector<std::filesystem::path>> files = matching_files(dir.path(), "a_", ".csv");
    ASSERT_TRUE(files.ok()) << error_text(files);
    std::vector<std::string> names;
    for (const auto& file : *files) {
        EXPECT_EQ(file.parent_path(), dir.path());
        names.push_back(file.filename().string());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"a_10.csv", "a_2.csv", "a_dir.csv", "a_\xC3\xA9.csv"}));
    EXPECT_EQ(error_text(matching_files(dir / "b_x.csv", "", "")), "io error: Not a directory (os error 20)");
}

TEST(ResolveTableDirTest, FollowsAliasFiles) {
    TempDir dir;
    dir.mkdir("13");
    dir.write("12", "13\n");
    dir.write("11", "  12  ");
    EXPECT_EQ(*resolve_eccodes_table_dir(dir / "13"), dir / "13");
    EXPECT_EQ(*resolve_eccodes_table_dir(dir / "12"), dir / "13");
    EXPECT_EQ(*resolve_eccodes_table_dir(dir / "11"), dir / "13");
}

TEST(ResolveTableDirTest, Failures) {
    TempDir dir;
    dir.write("slash", "../13\n");
    dir.write("backslash", "a\\b");
    dir.write("empty", " \n");
    dir.write("loop_a", "loop_b");
    dir.write("loop_b", "loop_a");
    dir.write("dangling", "nothing_here");
    const std::string base = dir.path().string();
    EXPECT_EQ(error_text(resolve_eccodes_table_dir(dir / "slash")),
              "table file error: invalid ecCodes table alias " + base + "/slash -> \"../13\"");
    EXPECT_EQ(error_text(resolve_eccodes_table_dir(dir / "backslash")),
              "table file error: invalid ecCodes table alias " + base + "/backslash -> \"a\\\\b\"");
    EXPECT_EQ(error_text(resolve_eccodes_table_dir(dir / "empty")),
              "table file error: invalid ecCodes table alias " + base + "/empty -> \"\"");
    EXPECT_EQ(error_text(resolve_eccodes_table_dir(dir / "absent")),
              "table file error: ecCodes table directory does not exist: " + base + "/absent");
    EXPECT_EQ(error_text(resolve_eccodes_table_dir(dir / "dangling")),
              "table file error: ecCodes table directory does not exist: " + base + "/nothing_here");
    EXPECT_EQ(error_text(resolve_eccodes_table_dir(dir / "loop_a")),
              "table file error: ecCodes table alias chain from " + base +
                  "/loop_a does not reach a directory within 32 aliases");
    EXPECT_EQ(error_text(resolve_eccodes_table_dir(dir / "bad\xFFname")),
              "table file error: ecCodes table directory does not exist: " + base + "/bad\xEF\xBF\xBDname");
}

TEST(EccodesRealTablesTest, Version39) {
    Result<TableSet> tables = from_eccodes_dir(testing::test_data() / "tables" / "eccodes" / "39");
    ASSERT_TRUE(tables.ok()) << error_text(tables);
    EXPECT_EQ(tables->elements.size(), 1746u);
    EXPECT_EQ(tables->sequences.size(), 613u);
    EXPECT_EQ(tables->code_tables.size(), 494u);
    const ElementDefinition* t = tables->find_element(12101);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->abbreviation, "airTemperature");
    EXPECT_EQ(t->name, "TEMPERATURE/AIR TEMPERATURE");
    EXPECT_EQ(t->unit, "K");
    EXPECT_EQ(t->scale, 2);
    EXPECT_EQ(t->reference, 0);
    EXPECT_EQ(t->width, 16);
    EXPECT_TRUE(tables->find_element(1015)->is_text());
    ASSERT_NE(tables->find_sequence(301011), nullptr);
    EXPECT_EQ(tables->find_sequence(301011)->members, (std::vector<std::uint32_t>{4001, 4002, 4003}));
    ASSERT_NE(tables->code_meaning(20003, 2), nullptr);
    EXPECT_EQ(*tables->code_meaning(20003, 2), "STATE OF SKY ON THE WHOLE UNCHANGED");
    EXPECT_EQ(*tables->code_meaning(1003, 1), "REGION I");
    EXPECT_EQ(tables->code_meaning(1003, 99), nullptr);
}

TEST(EccodesRealTablesTest, AliasedVersionResolvesToItsTarget) {
    Result<std::filesystem::path> dir = resolve_eccodes_table_dir(testing::master_dir(12));
    ASSERT_TRUE(dir.ok()) << error_text(dir);
    EXPECT_EQ(*dir, testing::master_dir(13));
}

}  // namespace
}  // namespace corvane
