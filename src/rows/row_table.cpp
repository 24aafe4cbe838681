#include "rows/row_table.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "data/decoded_value.hpp"

namespace corvane::detail {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Cells of one message's structures: a compressed message of 65,535 subsets multiplies every
// tracked value.
constexpr std::size_t kMaxStructureCells = std::size_t{1} << 26;

ColumnType column_type(const ElementDefinition* element) {
    if (element == nullptr) return ColumnType::Float64;
    if (element->is_text()) return ColumnType::Text;
    return element->is_code_or_flag() && element->scale == 0 ? ColumnType::Int64 : ColumnType::Float64;
}

// Elements of classes 01 to 09: where, when and at what level an observation was made.
bool is_coordinate_value(const WalkValue& value) {
    const std::uint32_t x = value.code / 1000;
    return value.kind == ValueKind::Element && x >= 1 && x <= 9;
}

}  // namespace

RowTable::RowTable(std::vector<TrackedKey> keys, std::vector<ColumnInfo> columns, std::vector<ColumnFilter> filters)
    : keys_(std::move(keys)),
      filters_(std::move(filters)),
      elements_(kCachedCodes),
      names_(kCachedCodes),
      row_(keys_.size(), -1),
      arena_(std::make_unique<ColumnArena>()),
      message_(ColumnCells::row_column(*arena_, "message")),
      subset_(ColumnCells::row_column(*arena_, "subset")),
      columns_(columns.size()),
      settled_(columns.size(), false) {
    for (ColumnFilter& filter : filters_) std::sort(filter.numbers.begin(), filter.numbers.end());
    for (std::size_t c = 0; c < columns.size(); ++c) columns_[c].info = std::move(columns[c]);
    for (std::uint32_t k = 0; k < keys_.size(); ++k) {
        wants_associated_ = wants_associated_ || keys_[k].attribute == associated_field_label();
        const auto [found, added] = name_ids_.try_emplace(keys_[k].name.key, keys_of_name_.size());
        if (added) keys_of_name_.emplace_back();
        keys_of_name_[found->second].push_back(k);
    }
    counts_.assign(keys_of_name_.size(), 0);
}

void RowTable::begin_message(const TableSet& tables) {
    tables_ = &tables;
    base_ = rows_;
}

Status RowTable::end_message() {
    if (too_large_) {
        return BufrError::limit_exceeded("the rows would hold more than " + std::to_string(kMaxColumnCells) + " cells");
    }
    return {};
}

void RowTable::abandon_message() {
    rows_ = base_;
    ColumnCells::truncate(message_, base_);
    ColumnCells::truncate(subset_, base_);
    for (Column& column : columns_) ColumnCells::truncate(column, base_);
    too_large_ = false;
}

const ElementDefinition* RowTable::element_slowly(std::uint32_t code, std::size_t slot) {
    const ElementDefinition* found = tables_->find_element(code);
    if (slot < kCachedCodes) elements_[slot] = {tables_, found};
    return found;
}

void RowTable::begin_structure(std::uint64_t subsets) {
    subsets_ = subsets;
    coordinates_.clear();
    level_ = 0;
    std::fill(counts_.begin(), counts_.end(), 0);
    events_.clear();
    waiting_.clear();
    associated_.reset();
    numbers_.clear();
    texts_.clear();
    chars_.clear();
}

std::uint32_t RowTable::level_of(const WalkValue& value) {
    if (!is_coordinate_value(value)) return level_;
    for (std::size_t i = coordinates_.size(); i-- > 0;) {
        if (coordinates_[i].code == value.code) {
            coordinates_.resize(i + 1);
            level_ = coordinates_[i].level + 1;
            return coordinates_[i].level;
        }
    }
    coordinates_.push_back({value.code, level_});
    return level_++;
}

std::uint32_t RowTable::name_id(const WalkValue& value) {
    const std::string* name = value_name(value);
    const std::size_t slot = cache_slot(value.code);
    if (slot < kCachedCodes && names_[slot].name == name) return names_[slot].id;
    const auto found = name_ids_.find(element_key(*value.element));
    const std::uint32_t id = found == name_ids_.end() ? kUntracked : found->second;
    if (slot < kCachedCodes) names_[slot] = {name, id};
    return id;
}

void RowTable::settle_column(std::int32_t column, std::uint32_t code, const ElementDefinition* element) {
    const auto c = static_cast<std::size_t>(column);
    if (settled_[c]) return;
    ColumnInfo info = std::move(columns_[c].info);
    info.code = code;
    info.type = column_type(element);
    if (element != nullptr) {
        info.element_name = element->name;
        info.unit = element->unit;
        info.scale = element->scale;
    }
    columns_[c] = ColumnCells::make(*arena_, std::move(info));
    settled_[c] = true;
}

std::optional<std::uint32_t> RowTable::add_cells(bool text) {
    const std::size_t cell = text ? texts_.size() : numbers_.size();
    if (cell + subsets_ > kMaxStructureCells) {
        too_large_ = true;
        return std::nullopt;
    }
    if (text) {
        texts_.resize(cell + subsets_);
    } else {
        numbers_.resize(cell + subsets_, kNaN);
    }
    return static_cast<std::uint32_t>(cell);
}

std::optional<std::uint32_t> RowTable::track(const WalkValue& value) {
    if (value.defining) return std::nullopt;
    if (value.kind == ValueKind::AssociatedField) {
        associated_ = wants_associated_ ? add_cells(false) : std::nullopt;
        return associated_;
    }
    if (value.kind == ValueKind::BitmapAttached) return attach(value);
    if (value.kind != ValueKind::Element && value.kind != ValueKind::ReplicationFactor) return std::nullopt;
    const std::optional<std::uint32_t> associated = std::exchange(associated_, std::nullopt);
    const std::uint32_t level = level_of(value);
    const std::uint32_t id = name_id(value);
    std::optional<std::uint32_t> cell;
    if (value.attached != nullptr) cell = attach(value);
    if (id == kUntracked) return cell;
    const std::uint32_t rank = ++counts_[id];
    const bool text = value.element->is_text();
    for (const std::uint32_t k : keys_of_name_[id]) {
        const TrackedKey& key = keys_[k];
        if (key.name.rank != 0 && key.name.rank != rank) continue;
        if (key.attribute.empty()) {
            if (!cell && !(cell = add_cells(text))) return std::nullopt;
            events_.push_back({k, level, *cell, text});
            if (key.column >= 0) settle_column(key.column, value.code, value.element);
        } else if (key.attribute == associated_field_label()) {
            if (!associated) continue;
            events_.push_back({k, level, *associated, false});
            if (key.column >= 0) settle_column(key.column, kAssociatedFieldCode, nullptr);
        } else {
            waiting_.push_back({static_cast<std::uint32_t>(events_.size()), value.history_index});
            events_.push_back({k, level, 0, false, true});
        }
    }
    return cell;
}

namespace {

// What ecCodes names a value that an operator attaches to an element, as an attribute of it;
// after 222000, the quality element's own key.
std::string attribute_name(const WalkValue& value) {
    switch (value.attached->operator_code) {
        case 223255:
            return "substitutedValue";
        case 224255:
            return "firstOrderStatisticalValue";
        case 225255:
            return "differenceStatisticalValue";
        case 232255:
            return "replacedValue";
        default:
            return element_key(*value.element);
    }
}

}  // namespace

std::optional<std::uint32_t> RowTable::attach(const WalkValue& value) {
    if (waiting_.empty()) return std::nullopt;
    const std::string attribute = attribute_name(value);
    const bool text = value.element->is_text();
    std::optional<std::uint32_t> cell;
    for (const Waiting& waiting : waiting_) {
        RowEvent& event = events_[waiting.event];
        const TrackedKey& key = keys_[event.key];
        if (!event.pending || waiting.history_index != value.attached->history_index || key.attribute != attribute) {
            continue;
        }
        if (!cell && !(cell = add_cells(text))) return std::nullopt;
        event.cell = *cell;
        event.text = text;
        event.pending = false;
        if (key.column >= 0) settle_column(key.column, value.code, value.element);
    }
    return cell;
}

void RowTable::set_text(std::uint32_t cell, std::string_view text) {
    texts_[cell] = {static_cast<std::uint32_t>(chars_.size()), static_cast<std::uint32_t>(text.size()), false};
    chars_.append(text);
}

bool RowTable::passes(const RowEvent& event, std::uint64_t column) const {
    const ColumnFilter& filter = filters_[static_cast<std::size_t>(keys_[event.key].filter)];
    if (event.text) {
        const TextCell& cell = texts_[event.cell + column];
        return !cell.missing && filter_accepts(filter, std::string_view(chars_).substr(cell.begin, cell.size));
    }
    const double number = numbers_[event.cell + column];
    return !std::isnan(number) && filter_accepts(filter, number);
}

void RowTable::end_structure(std::size_t message, std::uint64_t subset, std::uint64_t column) {
    std::fill(row_.begin(), row_.end(), -1);
    fresh_ = false;
    std::int64_t failed_level = -1;
    std::uint32_t last_level = 0;
    for (std::size_t i = 0; i < events_.size(); ++i) {
        const RowEvent& event = events_[i];
        if (event.pending) continue;
        if (failed_level >= 0) {
            if (event.level > failed_level) continue;
            failed_level = -1;
        }
        if (keys_[event.key].filter >= 0 && !passes(event, column)) {
            failed_level = event.level;
            continue;
        }
        if (const std::int64_t before = row_[event.key]; before >= 0) {
            // The key again: the row is complete, and the keys since it came last leave it.
            keep_row(message, subset, column);
            for (std::int64_t& held : row_) {
                if (held >= before) held = -1;
            }
        } else if (event.level < last_level) {
            complete_row(message, subset, column, event.level);
        }
        row_[event.key] = static_cast<std::int64_t>(i);
        fresh_ = true;
        last_level = event.level;
    }
    keep_row(message, subset, column);
}

void RowTable::complete_row(std::size_t message, std::uint64_t subset, std::uint64_t column, std::uint32_t level) {
    keep_row(message, subset, column);
    for (std::int64_t& held : row_) {
        if (held >= 0 && events_[static_cast<std::size_t>(held)].level > level) held = -1;
    }
}

void RowTable::keep_row(std::size_t message, std::uint64_t subset, std::uint64_t column) {
    // A row lacking a key it must hold gives none.
    if (!std::exchange(fresh_, false)) return;
    for (std::size_t k = 0; k < keys_.size(); ++k) {
        if (row_[k] < 0 && (keys_[k].required || keys_[k].filter >= 0)) return;
    }
    if ((rows_ + 1) * (columns_.size() + 2) > kMaxColumnCells) {
        too_large_ = true;
        return;
    }
    ColumnCells::put_number(*arena_, message_, ColumnType::Int64, rows_, static_cast<double>(message), 0);
    ColumnCells::put_number(*arena_, subset_, ColumnType::Int64, rows_, static_cast<double>(subset + 1), 0);
    for (std::size_t k = 0; k < keys_.size(); ++k) {
        if (row_[k] < 0 || keys_[k].column < 0) continue;
        const RowEvent& event = events_[static_cast<std::size_t>(row_[k])];
        Column& target = columns_[static_cast<std::size_t>(keys_[k].column)];
        if (event.text) {
            const TextCell& cell = texts_[event.cell + column];
            if (!cell.missing) {
                ColumnCells::put_text(*arena_, target, target.info.type, rows_,
                                      std::string_view(chars_).substr(cell.begin, cell.size), 0);
            }
        } else if (const double number = numbers_[event.cell + column]; !std::isnan(number)) {
            ColumnCells::put_number(*arena_, target, target.info.type, rows_, number, 0);
        }
    }
    ++rows_;
}

ColumnTable RowTable::finish() {
    for (std::size_t c = 0; c < columns_.size(); ++c) {
        if (!settled_[c]) columns_[c] = ColumnCells::make(*arena_, std::move(columns_[c].info));
    }
    return finished_table(std::move(arena_), std::move(message_), std::move(subset_), std::move(columns_), rows_,
                          std::move(errors_));
}

}  // namespace corvane::detail
