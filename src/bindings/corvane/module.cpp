// Module entry of corvane._core.
#include "bindings/corvane/records.hpp"
#include "bindings/corvane/types.hpp"
#include "bindings/support/support.hpp"
#include "columns/columns.hpp"

namespace corvane::py::core {
namespace {

PyMethodDef module_functions[] = {
    method<scan>("scan", kKeywordCall,
                 "scan(data, stream_offset=0)\n--\n\nEvery message marker of data, as MessageEntries; errors "
                 "name offsets in a stream where data starts at stream_offset."),
    method<scan_window>("scan_window", kKeywordCall,
                        "scan_window(data, stream_offset)\n--\n\nThe messages of data, the start of a longer "
                        "stream, that the bytes after it cannot change, and the offset where scanning resumes: "
                        "(MessageEntries, resume)."),
    method<parse>("parse", kKeywordCall,
                  "parse(data, offset, length)\n--\n\nThe MessageMetadata of one message of edition 2, 3 or 4."),
    method<parse_all>("parse_all", kKeywordCall,
                      "parse_all(data, entries)\n--\n\nThe section metadata of every message of `entries`, "
                      "as a dict of native int64 bytes per field (memoryview(b).cast('q') reads them) and "
                      "'errors', the (position, text) of each message that cannot be read."),
    method<decode>("decode", kKeywordCall,
                   "decode(data, offset, length, tables)\n--\n\nThe decoded data of one message, as Decoded."),
    method<decode_columns>(
        "decode_columns", kKeywordCall,
        "decode_columns(data, entries, tables, keys=None, filters=None)\n--\n\n"
        "The messages of `entries` (what scan() gives, or MessageEntry records) as one ColumnTable: "
        "`keys` selects key occurrences ('key' every one, '#n#key' the n-th), `filters` keeps rows that pass "
        "every ColumnFilter."),
    method<decode_rows>(
        "decode_rows", kKeywordCall,
        "decode_rows(data, entries, tables, columns, filters)\n--\n\n"
        "The messages of `entries` as one ColumnTable of observation rows: `columns` are (name, required) "
        "pairs, `filters` ColumnFilter records on keys chosen or not."),
    method<encode>("encode", kKeywordCall,
                   "encode(descriptors, subsets, tables, header, section2)\n--\n\n"
                   "One edition-4 message as bytes: `subsets` a list of lists of values (None, numbers, str), "
                   "`header` the fields of sections 1 and 3 as a tuple of int, `section2` bytes or None."),
    method<value_layout>("value_layout", kKeywordCall,
                         "value_layout(descriptors, tables, choice, counts)\n--\n\n"
                         "The values of one subset when the i-th delayed replication factor takes counts[i] (0 "
                         "past them) and every other value is missing: (keys, '#n#key' names, positions of the "
                         "factors); `choice` the (master_table, master_version, centre, subcentre, local_version) "
                         "of the tables."),
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "corvane._core",
    "The native core of the corvane package.",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

PyObject* init_module() {
    Types& cache = types();
    Ref module(create_module(module_definition,
                             {{tables_spec, "Tables", cache.tables},
                              {decoded_spec, "Decoded", cache.decoded},
                              {value_spec, "Value", cache.value},
                              {column_table_spec, "ColumnTable", cache.column_table},
                              {column_memory_spec, "ColumnMemory", cache.column_memory},
                              {message_entries_spec, "MessageEntries", cache.message_entries},
                              {mapped_file_spec, "MappedFile", cache.mapped_file}},
                             module_functions));
    if (!module || !import_records()) return nullptr;
    Ref missing(to_python(kMissingCode));
    if (!missing || PyModule_AddObjectRef(module.get(), "MISSING_CODE", missing.get()) != 0) return nullptr;
    return module.release();
}

}  // namespace

Types& types() {
    static Types cache;
    return cache;
}

}  // namespace corvane::py::core

PyMODINIT_FUNC PyInit__core() { return corvane::py::guarded<corvane::py::core::init_module>(); }
