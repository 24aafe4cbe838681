#include <benchmark/benchmark.h>

#include <filesystem>

#include "message/message.hpp"
#include "tables/bufr4_loader.hpp"
#include "tables/definitions_loader.hpp"
#include "tables/eccodes_loader.hpp"
#include "tables/table_archive.hpp"

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

void BM_ArchiveOpen(benchmark::State& state) {
    for (auto _ : state) {
        auto archive = corvane::TableArchive::open(CORVANE_TABLE_ARCHIVE);
        if (!archive) return fail_on(state, archive.error());
        benchmark::DoNotOptimize(archive->label());
    }
}
BENCHMARK(BM_ArchiveOpen)->Unit(benchmark::kMillisecond);

// One choice from the opened archive: master version 39 alone, then 13 with centre 98's local tables.
void BM_ArchiveChoice(benchmark::State& state) {
    auto archive = corvane::TableArchive::open(CORVANE_TABLE_ARCHIVE);
    if (!archive) return fail_on(state, archive.error());
    const auto local_version = static_cast<std::uint8_t>(state.range(1));
    const corvane::TableChoice choice{0, static_cast<std::uint8_t>(state.range(0)), 98, 0, local_version};
    for (auto _ : state) {
        auto tables = archive->load(choice);
        if (!tables) return fail_on(state, tables.error());
        benchmark::DoNotOptimize(tables->code_tables.size());
    }
}
BENCHMARK(BM_ArchiveChoice)->Args({39, 0})->Args({13, 101})->Args({46, 0})->Unit(benchmark::kMillisecond);

void BM_WmoCsv(benchmark::State& state) {
    for (auto _ : state) {
        auto tables = corvane::from_bufr4_45(kTables / "wmo-bufr4");
        if (!tables) return fail_on(state, tables.error());
        benchmark::DoNotOptimize(tables->sequences.size());
    }
}
BENCHMARK(BM_WmoCsv)->Unit(benchmark::kMillisecond);

}  // namespace
