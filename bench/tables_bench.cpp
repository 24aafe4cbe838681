#include <benchmark/benchmark.h>

#include <filesystem>

#include "message/message.hpp"
#include "tables/bufr4_loader.hpp"
#include "tables/definitions_loader.hpp"
#include "tables/eccodes_loader.hpp"

namespace {

const std::filesystem::path kTables = std::filesystem::path(CORVANE_TEST_DATA) / "tables";

void fail_on(benchmark::State& state, const corvane::BufrError& error) { state.SkipWithError(error.render().c_str()); }

void BM_EccodesVersion39(benchmark::State& state) {
    for (auto _ : state) {
        auto tables = corvane::from_eccodes_dir(kTables / "eccodes" / "39");
        if (!tables) return fail_on(state, tables.error());
        benchmark::DoNotOptimize(tables->code_tables.size());
    }
}
BENCHMARK(BM_EccodesVersion39)->Unit(benchmark::kMillisecond);

// The tables of the *_208.bufr files: master version 13 with the local tables of centre 98.
void BM_DefinitionsForMessage(benchmark::State& state) {
    corvane::BufrMessage message;
    message.originating_centre = 98;
    message.master_tables_version_number = 13;
    message.local_tables_version_number = 101;
    for (auto _ : state) {
        auto tables = corvane::from_eccodes_definitions(kTables / "definitions", message);
        if (!tables) return fail_on(state, tables.error());
        benchmark::DoNotOptimize(tables->elements.size());
    }
}
BENCHMARK(BM_DefinitionsForMessage)->Unit(benchmark::kMillisecond);

void BM_WmoCsv(benchmark::State& state) {
    for (auto _ : state) {
        auto tables = corvane::from_bufr4_45(kTables / "wmo-bufr4");
        if (!tables) return fail_on(state, tables.error());
        benchmark::DoNotOptimize(tables->sequences.size());
    }
}
BENCHMARK(BM_WmoCsv)->Unit(benchmark::kMillisecond);

}  // namespace
