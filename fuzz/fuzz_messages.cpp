// Finds, parses, expands and decodes every message of arbitrary bytes with real tables: never a
// crash, a hang, a leak or unbounded memory, whatever the framing, descriptors or data bits say.
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>

#include "data/decoder.hpp"
#include "message/message.hpp"
#include "tables/eccodes_loader.hpp"
#include "tables/expand.hpp"

namespace {

// Master versions shipped with the tests; a message naming another is decoded with the newest.
std::map<int, corvane::TableSet>& tables_by_version() {
    static std::map<int, corvane::TableSet> tables = [] {
        std::map<int, corvane::TableSet> loaded;
        for (int version : {13, 14, 16, 18, 26, 28, 31, 33, 39}) {
            auto set = corvane::from_eccodes_dir(std::string(CORVANE_TEST_DATA) +
                                                 "/tables/definitions/bufr/tables/0/wmo/" + std::to_string(version));
            if (!set.ok()) __builtin_trap();
            loaded.emplace(version, std::move(set).value());
        }
        return loaded;
    }();
    return tables;
}

const corvane::TableSet& tables_for(const corvane::BufrMessage& message) {
    auto& tables = tables_by_version();
    const auto it = tables.find(message.master_tables_version_number);
    return it != tables.end() ? it->second : tables.rbegin()->second;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    tables_by_version();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> buffer(data, size);
    auto ranges = corvane::split_messages(buffer);
    if (!ranges.ok()) return 0;
    for (const corvane::ByteRange& range : *ranges) {
        const auto bytes = buffer.subspan(range.offset, range.length);
        auto message = corvane::parse_message(bytes);
        if (!message.ok()) continue;
        if (message->section4_data_offset + message->section4_data_length > range.length) __builtin_trap();
        const corvane::TableSet& tables = tables_for(*message);
        (void)corvane::expand_descriptors(tables, message->unexpanded_descriptors);
        auto values = corvane::decode_uncompressed_values(*message, tables, message->section4_data(bytes));
        if (values.ok() && values->size() > corvane::kMaxDecodedValues) __builtin_trap();
    }
    return 0;
}
