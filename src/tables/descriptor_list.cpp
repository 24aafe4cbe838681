#include "tables/descriptor_list.hpp"

#include <string>

#include "text/text.hpp"

namespace corvane {

BufrError too_many_steps(std::string_view walk) {
    return BufrError::limit_exceeded(std::string(walk) + " exceeds " + std::to_string(kMaxWalkSteps) + " steps");
}

BufrError invalid_descriptor(std::uint32_t code) {
    return BufrError::invalid_data("invalid descriptor " + format_code(code));
}

}  // namespace corvane
