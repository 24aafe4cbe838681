#include "tables/expand.hpp"

#include <algorithm>
#include <string>

#include "descriptor/descriptor.hpp"
#include "tables/descriptor_list.hpp"

namespace corvane {
namespace {

BufrError too_long() {
    return BufrError::limit_exceeded("descriptor expansion exceeds " + std::to_string(kMaxExpandedDescriptors) +
                                     " descriptors");
}

Status append(std::vector<std::uint32_t>& out, std::uint32_t code) {
    if (out.size() >= kMaxExpandedDescriptors) return too_long();
    out.push_back(code);
    return {};
}

bool drops_operator(std::uint32_t x) { return x == 1 || x == 2 || x == 6 || x == 7 || x == 8; }

// Expands `group` `count` times. The walk of a group visits the same codes whatever the state, and
// leaves the state either as it found it or at the group's last 204YYY: so the second and every
// later repetition start from the same state and produce the same codes.
Status replicate(const TableSet& tables, std::span<const std::uint32_t> group, std::uint32_t count,
                 std::vector<std::uint32_t>& out, ExpansionState& state, unsigned depth) {
    Result<std::size_t> first = expand_into(tables, group, out, state, depth);
    if (!first) return std::move(first).error();
    // An empty repetition met no element and no kept operator, so all the others are empty too.
    if (*first == 0 || count == 1) return {};
    const std::size_t start = out.size();
    Result<std::size_t> second = expand_into(tables, group, out, state, depth);
    if (!second) return std::move(second).error();
    const std::size_t length = *second;
    const std::size_t repeats = count - 2;
    if (length == 0 || repeats == 0) return {};
    if (length * repeats > kMaxExpandedDescriptors - out.size()) return too_long();
    const std::size_t end = out.size();
    out.resize(end + length * repeats);
    for (std::size_t r = 0; r < repeats; ++r) {
        std::copy_n(out.begin() + static_cast<std::ptrdiff_t>(start), length,
                    out.begin() + static_cast<std::ptrdiff_t>(end + r * length));
    }
    return {};
}

}  // namespace

Result<std::size_t> expand_into(const TableSet& tables, std::span<const std::uint32_t> codes,
                                std::vector<std::uint32_t>& out, ExpansionState& state, unsigned depth) {
    if (depth > kMaxNesting) return BufrError::limit_exceeded("sequence expansion exceeded recursion depth");
    const std::size_t start = out.size();
    for (std::size_t i = 0; i < codes.size(); ++i) {
        if (++state.steps > kMaxWalkSteps) return too_many_steps("descriptor expansion");
        const std::uint32_t code = codes[i];
        const std::uint32_t x = descriptor_x(code);
        switch (descriptor_f(code)) {
            case 0:
                if (state.associated_field_width != 0 && x != 31) {
                    if (Status s = append(out, kAssociatedFieldCode); !s) return std::move(s).error();
                }
                if (Status s = append(out, code); !s) return std::move(s).error();
                break;
            case 1: {
                Result<Replication> replication = replication_at(codes, i);
                if (!replication) return std::move(replication).error();
                i += replication->taken.size();
                if (replication->count != 0) {
                    if (Status s = replicate(tables, replication->group, replication->count, out, state, depth + 1);
                        !s) {
                        return std::move(s).error();
                    }
                    break;
                }
                // Delayed: the factor descriptor comes first and is expanded with the group, once.
                Result<std::size_t> n = expand_into(tables, replication->taken, out, state, depth + 1);
                if (!n) return std::move(n).error();
                break;
            }
            case 2:
                if (x == 4) {
                    state.associated_field_width = static_cast<std::uint8_t>(descriptor_y(code));
                } else if (!drops_operator(x)) {
                    if (Status s = append(out, code); !s) return std::move(s).error();
                }
                break;
            case 3: {
                Result<std::span<const std::uint32_t>> members = sequence_members(tables, code);
                if (!members) return std::move(members).error();
                Result<std::size_t> n = expand_into(tables, *members, out, state, depth + 1);
                if (!n) return std::move(n).error();
                break;
            }
            default:
                return invalid_descriptor(code);
        }
    }
    return out.size() - start;
}

Result<std::vector<std::uint32_t>> expand_descriptors(const TableSet& tables, std::span<const std::uint32_t> codes) {
    std::vector<std::uint32_t> out;
    ExpansionState state;
    Result<std::size_t> n = expand_into(tables, codes, out, state, 0);
    if (!n) return std::move(n).error();
    return out;
}

}  // namespace corvane
