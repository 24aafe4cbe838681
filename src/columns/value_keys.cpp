// Which key and occurrence each value is, and so which column it goes to: the keys of values
// and their ranks within a subset or message.
#include <string>
#include <vector>

#include "columns/table_builder.hpp"
#include "data/decoded_value.hpp"

namespace corvane::detail {

namespace {

// The definition that a value of `source` was read with, if any.
const ElementDefinition* definition_of(const TableSet& tables, const ValueSource& source) {
    if (source.kind == ValueKind::AssociatedField || source.kind == ValueKind::CharacterData ||
        source.kind == ValueKind::UnknownLocalElement) {
        return nullptr;
    }
    const ElementDefinition* element = tables.find_element(source.code);
    return element != nullptr && &element->name == source.name ? element : nullptr;
}

ColumnType type_of(const TableSet& tables, const ValueSource& source) {
    const ElementDefinition* element = definition_of(tables, source);
    if (element == nullptr) return source.kind == ValueKind::CharacterData ? ColumnType::Text : ColumnType::Float64;
    if (element->is_text()) return ColumnType::Text;
    return element->is_code_or_flag() && element->scale == 0 ? ColumnType::Int64 : ColumnType::Float64;
}

std::int32_t scale_of(const TableSet& tables, const ValueSource& source) {
    const ElementDefinition* element = definition_of(tables, source);
    return element != nullptr ? element->scale : 0;
}

}  // namespace

void TableBuilder::reset_counts() {
    for (const std::uint32_t key : counted_) counts_[key] = 0;
    counted_.clear();
}

void TableBuilder::begin_subset() {
    reset_counts();
    position_ = 0;
    in_step_ = true;
}

void TableBuilder::end_subset() {
    // Slots past a subset that left the step of the one before belong to neither.
    if (!in_step_) slots_.resize(position_);
}

const ElementDefinition* TableBuilder::element_slowly(std::uint32_t code, std::size_t slot) {
    const ElementDefinition* found = tables_->find_element(code);
    if (slot < kCachedCodes) cached_elements_[slot] = {tables_, found};
    return found;
}

std::int32_t TableBuilder::value_column_slowly(const ValueSource& source) {
    if (in_step_) {
        in_step_ = false;
        for (std::size_t i = 0; i < position_; ++i) next_rank(slots_[i].key);
    }
    const std::uint32_t key = key_of(source);
    const std::int32_t column = labelled_column(key, source);
    const Slot slot{source, column, key};
    if (position_ < slots_.size()) {
        slots_[position_] = slot;
    } else {
        slots_.push_back(slot);
    }
    ++position_;
    return column;
}

std::int32_t TableBuilder::message_column(const ValueSource& source) { return labelled_column(key_of(source), source); }

std::int32_t TableBuilder::labelled_column(std::uint32_t key, const ValueSource& source) {
    const std::size_t before = columns_.size();
    const std::int32_t column = column_of(key, next_rank(key), true);
    // Elements of other codes can share a key (timePeriod in hours or in minutes): a column
    // tells the code and unit of the value that opened it.
    if (columns_.size() > before && source.code != keys_[key].info.code) {
        ColumnInfo& info = columns_.back().info;
        ValueLabel label = value_label(*tables_, source.kind, source.code, source.name);
        info.code = source.code;
        info.element_name = std::move(label.name);
        info.unit = std::move(label.unit);
        info.scale = scale_of(*tables_, source);
    }
    return column;
}

std::uint32_t TableBuilder::next_rank(std::uint32_t key) {
    if (counts_[key]++ == 0) counted_.push_back(key);
    return counts_[key];
}

std::uint32_t TableBuilder::key_of(const ValueSource& source) {
    const std::size_t slot = cache_slot(source.code);
    if (slot < kCachedCodes && cached_keys_[slot].name == source.name) return cached_keys_[slot].key;
    const std::uint32_t key = key_of_slowly(source);
    if (slot < kCachedCodes) cached_keys_[slot] = {source.name, key};
    return key;
}

std::uint32_t TableBuilder::key_of_slowly(const ValueSource& source) {
    if (const auto found = key_of_source_.find(source); found != key_of_source_.end()) return found->second;
    ValueLabel label = value_label(*tables_, source.kind, source.code, source.name);
    auto [entry, added] = key_ids_.try_emplace(label.key, static_cast<std::uint32_t>(keys_.size()));
    if (added) {
        Key key;
        key.info.key = std::move(label.key);
        key.info.code = source.code;
        key.info.element_name = std::move(label.name);
        key.info.unit = std::move(label.unit);
        key.info.scale = scale_of(*tables_, source);
        key.info.type = type_of(*tables_, source);
        key.every_occurrence = !selection_.has_value();
        for (const ColumnName& name : selection_.value_or(std::vector<ColumnName>{})) {
            if (name.key != key.info.key) continue;
            if (name.rank == 0) key.every_occurrence = true;
            key.occurrences.insert(name.rank);
        }
        for (const Filter& filter : filters_) {
            if (filter.name.key == key.info.key) key.occurrences.insert(filter.name.rank);
        }
        keys_.push_back(std::move(key));
        counts_.push_back(0);
    }
    key_of_source_.emplace(source, entry->second);
    return entry->second;
}

}  // namespace corvane::detail
