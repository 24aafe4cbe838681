// Private to the walk: the descriptor walk that both layouts share. Sequences, replication,
// operators, nesting depth and the work bound live here (the checks that expansion shares are
// in tables/descriptor_list); each layout reads values its own way through functions found
// beside its walk type, and has a `sink` told of replications:
//   Status decode_element(Walk&, std::uint32_t code)
//   Result<std::uint64_t> read_replication_factor(Walk&, const ElementDefinition& factor)
//   Status read_character_data(Walk&, std::uint32_t code)
//   Status read_bitmap_driven(Walk&, const BitmapReference& reference, const NumericField& field)
//   Status append_marker(Walk&, std::uint32_t code)
#pragma once

#include <cstdint>
#include <span>

#include "descriptor/descriptor.hpp"
#include "error/error.hpp"
#include "tables/descriptor_list.hpp"
#include "tables/table_set.hpp"
#include "walk/element_reading.hpp"
#include "walk/operators.hpp"
#include "walk/walk_types.hpp"

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
        Result<BitmapTarget> referenced = walk.state.next_bitmap_element();
        if (!referenced) return std::move(referenced).error();
        const HistoryEntry& entry = referenced->entry;
        if (entry.element == nullptr) return {};
        const BitmapReference reference{code, referenced->index, entry.element};
        return read_bitmap_driven(walk, reference, attached_field(entry, descriptor_x(code) == 25));
    }
    if (step.marker) {
        if (Status appended = append_marker(walk, code); !appended) return appended;
    }
    apply_bitmap_change(step.bitmap, walk.state.bitmaps);
    apply_operator(code, walk.state.operators);
    return {};
}

template <class Walk>
Status walk_descriptors(Walk& walk, std::span<const std::uint32_t> descriptors, unsigned depth) {
    if (depth > kMaxNesting) return BufrError::limit_exceeded(Walk::kDepthError);
    if (++walk.steps > kMaxWalkSteps) return too_many_steps("descriptor walk");
    const auto repeat = [&](std::uint32_t code, std::span<const std::uint32_t> group, std::uint64_t count) -> Status {
        walk.sink.begin_replication(code, count);
        for (std::uint64_t r = 0; r < count; ++r) {
            walk.sink.begin_repetition(r);
            if (Status walked = walk_descriptors(walk, group, depth + 1); !walked) return walked;
            walk.sink.end_repetition(r);
        }
        walk.sink.end_replication(code);
        return {};
    };
    for (std::size_t i = 0; i < descriptors.size(); ++i) {
        if (++walk.steps > kMaxWalkSteps) return too_many_steps("descriptor walk");
        const std::uint32_t code = descriptors[i];
        Status status;
        switch (descriptor_f(code)) {
            case 0:
                status = decode_element(walk, code);
                break;
            case 1: {
                Result<Replication> replication = replication_at(descriptors, i);
                if (!replication) return std::move(replication).error();
                i += replication->taken.size();
                if (replication->count != 0) {
                    status = repeat(code, replication->group, replication->count);
                    break;
                }
                const std::uint32_t factor_code = replication->taken.front();
                const ElementDefinition* factor = walk.tables.find_element(factor_code);
                if (factor == nullptr) return BufrError::element_not_found(factor_code);
                Result<std::uint64_t> count = read_replication_factor(walk, *factor);
                if (!count) return std::move(count).error();
                status = repeat(code, replication->group, *count);
                break;
            }
            case 2:
                status = walk_operator(walk, code);
                break;
            case 3: {
                Result<std::span<const std::uint32_t>> members = sequence_members(walk.tables, code);
                if (!members) return std::move(members).error();
                status = walk_descriptors(walk, *members, depth + 1);
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
