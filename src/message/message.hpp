// Finding BUFR edition-4 messages in a buffer and reading their section metadata.
#pragma once

#include <cstdint>
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
    std::uint64_t section3_length = 0;
    std::uint16_t number_of_subsets = 0;
    bool observed_data = false;
    bool compressed_data = false;
    std::vector<std::uint32_t> unexpanded_descriptors;
    std::uint64_t section4_length = 0;
    std::uint64_t section4_data_offset = 0;
    std::uint64_t section4_data_length = 0;

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

// Parses one message that fills the whole buffer.
Result<BufrMessage> parse_message(std::span<const std::uint8_t> buffer);

// Finds the messages in a buffer, skipping bytes between them.
Result<std::vector<ByteRange>> split_messages(std::span<const std::uint8_t> buffer);

}  // namespace corvane
