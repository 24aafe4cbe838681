#include "walk/walk.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "data/decode_test_support.hpp"

namespace corvane {
namespace {

using testing::BitWriter;

// Writes down what the walk tells, in either layout.
struct Recorder : SinkBase {
    const TableSet& tables;
    std::vector<std::string> events;

    const ElementDefinition* element(std::uint32_t code) const { return tables.find_element(code); }
    void value(const WalkValue& value) {
        std::string event = std::to_string(value.code);
        if (value.attached != nullptr) event += " attached to " + std::to_string(value.attached->history_index);
        events.push_back(event);
    }
    void number(const WalkValue& v, std::uint64_t, std::optional<double>) { value(v); }
    void text(const WalkValue& v, std::optional<std::string_view>, std::uint64_t) { value(v); }
    void same_number(const WalkValue& v, std::uint64_t, std::optional<double>) { value(v); }
    template <class Read>
    Status numbers(const WalkValue& v, bool, Read&& read) {
        value(v);
        return read(SkipCells{});
    }
    template <class Read>
    Status texts(const WalkValue& v, std::uint64_t, Read&& read) {
        value(v);
        return read(SkipTexts{});
    }
    void marker(std::uint32_t code) { events.push_back("marker " + std::to_string(code)); }
    void begin_replication(std::uint32_t code, std::uint64_t count) {
        events.push_back("replication " + std::to_string(code) + " x" + std::to_string(count));
    }
    void begin_repetition(std::uint64_t r) { events.push_back("repetition " + std::to_string(r)); }
    void end_repetition(std::uint64_t r) { events.push_back("end repetition " + std::to_string(r)); }
    void end_replication(std::uint32_t code) { events.push_back("end replication " + std::to_string(code)); }
    void begin_subset(std::uint32_t) {}
    void end_subset(std::uint32_t subset) { events.push_back("end subset " + std::to_string(subset)); }
    void expect_subsets(std::uint64_t) {}
};

// Replications and their repetitions in order, and a bitmap-attached value with the history
// entry its bitmap points at (the second 012001, entry 4), in both layouts alike.
TEST(Walk, TellsReplicationsAndWhatABitmapAttachesTo) {
    const TableSet tables = testing::basic_tables();
    const std::vector<std::uint32_t> descriptors{1001, 102002, 1002, 12001, 223000, 31031, 31031, 223255};
    const std::vector<unsigned> widths{7, 10, 12, 10, 12, 1, 1, 12};
    const auto events_of = [&](bool compressed) {
        BitWriter bits;
        for (std::size_t i = 0; i < widths.size(); ++i) {
            bits.bits(i == 5 ? 1 : 0, widths[i]);  // the first bitmap entry is absent
            if (compressed) bits.bits(0, 6);
        }
        const std::vector<std::uint8_t> data = bits.bytes();
        BitReader reader(data);
        Recorder sink{{}, tables, {}};
        const BufrMessage message = testing::make_message(descriptors, 1, compressed);
        const Status walked = compressed ? walk_columns(message, tables, reader, {}, sink)
                                         : walk_subsets(message, tables, reader, {}, sink);
        EXPECT_TRUE(walked) << walked.error().render();
        return sink.events;
    };
    std::vector<std::string> expected{"1001",
                                      "replication 102002 x2",
                                      "repetition 0",
                                      "1002",
                                      "12001",
                                      "end repetition 0",
                                      "repetition 1",
                                      "1002",
                                      "12001",
                                      "end repetition 1",
                                      "end replication 102002",
                                      "marker 223000",
                                      "31031",
                                      "31031",
                                      "12001 attached to 4"};
    EXPECT_EQ(events_of(true), expected);
    expected.push_back("end subset 0");
    EXPECT_EQ(events_of(false), expected);
}

}  // namespace
}  // namespace corvane
