// Finds and parses every message of arbitrary bytes: never a crash, a hang or a leak.
#include <cstddef>
#include <cstdint>
#include <span>

#include "message/message.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> buffer(data, size);
    auto ranges = corvane::split_messages(buffer);
    if (!ranges.ok()) return 0;
    for (const corvane::ByteRange& range : *ranges) {
        auto message = corvane::parse_message(buffer.subspan(range.offset, range.length));
        if (message.ok() && message->section4_data_offset + message->section4_data_length > range.length) __builtin_trap();
    }
    (void)corvane::parse_message(buffer);
    return 0;
}
