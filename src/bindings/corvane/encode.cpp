// encode(): one edition-4 message from values per subset.
#include <array>
#include <bit>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "bindings/corvane/types.hpp"
#include "bindings/support/support.hpp"
#include "encode/encode.hpp"

namespace corvane::py::core {
namespace {

// The fields of the header tuple, in its order, with the largest value each takes.
constexpr std::array<std::pair<const char*, std::uint32_t>, 17> kHeaderFields = {{
    {"master_table", 0xFF},
    {"centre", 0xFFFF},
    {"subcentre", 0xFFFF},
    {"update_sequence", 0xFF},
    {"data_category", 0xFF},
    {"international_subcategory", 0xFF},
    {"local_subcategory", 0xFF},
    {"master_version", 0xFF},
    {"local_version", 0xFF},
    {"year", 0xFFFF},
    {"month", 0xFF},
    {"day", 0xFF},
    {"hour", 0xFF},
    {"minute", 0xFF},
    {"second", 0xFF},
    {"observed", 1},
    {"compressed", 1},
}};

bool to_header(PyObject* object, MessageHeader& header) {
    if (!PyTuple_Check(object) || PyTuple_Size(object) != static_cast<Py_ssize_t>(kHeaderFields.size())) {
        PyErr_SetString(PyExc_TypeError, "argument 'header': a tuple of 17 int, in the order of MessageHeader");
        return false;
    }
    std::array<std::uint32_t, kHeaderFields.size()> fields{};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const auto& [name, top] = kHeaderFields[i];
        if (!to_u32(PyTuple_GetItem(object, static_cast<Py_ssize_t>(i)), name, fields[i])) return false;
        if (fields[i] > top) {
            PyErr_SetString(PyExc_ValueError, (std::string(name) + "=" + std::to_string(fields[i]) +
                                               ": give an int from 0 to " + std::to_string(top))
                                                  .c_str());
            return false;
        }
    }
    const auto u8 = [&](std::size_t i) { return static_cast<std::uint8_t>(fields[i]); };
    const auto u16 = [&](std::size_t i) { return static_cast<std::uint16_t>(fields[i]); };
    header.master_table = u8(0);
    header.centre = u16(1);
    header.subcentre = u16(2);
    header.update_sequence = u8(3);
    header.data_category = u8(4);
    header.international_subcategory = u8(5);
    header.local_subcategory = u8(6);
    header.master_version = u8(7);
    header.local_version = u8(8);
    header.year = u16(9);
    header.month = u8(10);
    header.day = u8(11);
    header.hour = u8(12);
    header.minute = u8(13);
    header.second = u8(14);
    header.observed = fields[15] != 0;
    header.compressed = fields[16] != 0;
    return true;
}

// The values of every subset, one after the other, and where each subset ends. Texts are
// views of str objects, held here while the encoder runs without the GIL.
struct Inputs {
    std::vector<InputValue> values;
    std::vector<std::size_t> ends;
    std::vector<Ref> texts;

    std::vector<SubsetInput> subsets() const {
        std::vector<SubsetInput> out;
        std::size_t start = 0;
        for (const std::size_t end : ends) {
            out.push_back(SubsetInput(values).subspan(start, end - start));
            start = end;
        }
        return out;
    }
};

bool to_value(PyObject* item, PyObject* none, std::size_t subset, std::size_t position, InputValue& out,
              std::vector<Ref>& texts) {
    if (item == none) return true;
    if (PyUnicode_Check(item)) {
        Py_ssize_t size = 0;
        const char* text = PyUnicode_AsUTF8AndSize(item, &size);
        if (text == nullptr) return false;
        Py_IncRef(item);
        texts.emplace_back(item);
        out = InputValue::of(std::string_view(text, static_cast<std::size_t>(size)));
        return true;
    }
    const double number = PyFloat_AsDouble(item);
    if (number == -1.0 && PyErr_Occurred()) {
        PyErr_Clear();
        PyErr_SetString(PyExc_TypeError, ("value " + std::to_string(position + 1) + " of subset " +
                                          std::to_string(subset + 1) + " is no number, str or None")
                                             .c_str());
        return false;
    }
    // NaN is how arrays mark a missing number.
    if (!std::isnan(number)) out = InputValue::of(number);
    return true;
}

constexpr const char* kSubsetsUsage = "argument 'subsets': a list of lists of values, or a 2-D float64 array";

bool to_inputs(PyObject* subsets, Inputs& out) {
    const Ref none(new_none());
    const Py_ssize_t count = PyList_Size(subsets);
    std::size_t total = 0;
    for (Py_ssize_t s = 0; s < count; ++s) {
        PyObject* subset = PyList_GetItem(subsets, s);
        if (!PyList_Check(subset)) {
            PyErr_SetString(PyExc_TypeError, kSubsetsUsage);
            return false;
        }
        total += static_cast<std::size_t>(PyList_Size(subset));
    }
    out.values.reserve(total);
    out.ends.reserve(static_cast<std::size_t>(count));
    for (Py_ssize_t s = 0; s < count; ++s) {
        PyObject* subset = PyList_GetItem(subsets, s);
        const Py_ssize_t size = PyList_Size(subset);
        for (Py_ssize_t i = 0; i < size; ++i) {
            InputValue value;
            if (!to_value(PyList_GetItem(subset, i), none.get(), static_cast<std::size_t>(s),
                          static_cast<std::size_t>(i), value, out.texts)) {
                return false;
            }
            out.values.push_back(value);
        }
        out.ends.push_back(out.values.size());
    }
    return true;
}

// Two ints of a tuple, as a shape or strides are.
bool pair_of(PyObject* tuple, Py_ssize_t& first, Py_ssize_t& second) {
    if (tuple == nullptr || !PyTuple_Check(tuple) || PyTuple_Size(tuple) != 2) return false;
    first = PyLong_AsSsize_t(PyTuple_GetItem(tuple, 0));
    second = PyLong_AsSsize_t(PyTuple_GetItem(tuple, 1));
    return !PyErr_Occurred();
}

// A 2-D array of doubles in native order, by its __array_interface__ (the limited API has no
// buffer protocol); the caller holds the array while the grid is read.
bool to_grid(PyObject* array, NumberGrid& out) {
    const Ref interface(PyObject_GetAttrString(array, "__array_interface__"));
    const char* native = std::endian::native == std::endian::little ? "<f8" : ">f8";
    PyObject* typestr = interface && PyDict_Check(interface.get()) ? PyDict_GetItemString(interface.get(), "typestr")
                                                                   : nullptr;
    PyObject* data = typestr != nullptr ? PyDict_GetItemString(interface.get(), "data") : nullptr;
    Py_ssize_t subsets = 0;
    Py_ssize_t values = 0;
    if (data == nullptr || !PyUnicode_Check(typestr) || PyUnicode_CompareWithASCIIString(typestr, native) != 0 ||
        !PyTuple_Check(data) || PyTuple_Size(data) < 1 ||
        !pair_of(PyDict_GetItemString(interface.get(), "shape"), subsets, values)) {
        PyErr_Clear();
        PyErr_SetString(PyExc_TypeError, kSubsetsUsage);
        return false;
    }
    Py_ssize_t subset_stride = values * 8;
    Py_ssize_t value_stride = 8;
    PyObject* strides = PyDict_GetItemString(interface.get(), "strides");
    const Ref none(new_none());
    if (strides != nullptr && strides != none.get() && !pair_of(strides, subset_stride, value_stride)) {
        PyErr_Clear();
        PyErr_SetString(PyExc_TypeError, kSubsetsUsage);
        return false;
    }
    void* pointer = PyLong_AsVoidPtr(PyTuple_GetItem(data, 0));
    if (pointer == nullptr && PyErr_Occurred()) return false;
    out = {static_cast<const std::uint8_t*>(pointer), static_cast<std::size_t>(subsets),
           static_cast<std::size_t>(values), subset_stride, value_stride};
    return true;
}

}  // namespace

PyObject* encode(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* argv[5];
    std::vector<std::uint32_t> descriptors;
    MessageHeader header;
    Inputs inputs;
    NumberGrid grid;
    if (!parse_arguments({"encode()", {"descriptors", "subsets", "tables", "header", "section2"}}, args, kwargs,
                         argv) ||
        !to_code_list(argv[0], "descriptors", descriptors)) {
        return nullptr;
    }
    const bool lists = PyList_Check(argv[1]) != 0;
    // An array's data is read without the GIL: it stays referenced until then.
    Py_IncRef(argv[1]);
    const Ref held(argv[1]);
    if (!(lists ? to_inputs(argv[1], inputs) : to_grid(argv[1], grid)) ||
        !check_instance(argv[2], "tables", types().tables, "Tables") || !to_header(argv[3], header)) {
        return nullptr;
    }
    const Ref none(new_none());
    if (argv[4] != none.get()) {
        if (!to_bytes_view(argv[4], "section2", header.section2)) return nullptr;
        header.has_section2 = true;
    }
    const TableProvider& provider = unbox<TablesState>(argv[2]).provider;
    const TableChoice choice{header.master_table, header.master_version, header.centre, header.subcentre,
                             header.local_version};
    std::optional<Result<std::vector<std::uint8_t>>> written;
    {
        const WithoutGil unlocked;
        const Result<TableSet>& tables = provider.get(choice);
        if (tables) {
            written.emplace(lists ? encode_message(header, *tables, descriptors, inputs.subsets())
                                  : encode_message(header, *tables, descriptors, grid));
        } else {
            written.emplace(tables.error());
        }
    }
    if (!*written) {
        const BufrError& error = written->error();
        // The caller's own mistakes read best without the kind's prefix.
        if (error.kind() != ErrorKind::BadArgument) return raise_error(provider.explain(choice, error));
        PyErr_SetString(PyExc_ValueError, error.text().c_str());
        return nullptr;
    }
    const std::vector<std::uint8_t>& bytes = **written;
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()),
                                     static_cast<Py_ssize_t>(bytes.size()));
}

}  // namespace corvane::py::core
