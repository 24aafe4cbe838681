// Descriptor expansion: sequences replaced by members, replications unrolled, reading-only operators dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "error/error.hpp"
#include "tables/table_set.hpp"

namespace corvane {

// Nested fixed replications multiply; beyond this the input is taken as hostile.
inline constexpr std::size_t kMaxExpandedDescriptors = 1 << 24;

// Shared by every nesting level of one expansion.
struct ExpansionState {
    std::uint8_t associated_field_width = 0;
    std::uint64_t steps = 0;
};

// Appends the expansion of `codes` to `out`; returns how many codes were appended.
Result<std::size_t> expand_into(const TableSet& tables, std::span<const std::uint32_t> codes,
                                std::vector<std::uint32_t>& out, ExpansionState& state, unsigned depth);

Result<std::vector<std::uint32_t>> expand_descriptors(const TableSet& tables, std::span<const std::uint32_t> codes);

}  // namespace corvane
