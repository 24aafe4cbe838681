// Decodes arbitrary bytes into columns (every key, and a chosen few under a filter) and into
// observation rows with attributes: never a crash, a hang, a leak or a column whose length is
// not the table's.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "columns/columns.hpp"
#include "rows/rows.hpp"
#include "tables/eccodes_loader.hpp"

namespace {

const corvane::TableProvider& tables() {
    static const corvane::TableProvider provider = [] {
        auto set = corvane::from_eccodes_dir(std::string(CORVANE_TEST_DATA) +
                                             "/tables/definitions/bufr/tables/0/wmo/39");
        if (!set.ok()) __builtin_trap();
        return corvane::TableProvider::fixed(std::move(set).value());
    }();
    return provider;
}

void check(const corvane::Result<corvane::ColumnTable>& table) {
    if (!table.ok()) return;
    for (const corvane::Column& column : table->columns) {
        if (column.size() != table->rows) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    tables();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> buffer(data, size);
    check(corvane::decode_columns(buffer, tables(), {}, corvane::kPackageDecodeOptions));
    corvane::ColumnRequest chosen;
    chosen.keys = {"#2#airTemperature", "stationNumber", "001015"};
    chosen.filters = {{"airTemperature", true, {}, {}, 250.0, std::nullopt}};
    check(corvane::decode_columns(buffer, tables(), chosen, corvane::kPackageDecodeOptions));
    corvane::RowRequest rows;
    rows.columns = {{"stationNumber"},
                    {"pressure"},
                    {"airTemperature->percentConfidence", false},
                    {"airTemperature->associatedField", false},
                    {"#2#airTemperature->firstOrderStatisticalValue", false}};
    rows.filters = chosen.filters;
    check(corvane::decode_rows(buffer, tables(), rows, corvane::kPackageDecodeOptions));
    return 0;
}
