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
    const Result<TableSet>& missing = provider.get(choice(45, 3, 98, 0));
    EXPECT_EQ(error_text(missing),
              "no BUFR tables for master table 0 version 45 (local version 3, centre 98, subcentre 0)");
    EXPECT_EQ(provider.find(choice(45, 3, 98, 0)), &missing);
    EXPECT_EQ(error_text(provider.get(choice(45, 0, 7, 1))),
              "no BUFR tables for master table 0 version 45 (local version 0, centre 7, subcentre 1)");
}

TEST(TableProviderTest, DefinitionsRootChoosesLikeTheArchive) {
    const TableProvider provider = TableProvider::from_definitions(testing::definitions_root());
    const Result<TableSet>& dwd = provider.get(choice(18, 8, 78, 0));
    ASSERT_TRUE(dwd.ok()) << error_text(dwd);
    ASSERT_NE(dwd->find_element(1192), nullptr);
    EXPECT_EQ(dwd->find_element(1192)->abbreviation, "icaoLocationIndicator");
    EXPECT_EQ(error_text(provider.get(choice(44, 0, 78, 0))),
              "no BUFR tables for master table 0 version 44 (local version 0, centre 78, subcentre 0)");
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
        threads.emplace_back([&, i] { seen[i] = &provider.get(choice(static_cast<std::uint8_t>(30 + i % 2), 0, 98, 0)); });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(seen[0], seen[2]);
    EXPECT_EQ(seen[1], seen[3]);
    EXPECT_NE(seen[0], seen[1]);
    EXPECT_TRUE(seen[0]->ok());
}

}  // namespace
}  // namespace corvane
