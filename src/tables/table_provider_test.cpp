#include "tables/table_provider.hpp"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tables/table_test_support.hpp"

namespace corvane {
namespace {

using testing::error_text;

TableProvider packed_provider() {
    Result<TableArchive> archive = TableArchive::open(CORVANE_TABLE_ARCHIVE);
    EXPECT_TRUE(archive.ok()) << error_text(archive);
    return TableProvider::from_archive(std::move(archive).value());
}

TableChoice choice(std::uint8_t master_version, std::uint8_t local_version, std::uint16_t centre,
                   std::uint16_t subcentre) {
    return {0, master_version, centre, subcentre, local_version};
}

TEST(TableProviderTest, EachChoiceLoadsOnceAndCentresWithoutLocalTablesShareTheMasterSet) {
    const TableProvider provider = packed_provider();
    EXPECT_EQ(provider.find(choice(13, 0, 98, 0)), nullptr);
    const Result<TableSet>& first = provider.get(choice(13, 0, 98, 0));
    ASSERT_TRUE(first.ok()) << error_text(first);
    EXPECT_EQ(provider.find(choice(13, 0, 98, 0)), &first);
    EXPECT_EQ(&provider.get(choice(13, 0, 98, 0)), &first);
    // Centre 7 has no local tables and centre 98 none of local version 1 for subcentre 70.
    EXPECT_EQ(&provider.get(choice(13, 0, 7, 3)), &first);
    EXPECT_EQ(&provider.get(choice(13, 1, 98, 70)), &first);
    // Local version 101 of centre 98 exists and adds its own elements.
    const Result<TableSet>& local = provider.get(choice(13, 101, 98, 0));
    ASSERT_TRUE(local.ok()) << error_text(local);
    EXPECT_NE(&local, &first);
    EXPECT_GT(local->elements.size(), first->elements.size());
}

TEST(TableProviderTest, MissingMasterTablesNameTheChoiceAndAreKept) {
    const TableProvider provider = packed_provider();
    // Versions 3 to 5 were never published.
    const Result<TableSet>& missing = provider.get(choice(4, 3, 98, 0));
    EXPECT_EQ(error_text(missing),
              "no BUFR tables for master table 0 version 4 (local version 3, centre 98, subcentre 0)");
    EXPECT_EQ(provider.find(choice(4, 3, 98, 0)), &missing);
    EXPECT_EQ(error_text(provider.get({5, 13, 7, 1, 0})),
              "no BUFR tables for master table 5 version 13 (local version 0, centre 7, subcentre 1)");
}

TEST(TableProviderTest, VersionsPastTheNewestLoadTheNewestWithTheirLocalTables) {
    const TableProvider provider = packed_provider();
    const std::optional<ChosenTables> chosen = provider.chosen(choice(50, 2, 98, 0));
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(chosen->loaded, choice(46, 2, 98, 0));
    EXPECT_TRUE(chosen->master_found && chosen->local_found);
    EXPECT_EQ(&provider.get(choice(50, 2, 98, 0)), &provider.get(choice(46, 2, 98, 0)));
    EXPECT_TRUE(provider.get(choice(255, 0, 7, 0)).ok());
    const std::optional<ChosenTables> no_local = provider.chosen(choice(46, 3, 7, 0));
    EXPECT_EQ(no_local->loaded, choice(46, 0, 0, 0));
    EXPECT_TRUE(no_local->master_found && !no_local->local_found);
    EXPECT_FALSE(provider.chosen(choice(4, 0, 7, 0))->master_found);
}

TEST(TableProviderTest, DefinitionsRootChoosesLikeTheArchive) {
    const TableProvider provider = TableProvider::from_definitions(testing::definitions_root());
    const Result<TableSet>& dwd = provider.get(choice(18, 8, 78, 0));
    ASSERT_TRUE(dwd.ok()) << error_text(dwd);
    ASSERT_NE(dwd->find_element(1192), nullptr);
    EXPECT_EQ(dwd->find_element(1192)->abbreviation, "icaoLocationIndicator");
    // The copy has versions 13, 14, 16, ... 39: 15 is missing, 44 gets 39.
    EXPECT_EQ(error_text(provider.get(choice(15, 0, 78, 0))),
              "no BUFR tables for master table 0 version 15 (local version 0, centre 78, subcentre 0)");
    EXPECT_EQ(&provider.get(choice(44, 0, 78, 0)), &provider.get(choice(39, 0, 78, 0)));
}

TEST(TableProviderTest, ExtraEntriesComeBeforeEverySet) {
    TableSet extra;
    extra.store_element({1194, "reportMnemonic", "string", "REPORT MNEMONIC", "CCITT IA5", 0, 0, 128});
    extra.store_element({12101, "mine", "long", "MY TEMPERATURE", "K", 1, 0, 12});
    TableProvider provider = packed_provider();
    provider.set_extra(extra);
    for (const TableChoice& asked : {choice(13, 101, 98, 0), choice(50, 0, 7, 0)}) {
        const Result<TableSet>& tables = provider.get(asked);
        ASSERT_TRUE(tables.ok()) << error_text(tables);
        EXPECT_TRUE(tables->find_element(1194)->is_text());
        EXPECT_EQ(tables->find_element(12101)->abbreviation, "mine");
        EXPECT_NE(tables->find_element(12103), nullptr);
    }
    TableSet base;
    base.store_element({12101, "airTemperature", "long", "TEMPERATURE", "K", 2, 0, 16});
    TableProvider fixed = TableProvider::fixed(std::move(base));
    fixed.set_extra(std::move(extra));
    EXPECT_EQ(fixed.get(choice(39, 0, 0, 0))->find_element(12101)->width, 12);
    EXPECT_EQ(fixed.get(choice(39, 0, 0, 0))->elements.size(), 2u);
}

TEST(TableProviderTest, LocalDescriptorsThatNoTableDefinesNameTheirLocalTables) {
    TableProvider provider = packed_provider();
    provider.set_missing_tables_hint("add them");
    EXPECT_EQ(provider.explain(choice(14, 1, 200, 0), BufrError::element_not_found(1194)).render(),
              "descriptor 001194 was not found in Table B: a local descriptor, which the local tables of centre 200 "
              "subcentre 0 (local version 1) would define, and none are packed; add them");
    EXPECT_EQ(provider.explain(choice(13, 101, 98, 0), BufrError::sequence_not_found(348001)).render(),
              "descriptor 348001 was not found in Table D: a local descriptor, which the local tables of centre 98 "
              "subcentre 0 (local version 101) do not define; add them");
    // WMO descriptors, and other errors, are left as they are.
    EXPECT_EQ(provider.explain(choice(14, 1, 200, 0), BufrError::element_not_found(12101)).render(),
              "descriptor 012101 was not found in Table B");
    EXPECT_EQ(provider.explain(choice(14, 1, 200, 0), BufrError::bad_end_marker()).render(),
              "section 5 terminator is not 7777");
    EXPECT_EQ(TableProvider::fixed({}).explain(choice(14, 1, 200, 0), BufrError::element_not_found(1194)).render(),
              "descriptor 001194 was not found in Table B");
}

TEST(TableProviderTest, ElementKeysCoverEveryVersionLocalTableAndExtraEntry) {
    const testing::TempDir root;
    root.write("bufr/tables/0/wmo/13/element.table",
               "001001|blockNumber|long|WMO BLOCK NUMBER|Numeric|0|0|7|NA|0|0\n"
               "012101||long|TEMPERATURE|K|2|0|16|NA|0|0\n");
    root.write("bufr/tables/0/wmo/14", "13");
    root.write("bufr/tables/0/wmo/20/element.table",
               "001001|blockNumberRenamed|long|WMO BLOCK NUMBER|Numeric|0|0|7|NA|0|0\n");
    root.write("bufr/tables/0/local/1/98/0/element.table",
               "001192|modelVersionNumber|table|MODEL VERSION NUMBER|CODE TABLE|0|0|8|NA|0|0\n");
    // An unreadable table adds nothing and keeps the others.
    root.write("bufr/tables/0/local/1/99/0/element.table", "001193|broken\n");
    TableSet extra;
    extra.store_element({12102, "mine", "long", "MY TEMPERATURE", "K", 1, 0, 12});
    TableProvider provider = TableProvider::from_definitions(root.path());
    provider.set_extra(std::move(extra));
    EXPECT_EQ(provider.element_keys(),
              (std::vector<std::string>{"012101", "blockNumber", "blockNumberRenamed", "mine", "modelVersionNumber"}));
    TableSet fixed;
    fixed.store_element({1001, "blockNumber", "long", "WMO BLOCK NUMBER", "Numeric", 0, 0, 7});
    EXPECT_EQ(TableProvider::fixed(std::move(fixed)).element_keys(), std::vector<std::string>{"blockNumber"});
}

TEST(TableProviderTest, FixedSetServesEveryChoice) {
    TableSet tables;
    tables.store_element({1001, "blockNumber", "long", "WMO BLOCK NUMBER", "Numeric", 0, 0, 7});
    const TableProvider provider = TableProvider::fixed(std::move(tables));
    const Result<TableSet>* any = provider.find(choice(1, 0, 0, 0));
    ASSERT_NE(any, nullptr);
    EXPECT_EQ(&provider.get(choice(250, 9, 65535, 65535)), any);
    EXPECT_EQ((*any)->elements.size(), 1u);
}

TEST(TableProviderTest, ThreadsAskingAtOnceShareOneLoad) {
    const TableProvider provider = packed_provider();
    std::vector<const Result<TableSet>*> seen(4);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back(
            [&, i] { seen[i] = &provider.get(choice(static_cast<std::uint8_t>(30 + i % 2), 0, 98, 0)); });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(seen[0], seen[2]);
    EXPECT_EQ(seen[1], seen[3]);
    EXPECT_NE(seen[0], seen[1]);
    EXPECT_TRUE(seen[0]->ok());
}

}  // namespace
}  // namespace corvane
