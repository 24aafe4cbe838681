// Finding BUFR messages in a buffer and reading their section metadata.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "error/error.hpp"

namespace corvane {

// The metadata of one message; the data bits stay in the caller's buffer.
struct BufrMessage {
    std::uint64_t total_length = 0;
    std::uint8_t edition = 0;
    std::uint64_t section1_length = 0;
    std::uint8_t master_table_number = 0;
    std::uint16_t originating_centre = 0;
    std::uint16_t originating_subcentre = 0;
    std::uint8_t update_sequence_number = 0;
    bool local_section_present = false;
    std::uint8_t data_category = 0;
    std::uint8_t international_data_subcategory = 0;
    std::uint8_t local_data_subcategory = 0;
    std::uint8_t master_tables_version_number = 0;
    std::uint8_t local_tables_version_number = 0;
    std::uint16_t typical_year = 0;
    std::uint8_t typical_month = 0;
    std::uint8_t typical_day = 0;
    std::uint8_t typical_hour = 0;
    std::uint8_t typical_minute = 0;
    std::uint8_t typical_second = 0;
    std::uint64_t section2_length = 0;
    // The local data of section 2, after its length and reserved octet; empty when it is absent.
    std::uint64_t section2_data_offset = 0;
    std::uint64_t section2_data_length = 0;
    std::uint64_t section3_length = 0;
    std::uint16_t number_of_subsets = 0;
    bool observed_data = false;
    bool compressed_data = false;
    std::vector<std::uint32_t> unexpanded_descriptors;
    std::uint64_t section4_length = 0;
    std::uint64_t section4_data_offset = 0;
    std::uint64_t section4_data_length = 0;

    // The local data of section 2 within the buffer this message was parsed from.
    std::span<const std::uint8_t> section2_data(std::span<const std::uint8_t> message_bytes) const {
        return message_bytes.subspan(section2_data_offset, section2_data_length);
    }

    // The section-4 data area within the buffer this message was parsed from.
    std::span<const std::uint8_t> section4_data(std::span<const std::uint8_t> message_bytes) const {
        return message_bytes.subspan(section4_data_offset, section4_data_length);
    }
};

// One message's place in a larger buffer.
struct ByteRange {
    std::size_t offset = 0;
    std::size_t length = 0;
};

// Parses one edition-4 message that fills the whole buffer.
Result<BufrMessage> parse_message(std::span<const std::uint8_t> buffer);

// Parses one message of edition 2, 3 or 4 that fills the whole buffer; edition 4 exactly as
// parse_message does. Section 1 of editions 2 and 3 maps onto the same record:
// - edition 3 has a one-octet sub-centre and centre, edition 2 a two-octet centre and no
//   sub-centre (0);
// - neither has an international data sub-category (255, all ones) nor seconds (0);
// - the year of century becomes 2000-2049 for 0-49 and 1950-2000 for 50-100 (the
//   regulations write 2000 as 100). ecCodes adds 2000 to any value, which agrees for 0-49.
Result<BufrMessage> parse_any_edition(std::span<const std::uint8_t> buffer);

// Finds the messages in a buffer, skipping bytes between them.
Result<std::vector<ByteRange>> split_messages(std::span<const std::uint8_t> buffer);

// What scan_messages found at one "BUFR" marker. A message's range is its declared length;
// a failed entry spans from its marker to the next one, or to the end of the buffer.
struct ScannedMessage {
    ByteRange range;
    std::optional<BufrError> error;
};

// Finds every "BUFR" marker of a buffer in order and never fails: a marker whose framing
// cannot hold (a truncated tail, a declared length past the end, another marker inside a
// declared length that has no "7777" at its end) is reported in its own entry, and the scan
// resumes at the next marker, so that the good messages around it are kept. Bytes inside a
// good range are never scanned; an entry's position in the list is its message index.
// Errors name offsets in a stream of which the buffer starts at `stream_offset`.
std::vector<ScannedMessage> scan_messages(std::span<const std::uint8_t> buffer, std::size_t stream_offset = 0);

// The start of a stream read a window at a time: the messages that bytes after the buffer
// could not change, and the offset where scanning the rest of the stream resumes. Scanning
// window after window, each from the last one's resume offset, finds what one scan of the
// whole stream finds.
struct ScannedPrefix {
    std::vector<ScannedMessage> messages;
    std::size_t resume = 0;
};
ScannedPrefix scan_complete_messages(std::span<const std::uint8_t> buffer, std::size_t stream_offset = 0);

}  // namespace corvane
