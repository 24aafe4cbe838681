// What every walk over a descriptor list checks, whether it decodes data or expands the list:
// nesting and work bounds, replication room, sequence lookup.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "descriptor/descriptor.hpp"
#include "error/error.hpp"
#include "tables/table_set.hpp"

namespace corvane {

// Levels of sequences and replications below the top list.
inline constexpr unsigned kMaxNesting = 64;
// Codes visited, output or not: nested replications of empty groups do unbounded work silently.
inline constexpr std::uint64_t kMaxWalkSteps = std::uint64_t{1} << 26;

// "{walk} exceeds 67108864 steps".
BufrError too_many_steps(std::string_view walk);

// F above 3.
BufrError invalid_descriptor(std::uint32_t code);

// A replication 1XXYYY and the descriptors it takes after it.
struct Replication {
    std::span<const std::uint32_t> taken;  // the factor when delayed, then the group
    std::span<const std::uint32_t> group;  // the X replicated descriptors
    std::uint32_t count = 0;               // Y; 0 when the factor decides
};

// The replication at `at` in `list`: X descriptors must follow it, and a factor before them
// when Y is 0. Inline, as the sequence lookup below: walks meet them at every other step.
inline Result<Replication> replication_at(std::span<const std::uint32_t> list, std::size_t at) {
    const std::uint32_t code = list[at];
    const std::uint32_t x = descriptor_x(code);
    const std::uint32_t y = descriptor_y(code);
    if (x == 0 || at + x >= list.size()) return BufrError::unsupported_replication(code);
    const std::size_t taken = y != 0 ? x : x + 1;
    if (at + taken >= list.size()) return BufrError::incomplete_delayed_replication(code);
    Replication replication;
    replication.taken = list.subspan(at + 1, taken);
    replication.group = replication.taken.last(x);
    replication.count = y;
    return replication;
}

// The members of a Table D sequence.
inline Result<std::span<const std::uint32_t>> sequence_members(const TableSet& tables, std::uint32_t code) {
    const SequenceDefinition* sequence = tables.find_sequence(code);
    if (sequence == nullptr) return BufrError::sequence_not_found(code);
    return std::span<const std::uint32_t>(sequence->members);
}

}  // namespace corvane
