#include "data/decoded_value.hpp"

#include <algorithm>
#include <cstring>

#include "tables/table_set.hpp"
#include "text/text.hpp"

namespace corvane {

std::string_view TextArena::store(std::string_view text) {
    if (text.empty()) return {};
    if (capacity_ - used_ < text.size()) {
        capacity_ = std::max(kBlockSize, text.size());
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(capacity_));
        used_ = 0;
    }
    char* at = blocks_.back().get() + used_;
    std::memcpy(at, text.data(), text.size());
    used_ += text.size();
    return {at, text.size()};
}

void ValueList::add_block() {
    const std::size_t doubled = kFirstBlockValues << std::min<std::size_t>(blocks_.size(), 8);
    const std::size_t capacity = std::min(planned_ != 0 ? planned_ : doubled, kLargestBlockValues);
    planned_ -= std::min(planned_, capacity);
    DecodedValue* values = std::allocator<DecodedValue>().allocate(capacity);
    blocks_.push_back({std::unique_ptr<DecodedValue, Deallocate>(values, Deallocate{capacity}), size_});
    next_ = values;
    end_ = values + capacity;
}

const DecodedValue& ValueList::operator[](std::size_t index) const {
    const auto after = std::upper_bound(blocks_.begin(), blocks_.end(), index,
                                        [](std::size_t i, const Block& block) { return i < block.first; });
    const Block& block = *(after - 1);
    return block.values.get()[index - block.first];
}

std::span<const DecodedValue> ValueList::block(std::size_t index) const {
    const Block& block = blocks_[index];
    const std::size_t end = index + 1 < blocks_.size() ? blocks_[index + 1].first : size_;
    return {block.values.get(), end - block.first};
}

const std::string& operator_label() {
    static const std::string label = "operator";
    return label;
}

const std::string& associated_field_label() {
    static const std::string label = "associatedField";
    return label;
}

const std::string& character_data_label() {
    static const std::string label = "characterData";
    return label;
}

const std::string& unknown_local_element_label() {
    static const std::string label = "unknown local element";
    return label;
}

ValueLabel value_label(const TableSet& tables, ValueKind kind, std::uint32_t code, const std::string* name) {
    if (kind == ValueKind::AssociatedField) return {"associatedField", "ASSOCIATED FIELD", std::nullopt};
    if (kind == ValueKind::CharacterData) return {"characterData", "CHARACTER DATA", "CCITT IA5"};
    const ElementDefinition* element = kind == ValueKind::UnknownLocalElement ? nullptr : tables.find_element(code);
    if (element == nullptr || &element->name != name) return {format_code(code), *name, std::nullopt};
    return {element_key(*element), element->name, element->unit};
}

}  // namespace corvane
