// Reading a whole file into memory, for path arguments.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "error/error.hpp"

namespace corvane {

// The file's bytes, or an Io error with the operating system's text.
Result<std::vector<std::uint8_t>> read_whole_file(const std::string& path);

}  // namespace corvane
