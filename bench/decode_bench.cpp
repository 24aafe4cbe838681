// Data-section decoding (and encoding) throughput on real messages, tables loaded once per file.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "columns/columns.hpp"
#include "data/decoder.hpp"
#include "data/value_sinks.hpp"
#include "encode/encode.hpp"
#include "files/files.hpp"
#include "message/message.hpp"
#include "tables/definitions_loader.hpp"

namespace {

using namespace corvane;

// CORVANE_BENCH_DATA may name another folder laid out like tests/data (bufr/, tables/definitions/),
// for workloads too large to keep in the repository.
std::string data_dir() {
    const char* dir = std::getenv("CORVANE_BENCH_DATA");
    return dir != nullptr ? dir : CORVANE_TEST_DATA;
}

struct Workload {
    std::vector<std::uint8_t> bytes;
    std::vector<BufrMessage> messages;
    std::vector<std::span<const std::uint8_t>> sections;
    // Messages naming the same tables share one set.
    std::vector<TableSet> tables;
    std::vector<std::size_t> tables_of;
    std::string error;
};

Workload load(const std::string& file) {
    Workload workload;
    auto bytes = read_whole_file(data_dir() + "/bufr/" + file);
    if (!bytes) {
        workload.error = bytes.error().render();
        return workload;
    }
    workload.bytes = std::move(*bytes);
    auto ranges = split_messages(workload.bytes);
    if (!ranges || ranges->empty()) {
        workload.error = ranges ? "no message" : ranges.error().render();
        return workload;
    }
    for (const ByteRange& range : *ranges) {
        const std::span<const std::uint8_t> message_bytes(workload.bytes.data() + range.offset, range.length);
        auto message = parse_message(message_bytes);
        if (!message) {
            workload.error = message.error().render();
            return workload;
        }
        workload.sections.push_back(message->section4_data(message_bytes));
        workload.messages.push_back(std::move(*message));
    }
    std::vector<const BufrMessage*> loaded_for;
    for (const BufrMessage& message : workload.messages) {
        const auto same = [&](const BufrMessage* other) {
            return other->master_table_number == message.master_table_number &&
                   other->master_tables_version_number == message.master_tables_version_number &&
                   other->local_tables_version_number == message.local_tables_version_number &&
                   other->originating_centre == message.originating_centre &&
                   other->originating_subcentre == message.originating_subcentre;
        };
        std::size_t index = 0;
        while (index < loaded_for.size() && !same(loaded_for[index])) ++index;
        if (index == loaded_for.size()) {
            auto tables = from_eccodes_definitions(data_dir() + "/tables/definitions", message);
            if (!tables) {
                workload.error = tables.error().render();
                return workload;
            }
            workload.tables.push_back(std::move(*tables));
            loaded_for.push_back(&message);
        }
        workload.tables_of.push_back(index);
    }
    return workload;
}

void decode_all(benchmark::State& state, const std::string& file) {
    const Workload workload = load(file);
    if (!workload.error.empty()) {
        state.SkipWithError(workload.error.c_str());
        return;
    }
    std::size_t values = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < workload.messages.size(); ++i) {
            auto decoded = decode_uncompressed_values(workload.messages[i], workload.tables[workload.tables_of[i]],
                                                      workload.sections[i]);
            if (!decoded) {
                state.SkipWithError(decoded.error().render().c_str());
                return;
            }
            values += decoded->size();
            benchmark::DoNotOptimize(*decoded);
        }
    }
    state.counters["messages/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * workload.messages.size()), benchmark::Counter::kIsRate);
    state.counters["values/s"] = benchmark::Counter(static_cast<double>(values), benchmark::Counter::kIsRate);
}

// The column walk alone: every bit of section 4 read and checked, before values are built.
void BM_ColumnWalkHirsCompressed(benchmark::State& state) {
    const Workload workload = load("hirs-metop-compressed.bufr");
    if (!workload.error.empty()) {
        state.SkipWithError(workload.error.c_str());
        return;
    }
    std::size_t values = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < workload.messages.size(); ++i) {
            BitReader reader(workload.sections[i]);
            auto columns = detail::read_compressed_columns(workload.messages[i], workload.tables[workload.tables_of[i]],
                                                           reader);
            if (!columns) {
                state.SkipWithError(columns.error().render().c_str());
                return;
            }
            values += columns->value_count();
            benchmark::DoNotOptimize(columns->cells.data());
        }
    }
    state.counters["values/s"] = benchmark::Counter(static_cast<double>(values), benchmark::Counter::kIsRate);
}

// Every message into columns, tables loaded once.
void columns_of(benchmark::State& state, const std::string& file) {
    auto bytes = read_whole_file(data_dir() + "/bufr/" + file);
    if (!bytes) {
        state.SkipWithError(bytes.error().render().c_str());
        return;
    }
    const TableProvider tables = TableProvider::from_definitions(data_dir() + "/tables/definitions");
    std::size_t cells = 0;
    for (auto _ : state) {
        auto table = decode_columns(*bytes, tables, {}, kPackageDecodeOptions);
        if (!table || !table->errors.empty()) {
            state.SkipWithError(table ? table->errors.front().text.c_str() : table.error().render().c_str());
            return;
        }
        cells += table->rows * table->columns.size();
        benchmark::DoNotOptimize(table->columns.data());
    }
    state.counters["cells/s"] = benchmark::Counter(static_cast<double>(cells), benchmark::Counter::kIsRate);
}

void BM_ColumnsSynop(benchmark::State& state) { columns_of(state, "dwd-synop-44msgs.bufr"); }
void BM_ColumnsHirsCompressed(benchmark::State& state) { columns_of(state, "hirs-metop-compressed.bufr"); }

// The first three HIRS messages written again, compressed, from grids of their numbers (a row
// per subset, NaN for missing), as encode gets a NumPy array.
void BM_EncodeHirsCompressed(benchmark::State& state) {
    const Workload workload = load("hirs-metop-compressed.bufr");
    if (!workload.error.empty()) {
        state.SkipWithError(workload.error.c_str());
        return;
    }
    const std::size_t count = std::min<std::size_t>(3, workload.messages.size());
    std::vector<std::vector<double>> grids(count);
    std::vector<NumberGrid> inputs(count);
    for (std::size_t i = 0; i < count; ++i) {
        auto decoded = decode_uncompressed_values(workload.messages[i], workload.tables[workload.tables_of[i]],
                                                  workload.sections[i]);
        if (!decoded) {
            state.SkipWithError(decoded.error().render().c_str());
            return;
        }
        for (std::size_t v = 0; v < decoded->size(); ++v) {
            const DecodedValue& value = decoded->values[v];
            if (value.kind() == ValueKind::Marker) continue;
            if (value.raw_text()) {
                state.SkipWithError("a text among the HIRS values");
                return;
            }
            grids[i].push_back(value.raw_value().value_or(std::nan("")));
        }
        const std::size_t subsets = workload.messages[i].number_of_subsets;
        const std::size_t per_subset = grids[i].size() / subsets;
        if (state.range(0) == 1) {
            // One row per value, as columns come, read through its transpose.
            std::vector<double> by_value(grids[i].size());
            for (std::size_t s = 0; s < subsets; ++s) {
                for (std::size_t v = 0; v < per_subset; ++v) by_value[v * subsets + s] = grids[i][s * per_subset + v];
            }
            grids[i] = std::move(by_value);
            inputs[i] = {reinterpret_cast<const std::uint8_t*>(grids[i].data()), subsets, per_subset, sizeof(double),
                         static_cast<std::ptrdiff_t>(subsets * sizeof(double))};
        } else {
            inputs[i] = {reinterpret_cast<const std::uint8_t*>(grids[i].data()), subsets, per_subset,
                         static_cast<std::ptrdiff_t>(per_subset * sizeof(double)), sizeof(double)};
        }
    }
    std::size_t values = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < count; ++i) {
            const BufrMessage& message = workload.messages[i];
            MessageHeader header;
            header.master_table = message.master_table_number;
            header.centre = message.originating_centre;
            header.master_version = message.master_tables_version_number;
            header.local_version = message.local_tables_version_number;
            header.compressed = true;
            auto written = encode_message(header, workload.tables[workload.tables_of[i]],
                                          message.unexpanded_descriptors, inputs[i]);
            if (!written) {
                state.SkipWithError(written.error().render().c_str());
                return;
            }
            values += grids[i].size();
            benchmark::DoNotOptimize(written->data());
        }
    }
    state.counters["values/s"] = benchmark::Counter(static_cast<double>(values), benchmark::Counter::kIsRate);
}

void BM_DecodeSynop(benchmark::State& state) { decode_all(state, "dwd-synop-44msgs.bufr"); }
void BM_DecodeHirsCompressed(benchmark::State& state) { decode_all(state, "hirs-metop-compressed.bufr"); }

BENCHMARK(BM_DecodeSynop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeHirsCompressed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColumnWalkHirsCompressed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColumnsSynop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColumnsHirsCompressed)->Unit(benchmark::kMillisecond);
// 0: a row per subset; 1: a row per value, transposed.
BENCHMARK(BM_EncodeHirsCompressed)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
