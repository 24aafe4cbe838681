// Opens arbitrary bytes as a table archive and, when they pass the checks, loads a few choices:
// every read after the open relies on those checks.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tables/table_archive.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto archive = corvane::TableArchive::from_bytes(std::string(reinterpret_cast<const char*>(data), size));
    if (!archive) return 0;
    // Version 13 directly, 12 through a link, 11 through an alias file; local version 1 of centre 98.
    for (const std::uint8_t version : {11, 12, 13}) {
        (void)archive->load(corvane::TableChoice{0, version, 98, 0, 1});
    }
    return 0;
}
