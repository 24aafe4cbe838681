// Private to the decoders: the descriptor walk that both data layouts share. Sequences,
// replication, operators, nesting depth and the work bound live here; the walk type reads
// values its own way through functions found beside it:
//   Status decode_element(Walk&, std::uint32_t code)
//   Result<std::uint64_t> read_replication_factor(Walk&, const ElementDefinition& factor)
//   Status read_character_data(Walk&, std::uint32_t code)
//   Status read_bitmap_driven(Walk&, const ElementDefinition& element, bool difference_statistics)
//   Status append_marker(Walk&, std::uint32_t code)
#pragma once

#include <cstdint>
#include <span>

#include "data/element_reading.hpp"
#include "data/operators.hpp"
#include "descriptor/descriptor.hpp"
#include "error/error.hpp"
#include "tables/table_set.hpp"

namespace corvane::detail {

// The operator step: a bitmap-driven value, or a marker and then the state change.
// Every bitmap operation costs the same whatever the bitmap holds, so the step bound covers
// bitmap work too.
template <class Walk>
Status walk_operator(Walk& walk, std::uint32_t code) {
    walk.state.bitmaps.end_run();
    if (is_character_data(code)) return read_character_data(walk, code);
    const OperatorStep step = operator_step(code);
    if (step.bitmap_driven) {
        Result<const ElementDefinition*> referenced = walk.state.next_bitmap_element();
        if (!referenced) return std::move(referenced).error();
        if (*referenced == nullptr) return {};
        return read_bitmap_driven(walk, **referenced, descriptor_x(code) == 25);
    }
    if (step.marker) {
        if (Status appended = append_marker(walk, code); !appended) return appended;
    }
    apply_bitmap_change(step.bitmap, walk.state.bitmaps);
    apply_operator(code, walk.state.operators);
    return {};
}

template <class Walk>
Status walk_descriptors(Walk& walk, std::span<const std::uint32_t> descriptors, unsigned depth,
                        const char* depth_error) {
    if (depth > kMaxDepth) return BufrError::parse(depth_error);
    if (++walk.steps > kMaxWalkSteps) return too_many_steps();
    const auto repeat = [&](std::span<const std::uint32_t> group, std::uint64_t count) -> Status {
        for (std::uint64_t r = 0; r < count; ++r) {
            if (Status walked = walk_descriptors(walk, group, depth + 1, depth_error); !walked) return walked;
        }
        return {};
    };
    const std::size_t length = descriptors.size();
    for (std::size_t i = 0; i < length; ++i) {
        if (++walk.steps > kMaxWalkSteps) return too_many_steps();
        const std::uint32_t code = descriptors[i];
        Status status;
        switch (descriptor_f(code)) {
            case 0:
                status = decode_element(walk, code);
                break;
            case 1: {
                const std::uint32_t x = descriptor_x(code);
                const std::uint32_t y = descriptor_y(code);
                if (x == 0 || i + x >= length) return BufrError::unsupported_replication(code);
                if (y != 0) {
                    status = repeat(descriptors.subspan(i + 1, x), y);
                    i += x;
                    break;
                }
                if (i + x + 1 >= length) return BufrError::incomplete_delayed_replication(code);
                const std::uint32_t factor_code = descriptors[i + 1];
                const ElementDefinition* factor = walk.tables.find_element(factor_code);
                if (factor == nullptr) return BufrError::element_not_found(factor_code);
                Result<std::uint64_t> count = read_replication_factor(walk, *factor);
                if (!count) return std::move(count).error();
                status = repeat(descriptors.subspan(i + 2, x), *count);
                i += x + 1;
                break;
            }
            case 2:
                status = walk_operator(walk, code);
                break;
            case 3: {
                const SequenceDefinition* sequence = walk.tables.find_sequence(code);
                if (sequence == nullptr) return BufrError::sequence_not_found(code);
                status = walk_descriptors(walk, std::span<const std::uint32_t>(sequence->members), depth + 1,
                                          depth_error);
                break;
            }
            default:
                return invalid_descriptor(code);
        }
        if (!status) return status;
    }
    return {};
}

}  // namespace corvane::detail
