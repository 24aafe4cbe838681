// Which value stands where in a subset: what a caller that names values by key needs to put
// them in the order the encoder takes them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "error/error.hpp"
#include "tables/table_set.hpp"
#include "walk/walk_types.hpp"

namespace corvane {

struct LaidValue {
    std::string key;
    std::uint32_t code = 0;  // 999999 for associated fields
    // Its occurrence among the values of its key, from 1: n of "#n#key".
    std::uint32_t rank = 1;
    // A delayed replication or repetition factor: its value is the count of its group.
    bool factor = false;
};

// Every value of one subset of `descriptors`, in order, when the i-th delayed replication factor
// takes counts[i] (0 past the counts given) and every other value is missing: the walk the
// encoder runs, so Table D, replications and operators expand as they do when it writes. A count
// that does not fit its factor fails naming `subset` (from 0), the subset it is laid out for.
Result<std::vector<LaidValue>> value_layout(const TableSet& tables, std::span<const std::uint32_t> descriptors,
                                            std::span<const std::uint64_t> counts, std::uint32_t subset = 0);

// The key the reader gives a value: its element's, "associatedField", or else its code.
std::string value_key(const WalkValue& value);

}  // namespace corvane
