// The sections around section 4 of an edition-4 message.
#include "encode/encode.hpp"

#include <string>

#include "descriptor/descriptor.hpp"
#include "encode/value_errors.hpp"

namespace corvane {

namespace {

constexpr std::uint64_t kMaxLength = 0xFFFFFF;  // three octets of length

void put(std::vector<std::uint8_t>& out, std::uint64_t value, unsigned octets) {
    for (unsigned i = octets; i-- > 0;) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

template <class Subsets>
Result<std::vector<std::uint8_t>> message_of(const MessageHeader& header, const TableSet& tables,
                                             std::span<const std::uint32_t> descriptors, const Subsets& subsets,
                                             std::size_t count) {
    if (Status valid = detail::valid_descriptors(descriptors); !valid) return std::move(valid).error();
    Result<std::vector<std::uint8_t>> data = header.compressed ? encode_columns(tables, descriptors, subsets)
                                                               : encode_subsets(tables, descriptors, subsets);
    if (!data) return data;
    const std::uint64_t section2 = header.has_section2 ? 4 + header.section2.size() : 0;
    const std::uint64_t section3 = 7 + 2 * std::uint64_t{descriptors.size()};
    const std::uint64_t section4 = 4 + data->size();
    const std::uint64_t total = 8 + 22 + section2 + section3 + section4 + 4;
    if (total > kMaxLength) {
        return BufrError::bad_argument("the message would take " + std::to_string(total) +
                                       " octets, more than the 16777215 its length field holds: write fewer subsets "
                                       "per message");
    }
    std::vector<std::uint8_t> out;
    out.reserve(total);
    out.insert(out.end(), {'B', 'U', 'F', 'R'});
    put(out, total, 3);
    out.push_back(4);
    put(out, 22, 3);
    out.push_back(header.master_table);
    put(out, header.centre, 2);
    put(out, header.subcentre, 2);
    out.push_back(header.update_sequence);
    out.push_back(header.has_section2 ? 0x80 : 0);
    out.insert(out.end(), {header.data_category, header.international_subcategory, header.local_subcategory,
                           header.master_version, header.local_version});
    put(out, header.year, 2);
    out.insert(out.end(), {header.month, header.day, header.hour, header.minute, header.second});
    if (header.has_section2) {
        put(out, section2, 3);
        out.push_back(0);
        out.insert(out.end(), header.section2.begin(), header.section2.end());
    }
    put(out, section3, 3);
    out.push_back(0);
    put(out, count, 2);
    out.push_back((header.observed ? 0x80 : 0) | (header.compressed ? 0x40 : 0));
    for (const std::uint32_t code : descriptors) {
        put(out, (descriptor_f(code) << 14) | (descriptor_x(code) << 8) | descriptor_y(code), 2);
    }
    put(out, section4, 3);
    out.push_back(0);
    out.insert(out.end(), data->begin(), data->end());
    out.insert(out.end(), {'7', '7', '7', '7'});
    return out;
}

}  // namespace

Result<std::vector<std::uint8_t>> encode_message(const MessageHeader& header, const TableSet& tables,
                                                 std::span<const std::uint32_t> descriptors,
                                                 std::span<const SubsetInput> subsets) {
    return message_of(header, tables, descriptors, subsets, subsets.size());
}

Result<std::vector<std::uint8_t>> encode_message(const MessageHeader& header, const TableSet& tables,
                                                 std::span<const std::uint32_t> descriptors,
                                                 const NumberGrid& subsets) {
    return message_of(header, tables, descriptors, subsets, subsets.subsets);
}

}  // namespace corvane
