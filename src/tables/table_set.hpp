// One loaded set of BUFR tables: Table B, Table D and code tables, keyed by descriptor code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "error/error.hpp"

namespace corvane {

// How the decoder reads an element, told by its unit once when the table is loaded.
enum class ElementKind : std::uint8_t {
    Numeric,
    // Code and flag tables: 201YYY, 202YYY and 207YYY leave them alone.
    CodeOrFlag,
    // CCITT IA5 characters.
    Text,
};

ElementKind element_kind(std::string_view unit);

struct ElementDefinition {
    std::uint32_t code = 0;
    std::string abbreviation;
    std::string element_type;
    std::string name;
    std::string unit;
    std::int32_t scale = 0;
    std::int64_t reference = 0;
    std::uint16_t width = 0;
    // Derived from `unit` by parse_element and store_element.
    ElementKind kind = ElementKind::Numeric;

    bool is_text() const { return kind == ElementKind::Text; }
    bool is_code_or_flag() const { return kind == ElementKind::CodeOrFlag; }
    bool operator==(const ElementDefinition&) const = default;
};

// The key users see for values of `element`: its ecCodes name, or its six-digit code where the
// tables have none (the WMO's own).
std::string element_key(const ElementDefinition& element);

struct SequenceDefinition {
    std::uint32_t code = 0;
    std::vector<std::uint32_t> members;
    bool operator==(const SequenceDefinition&) const = default;
};

using CodeTable = std::unordered_map<std::uint64_t, std::string>;
using ElementMap = std::unordered_map<std::uint32_t, ElementDefinition>;
using SequenceMap = std::unordered_map<std::uint32_t, SequenceDefinition>;
using CodeTableMap = std::unordered_map<std::uint32_t, CodeTable>;

// Built once by a loader, then only read. Storing under a present key replaces the value whole.
struct TableSet {
    ElementMap elements;
    SequenceMap sequences;
    CodeTableMap code_tables;

    const ElementDefinition* find_element(std::uint32_t code) const {
        const auto it = elements.find(code);
        return it == elements.end() ? nullptr : &it->second;
    }
    const SequenceDefinition* find_sequence(std::uint32_t code) const {
        const auto it = sequences.find(code);
        return it == sequences.end() ? nullptr : &it->second;
    }
    // The code- or flag-table text for a raw value, or null.
    const std::string* code_meaning(std::uint32_t code, std::uint64_t raw) const {
        const auto table = code_tables.find(code);
        if (table == code_tables.end()) return nullptr;
        const auto entry = table->second.find(raw);
        return entry == table->second.end() ? nullptr : &entry->second;
    }

    void store_element(ElementDefinition element) {
        const std::uint32_t code = element.code;
        element.kind = element_kind(element.unit);
        elements.insert_or_assign(code, std::move(element));
    }
    void store_sequence(SequenceDefinition sequence) {
        const std::uint32_t code = sequence.code;
        sequences.insert_or_assign(code, std::move(sequence));
    }
    void store_code_table(std::uint32_t code, CodeTable table) { code_tables.insert_or_assign(code, std::move(table)); }
    // Copies every entry of `top` over this set: each replaces the entry of equal code whole.
    void overlay(const TableSet& top) {
        for (const auto& [code, element] : top.elements) elements.insert_or_assign(code, element);
        for (const auto& [code, sequence] : top.sequences) sequences.insert_or_assign(code, sequence);
        for (const auto& [code, table] : top.code_tables) code_tables.insert_or_assign(code, table);
    }
    bool empty() const { return elements.empty() && sequences.empty() && code_tables.empty(); }
};

// The texts of one Table B row, as both table formats hold them.
struct ElementFields {
    std::string_view code;
    std::string_view abbreviation;
    std::string_view element_type;
    std::string_view name;
    std::string_view unit;
    std::string_view scale;
    std::string_view reference;
    std::string_view width;
};

// Converts a row in the loaders' order: code, then scale, reference and width.
Result<ElementDefinition> parse_element(const ElementFields& fields);

// Strict field parsers of the table loaders: no trimming, optional sign, digits only.
Result<std::int32_t> parse_i32(std::string_view text);
Result<std::int64_t> parse_i64(std::string_view text);
Result<std::uint16_t> parse_u16(std::string_view text);

}  // namespace corvane
