// Private to the columns and rows subsystems: messages as the table builders take them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "error/error.hpp"
#include "message/message.hpp"
#include "tables/table_provider.hpp"

namespace corvane::detail {

// A message parsed, and the tables it is decoded with.
struct ReadyMessage {
    BufrMessage message;
    const TableSet* tables = nullptr;
};

// Each failure is the one that the value decode of these bytes reports, at the same step.
inline Result<ReadyMessage> ready_message(std::span<const std::uint8_t> bytes, const TableProvider& tables) {
    Result<BufrMessage> message = parse_any_edition(bytes);
    if (!message) return std::move(message).error();
    const Result<TableSet>& set = tables.get(TableChoice::of(*message));
    if (!set) return set.error();
    return ReadyMessage{std::move(message).value(), &*set};
}

// Every message of `buffer` as scan_messages finds it, into `builder`.
template <class Builder>
Status add_scanned_messages(Builder& builder, std::span<const std::uint8_t> buffer, const TableProvider& tables) {
    const std::vector<ScannedMessage> found = scan_messages(buffer);
    if constexpr (requires { builder.expect_messages(found.size()); }) builder.expect_messages(found.size());
    for (std::size_t index = 0; index < found.size(); ++index) {
        const ScannedMessage& entry = found[index];
        if (entry.error) {
            builder.add_error(index, entry.range.offset, entry.error->render());
            continue;
        }
        if (Status added = builder.add_message(index, entry.range.offset,
                                               buffer.subspan(entry.range.offset, entry.range.length), tables);
            !added) {
            return added;
        }
    }
    return {};
}

}  // namespace corvane::detail
