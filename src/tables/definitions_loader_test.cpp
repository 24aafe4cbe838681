#include "tables/definitions_loader.hpp"

#include <gtest/gtest.h>

#include "tables/table_test_support.hpp"

namespace corvane {
namespace {

using testing::error_text;
using testing::TempDir;

BufrMessage message_for(std::uint8_t master_version, std::uint8_t local_version, std::uint16_t centre,
                        std::uint16_t subcentre) {
    BufrMessage message;
    message.edition = 4;
    message.master_tables_version_number = master_version;
    message.local_tables_version_number = local_version;
    message.originating_centre = centre;
    message.originating_subcentre = subcentre;
    return message;
}

// A root whose master version 30 defines 001001, the sequence 301001 and code table 1001.
class DefinitionsRootTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_.write("bufr/tables/0/wmo/30/element.table",
                    "001001|master|long|MASTER|U|0|0|7\n"
                    "001002|master2|long|MASTER2|U|0|0|10\n");
        root_.write("bufr/tables/0/wmo/30/sequence.def", "\"301001\" = [ 001001, 001002 ]\n");
        root_.write("bufr/tables/0/wmo/30/codetables/1001.table", "1 1 MASTER ONE\n2 2 MASTER TWO\n");
    }
    Result<TableSet> load(const BufrMessage& message) const { return from_eccodes_definitions(root_.path(), message); }

    TempDir root_;
};

TEST_F(DefinitionsRootTest, LocalVersionZeroIgnoresLocalTables) {
    root_.write("bufr/tables/0/local/0/98/0/element.table", "001001|local|long|LOCAL|U|0|0|7\n");
    Result<TableSet> tables = load(message_for(30, 0, 98, 0));
    ASSERT_TRUE(tables.ok()) << error_text(tables);
    EXPECT_EQ(tables->find_element(1001)->name, "MASTER");
    EXPECT_EQ(*tables->code_meaning(1001, 2), "MASTER TWO");
}

TEST_F(DefinitionsRootTest, LocalTablesReplaceMasterEntriesWhole) {
    root_.write("bufr/tables/0/local/1/98/70/element.table", "001001|local|long|LOCAL|U|0|0|7\n");
    root_.write("bufr/tables/0/local/1/98/70/codetables/1001.table", "1 1 LOCAL ONE\n");
    Result<TableSet> tables = load(message_for(30, 1, 98, 70));
    ASSERT_TRUE(tables.ok()) << error_text(tables);
    EXPECT_EQ(tables->find_element(1001)->name, "LOCAL");
    EXPECT_EQ(tables->find_element(1002)->name, "MASTER2");
    EXPECT_EQ(tables->find_sequence(301001)->members, (std::vector<std::uint32_t>{1001, 1002}));
    EXPECT_EQ(*tables->code_meaning(1001, 1), "LOCAL ONE");
    EXPECT_EQ(tables->code_meaning(1001, 2), nullptr);
}

TEST_F(DefinitionsRootTest, LocalSequenceReplacesMembers) {
    root_.write("bufr/tables/0/local/2/7/0/sequence.def", "\"301001\" = [ 001002 ]\n");
    Result<TableSet> tables = load(message_for(30, 2, 7, 0));
    ASSERT_TRUE(tables.ok()) << error_text(tables);
    EXPECT_EQ(tables->find_sequence(301001)->members, (std::vector<std::uint32_t>{1002}));
    EXPECT_EQ(tables->find_element(1001)->name, "MASTER");
}

TEST_F(DefinitionsRootTest, MasterVersion19UsesItsOwnLocalLevel) {
    root_.write("bufr/tables/0/wmo/19", "30");
    root_.write("bufr/tables/0/local/19-1/98/0/element.table", "001001|v19|long|VERSION 19 LOCAL|U|0|0|7\n");
    root_.write("bufr/tables/0/local/1/98/0/element.table", "001001|plain|long|PLAIN LOCAL|U|0|0|7\n");
    Result<TableSet> v19 = load(message_for(19, 1, 98, 0));
    ASSERT_TRUE(v19.ok()) << error_text(v19);
    EXPECT_EQ(v19->find_element(1001)->name, "VERSION 19 LOCAL");
    Result<TableSet> v30 = load(message_for(30, 1, 98, 0));
    ASSERT_TRUE(v30.ok()) << error_text(v30);
    EXPECT_EQ(v30->find_element(1001)->name, "PLAIN LOCAL");
}

TEST_F(DefinitionsRootTest, AbsentOrUnusableLocalPartsAreSkipped) {
    // A regular file at the local path exists, but nothing lies beneath it.
    root_.write("bufr/tables/0/local/3/98/0", "");
    Result<TableSet> file_at_local = load(message_for(30, 3, 98, 0));
    ASSERT_TRUE(file_at_local.ok()) << error_text(file_at_local);
    EXPECT_EQ(file_at_local->find_element(1001)->name, "MASTER");
    Result<TableSet> no_local = load(message_for(30, 4, 98, 0));
    ASSERT_TRUE(no_local.ok()) << error_text(no_local);
    EXPECT_EQ(no_local->elements.size(), 2u);
}

TEST_F(DefinitionsRootTest, Failures) {
    const std::string base = root_.path().string();
    EXPECT_EQ(error_text(load(message_for(31, 0, 98, 0))),
              "table file error: ecCodes table directory does not exist: " + base + "/bufr/tables/0/wmo/31");
    root_.write("bufr/tables/0/wmo/32", "a/b");
    EXPECT_EQ(error_text(load(message_for(32, 0, 98, 0))),
              "table file error: invalid ecCodes table alias " + base + "/bufr/tables/0/wmo/32 -> \"a/b\"");
    root_.write("bufr/tables/0/local/5/98/0/element.table", "001001|x|long|X|U|z|0|7\n");
    EXPECT_EQ(error_text(load(message_for(30, 5, 98, 0))),
              "table file error: bad i32 \"z\": invalid digit found in string");
    root_.write("bufr/tables/0/local/6/98/0/codetables", "");
    EXPECT_EQ(error_text(load(message_for(30, 6, 98, 0))), "io error: Not a directory (os error 20)");
    root_.mkdir("bufr/tables/0/wmo/33");
    root_.write("bufr/tables/0/wmo/33/element.table", "001001|m|long|M|U|0|0|7\n");
    EXPECT_EQ(error_text(load(message_for(33, 0, 98, 0))), "io error: No such file or directory (os error 2)");
    root_.write("bufr/tables/0/wmo/34/sequence.def", "");
    EXPECT_EQ(error_text(load(message_for(34, 0, 98, 0))), "table file error: No such file or directory (os error 2)");
}

TEST(DefinitionsRealTablesTest, LocalTablesOfCentre98) {
    // The *_208.bufr files: centre 98, subcentre 0, master version 13, local version 101.
    Result<TableSet> tables = from_eccodes_definitions(testing::definitions_root(), message_for(13, 101, 98, 0));
    ASSERT_TRUE(tables.ok()) << error_text(tables);
    Result<TableSet> master = from_eccodes_definitions(testing::definitions_root(), message_for(13, 0, 98, 0));
    ASSERT_TRUE(master.ok()) << error_text(master);
    EXPECT_EQ(master->elements.size(), 1296u);
    EXPECT_EQ(master->find_element(1192), nullptr);
    ASSERT_NE(tables->find_element(1192), nullptr);
    EXPECT_EQ(tables->find_element(1192)->abbreviation, "modelVersionNumber");
    EXPECT_EQ(master->find_element(7065)->name, "WATER PRESSURE");
    EXPECT_EQ(tables->find_element(7065)->name, "(VAL) REPRESENTATIVE HEIGHT OF SENSOR ABOVE LOCAL GROUND (OR DEC");
    ASSERT_NE(tables->find_sequence(301193), nullptr);
    EXPECT_EQ(tables->find_sequence(301193)->members, (std::vector<std::uint32_t>{1007, 1031, 2196, 2221, 2222}));
    EXPECT_GT(tables->code_tables.size(), master->code_tables.size());
}

TEST(DefinitionsRealTablesTest, MissingLocalDirectoryFallsBackToMaster) {
    // aaen_55.bufr: centre 98, subcentre 70, local version 1, for which no local directory exists.
    Result<TableSet> tables = from_eccodes_definitions(testing::definitions_root(), message_for(13, 1, 98, 70));
    ASSERT_TRUE(tables.ok()) << error_text(tables);
    EXPECT_EQ(tables->elements.size(), 1296u);
    EXPECT_EQ(tables->sequences.size(), 446u);
}

TEST(DefinitionsRealTablesTest, DwdLocalTables) {
    // dwd-synop-44msgs.bufr: centre 78, master version 18, local version 8 (and 0 in some messages).
    Result<TableSet> local = from_eccodes_definitions(testing::definitions_root(), message_for(18, 8, 78, 0));
    ASSERT_TRUE(local.ok()) << error_text(local);
    Result<TableSet> master = from_eccodes_definitions(testing::definitions_root(), message_for(18, 0, 78, 0));
    ASSERT_TRUE(master.ok()) << error_text(master);
    EXPECT_EQ(master->elements.size(), 1480u);
    EXPECT_GT(local->elements.size(), master->elements.size());
    EXPECT_GT(local->sequences.size(), master->sequences.size());
}

}  // namespace
}  // namespace corvane
