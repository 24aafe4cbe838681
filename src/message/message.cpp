#include "message/message.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace corvane {
namespace {

constexpr std::size_t kSection0Length = 8;
constexpr std::size_t kFlagsEnd = 18;
constexpr std::size_t kYearOffset = 23;
constexpr std::size_t kYearEnd = 25;
constexpr std::size_t kFixedSection1End = 30;     // the last fixed read is the second, at offset 29
constexpr std::size_t kEdition3Section1End = 25;  // editions 2 and 3 end their fields with the minute

bool has_marker(std::span<const std::uint8_t> buffer, std::size_t at, const char (&marker)[5]) {
    return at + 4 <= buffer.size() && std::memcmp(buffer.data() + at, marker, 4) == 0;
}

std::uint64_t u24(std::span<const std::uint8_t> buffer, std::size_t at) {
    return (std::uint64_t{buffer[at]} << 16) | (std::uint64_t{buffer[at + 1]} << 8) | buffer[at + 2];
}

std::uint16_t u16(std::span<const std::uint8_t> buffer, std::size_t at) {
    return static_cast<std::uint16_t>((buffer[at] << 8) | buffer[at + 1]);
}

// Reads a section length; a field or section running past the buffer is truncated.
Result<std::uint64_t> section_length(std::span<const std::uint8_t> buffer, std::uint64_t at, std::uint8_t section) {
    if (at + 3 > buffer.size()) return BufrError::truncated_section(section, at);
    const std::uint64_t length = u24(buffer, at);
    if (at + length > buffer.size()) return BufrError::truncated_section(section, at);
    return length;
}

// The first "BUFR" that starts at or after `from` and before `until`, or the buffer length
// when there is none.
std::size_t find_marker(std::span<const std::uint8_t> buffer, std::size_t from, std::size_t until = SIZE_MAX) {
    for (; from < until && from + 4 <= buffer.size(); ++from) {
        if (has_marker(buffer, from, "BUFR")) return from;
    }
    return buffer.size();
}

// Why the marker at `at` cannot start a message that the scan may step over whole.
std::optional<BufrError> framing_error(std::span<const std::uint8_t> buffer, std::size_t at,
                                       std::size_t stream_offset) {
    if (at + kSection0Length > buffer.size()) return BufrError::message_too_short();
    const std::uint64_t declared = u24(buffer, at + 4);
    if (declared < kSection0Length) return BufrError::message_too_short();
    const std::uint64_t end = at + declared;
    if (end > buffer.size()) return BufrError::truncated_section(0, stream_offset + at);
    // Without "7777" at the declared end, the length is trusted only while no other marker
    // lies inside it; bytes after an earlier "7777" are then for the parser to judge.
    if (!has_marker(buffer, end - 4, "7777") && find_marker(buffer, at + 4, end) < end) {
        return BufrError::bad_end_marker();
    }
    return std::nullopt;
}

// The edition octet of a buffer long enough to hold one and starting with the marker.
Result<std::uint8_t> marked_edition(std::span<const std::uint8_t> buffer) {
    if (buffer.size() <= 7) return BufrError::message_too_short();
    if (!has_marker(buffer, 0, "BUFR")) return BufrError::missing_marker();
    return buffer[7];
}

// Section 0 up to the section-1 length, once the marker and edition are known to be good.
Result<BufrMessage> start_message(std::span<const std::uint8_t> buffer) {
    const std::size_t length = buffer.size();
    const std::uint64_t declared = u24(buffer, 4);
    if (declared != length) return BufrError::length_mismatch(declared, length);
    if (length <= 10) return BufrError::truncated_section(1, kSection0Length);
    BufrMessage message;
    message.total_length = length;
    message.edition = buffer[7];
    auto s1 = section_length(buffer, kSection0Length, 1);
    if (!s1) return std::move(s1).error();
    message.section1_length = *s1;
    return message;
}

// Sections 2 to 5 are laid out alike in editions 2 to 4. Each is walked by its declared
// length, so a padding octet at the end of any of them is skipped.
Status read_sections_2_to_5(std::span<const std::uint8_t> buffer, bool section2_present, BufrMessage& message) {
    std::uint64_t p3 = kSection0Length + message.section1_length;
    message.local_section_present = section2_present;
    if (section2_present) {
        auto s2 = section_length(buffer, p3, 2);
        if (!s2) return std::move(s2).error();
        message.section2_length = *s2;
        // A section shorter than its own four header octets holds no data.
        message.section2_data_offset = p3 + std::min<std::uint64_t>(*s2, 4);
        message.section2_data_length = *s2 - std::min<std::uint64_t>(*s2, 4);
        p3 += message.section2_length;
    }
    auto s3 = section_length(buffer, p3, 3);
    if (!s3) return std::move(s3).error();
    if (*s3 < 7) return BufrError::truncated_section(3, p3);
    message.section3_length = *s3;
    message.number_of_subsets = u16(buffer, p3 + 4);
    const std::uint8_t flags = buffer[p3 + 6];
    message.observed_data = (flags & 0x80) != 0;
    message.compressed_data = (flags & 0x40) != 0;
    const std::uint64_t p4 = p3 + message.section3_length;
    // An odd descriptor area ends in one padding octet, whatever its value: editions 2 and 3
    // made every section even, and many edition-4 encoders still pad section 3.
    message.unexpanded_descriptors.reserve((message.section3_length - 7) / 2);
    for (std::uint64_t at = p3 + 7; at + 2 <= p4; at += 2) {
        const std::uint32_t f = buffer[at] >> 6;
        const std::uint32_t x = buffer[at] & 0x3F;
        const std::uint32_t y = buffer[at + 1];
        message.unexpanded_descriptors.push_back(f * 100000 + x * 1000 + y);
    }

    auto s4 = section_length(buffer, p4, 4);
    if (!s4) return std::move(s4).error();
    message.section4_length = *s4;
    message.section4_data_offset = p4 + 4;
    message.section4_data_length = message.section4_length >= 4 ? message.section4_length - 4 : 0;
    const std::uint64_t p5 = p4 + message.section4_length;
    if (p5 + 4 > buffer.size()) return BufrError::truncated_section(5, p5);
    if (!has_marker(buffer, p5, "7777")) return BufrError::bad_end_marker();
    return {};
}

// Editions 2 and 3 wrote the year as a year of century, 2000 as 100.
std::uint16_t full_year(std::uint8_t year_of_century) {
    return static_cast<std::uint16_t>(year_of_century < 50 ? 2000 + year_of_century : 1900 + year_of_century);
}

// Section 1 of editions 2 and 3: octets 1 to 17 from offset 8, local use after them.
Result<BufrMessage> parse_edition_2_or_3(std::span<const std::uint8_t> buffer) {
    auto message = start_message(buffer);
    if (!message) return message;
    if (buffer.size() < kEdition3Section1End) return BufrError::truncated_section(1, kSection0Length);
    if (Status sections = read_sections_2_to_5(buffer, buffer[15] != 0, *message); !sections) {
        return std::move(sections).error();
    }
    message->master_table_number = buffer[11];
    if (message->edition == 3) {
        message->originating_subcentre = buffer[12];
        message->originating_centre = buffer[13];
    } else {
        message->originating_centre = u16(buffer, 12);
    }
    message->update_sequence_number = buffer[14];
    message->data_category = buffer[16];
    message->international_data_subcategory = 0xFF;
    message->local_data_subcategory = buffer[17];
    message->master_tables_version_number = buffer[18];
    message->local_tables_version_number = buffer[19];
    message->typical_year = full_year(buffer[20]);
    message->typical_month = buffer[21];
    message->typical_day = buffer[22];
    message->typical_hour = buffer[23];
    message->typical_minute = buffer[24];
    return message;
}

}  // namespace

Result<BufrMessage> parse_message(std::span<const std::uint8_t> buffer) {
    const std::size_t length = buffer.size();
    auto edition = marked_edition(buffer);
    if (!edition) return std::move(edition).error();
    if (*edition != 4) return BufrError::unsupported_edition(*edition);
    auto message = start_message(buffer);
    if (!message) return message;
    // Section 1's fields sit at fixed offsets whatever its declared length, so a short
    // declaration must not let the fixed reads run past the buffer.
    if (length < kFlagsEnd) return BufrError::truncated_section(1, kSection0Length);
    if (length < kYearEnd) return BufrError::truncated_section(0, kYearOffset);
    if (Status sections = read_sections_2_to_5(buffer, buffer[17] != 0, *message); !sections) {
        return std::move(sections).error();
    }
    if (length < kFixedSection1End) return BufrError::truncated_section(1, kSection0Length);

    message->master_table_number = buffer[11];
    message->originating_centre = u16(buffer, 12);
    message->originating_subcentre = u16(buffer, 14);
    message->update_sequence_number = buffer[16];
    message->data_category = buffer[18];
    message->international_data_subcategory = buffer[19];
    message->local_data_subcategory = buffer[20];
    message->master_tables_version_number = buffer[21];
    message->local_tables_version_number = buffer[22];
    message->typical_year = u16(buffer, 23);
    message->typical_month = buffer[25];
    message->typical_day = buffer[26];
    message->typical_hour = buffer[27];
    message->typical_minute = buffer[28];
    message->typical_second = buffer[29];
    return message;
}

Result<BufrMessage> parse_any_edition(std::span<const std::uint8_t> buffer) {
    auto edition = marked_edition(buffer);
    if (!edition) return std::move(edition).error();
    if (*edition == 4) return parse_message(buffer);
    if (*edition != 2 && *edition != 3) return BufrError::unsupported_edition_of_2_to_4(*edition);
    return parse_edition_2_or_3(buffer);
}

Result<std::vector<ByteRange>> split_messages(std::span<const std::uint8_t> buffer) {
    std::vector<ByteRange> ranges;
    const std::size_t length = buffer.size();
    std::size_t i = 0;
    while (length - i >= 4) {
        if (!has_marker(buffer, i, "BUFR")) {
            ++i;
            continue;
        }
        if (i + 8 > length) return BufrError::message_too_short();
        const std::uint64_t declared = u24(buffer, i + 4);
        if (i + declared > length) return BufrError::truncated_section(0, i);
        // A declared length below the section-0 size could never hold a message, and 0
        // would stall the scan: record it as is, so that parsing rejects it as too short.
        ranges.push_back({i, static_cast<std::size_t>(declared)});
        i += declared < kSection0Length ? kSection0Length : declared;
    }
    return ranges;
}

std::vector<ScannedMessage> scan_messages(std::span<const std::uint8_t> buffer, std::size_t stream_offset) {
    std::vector<ScannedMessage> found;
    for (std::size_t at = find_marker(buffer, 0); at < buffer.size();) {
        if (auto error = framing_error(buffer, at, stream_offset)) {
            const std::size_t next = find_marker(buffer, at + 4);
            found.push_back({{at, next - at}, std::move(error)});
            at = next;
        } else {
            const std::size_t declared = u24(buffer, at + 4);
            found.push_back({{at, declared}, std::nullopt});
            at = find_marker(buffer, at + declared);
        }
    }
    return found;
}

ScannedPrefix scan_complete_messages(std::span<const std::uint8_t> buffer, std::size_t stream_offset) {
    ScannedPrefix prefix{scan_messages(buffer, stream_offset), 0};
    const std::size_t size = buffer.size();
    // A good message lies inside the buffer; a bad one may read differently with more bytes:
    // its declared length may reach them, and its range runs to the next marker.
    const auto open_ended = [&](const ScannedMessage& found) {
        const std::size_t at = found.range.offset;
        if (!found.error) return false;
        return at + 7 > size || at + u24(buffer, at + 4) > size || at + found.range.length == size;
    };
    const auto first_open = std::find_if(prefix.messages.begin(), prefix.messages.end(), open_ended);
    if (first_open != prefix.messages.end()) {
        prefix.resume = first_open->range.offset;
        prefix.messages.erase(first_open, prefix.messages.end());
        return prefix;
    }
    // A marker may be cut by the buffer's end: its first three bytes are scanned again.
    const std::size_t last_end = prefix.messages.empty()
                                     ? 0
                                     : prefix.messages.back().range.offset + prefix.messages.back().range.length;
    prefix.resume = std::max(last_end, size < 3 ? 0 : size - 3);
    return prefix;
}

}  // namespace corvane
