// Runs every table-file parser on the same bytes, written where each loader expects its file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "scratch_dir.hpp"
#include "tables/bufr4_loader.hpp"
#include "tables/eccodes_loader.hpp"
#include "tables/expand.hpp"

namespace {

void write(const std::filesystem::path& file, const std::uint8_t* data, std::size_t size) {
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (out == nullptr) std::abort();
    if (size != 0 && std::fwrite(data, 1, size, out) != size) std::abort();
    std::fclose(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ScratchDir scratch;
    const std::filesystem::path& dir = scratch.path();
    std::error_code error;
    if (!std::filesystem::create_directory(dir / "codetables", error)) std::abort();
    write(dir / "element.table", data, size);
    write(dir / "sequence.def", data, size);
    write(dir / "codetables" / "1001.table", data, size);
    write(dir / "BUFRCREX_TableB_en_01.csv", data, size);
    write(dir / "BUFR_TableD_en_01.csv", data, size);

    corvane::ElementMap elements;
    (void)corvane::load_eccodes_element_table(elements, dir / "element.table");
    corvane::SequenceMap sequences;
    (void)corvane::load_eccodes_sequence_def(sequences, dir / "sequence.def");
    corvane::CodeTableMap code_tables;
    (void)corvane::load_eccodes_code_tables(code_tables, dir / "codetables");

    auto csv = corvane::from_bufr4_45(dir);
    auto tables = corvane::from_eccodes_dir(dir);
    // Whatever sequences were read, expanding each must end cleanly.
    if (tables) {
        for (const auto& [code, sequence] : tables->sequences) {
            const std::uint32_t top[] = {code};
            (void)corvane::expand_descriptors(*tables, top);
        }
    }
    (void)csv;
    return 0;
}
