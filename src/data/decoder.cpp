#include "data/decoder.hpp"

#include "bitstream/bit_reader.hpp"
#include "data/value_sinks.hpp"

namespace corvane {

// The one place that chooses between the uncompressed and the compressed layout.
Result<DecodedValues> decode_uncompressed_values(const BufrMessage& message, const TableSet& tables,
                                                 std::span<const std::uint8_t> section4_data, DecodeOptions options) {
    BitReader reader(section4_data);
    Result<DecodedValues> decoded = message.compressed_data
                                        ? detail::decode_compressed_values(message, tables, reader, options)
                                        : detail::decode_subset_values(message, tables, reader, options);
    if (decoded) decoded->bits_left = reader.total_bits() - reader.position();
    return decoded;
}

}  // namespace corvane
