// One decoded value of section 4, and the list that a decode returns.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "walk/walk.hpp"

namespace corvane {

// 48 bytes, trivially copyable: a message can decode to millions of them. Names and meanings
// are borrowed from the table set the value was decoded with (or from the static labels
// below), texts from the DecodedValues that holds the value; both must outlive it.
class DecodedValue {
public:
    std::uint32_t descriptor = 0;

private:
    // Beside the descriptor, where they cost no padding. A text is at most 8192 bytes.
    std::uint16_t text_length_ = 0;
    std::uint8_t flags_ = 0;
    ValueKind kind_ = ValueKind::Element;

public:
    const std::string* name = nullptr;
    const std::string* raw_meaning = nullptr;

    ValueKind kind() const { return kind_; }
    void set_kind(ValueKind kind) { kind_ = kind; }

    std::optional<double> raw_value() const { return has(kRawValue) ? std::optional(value_) : std::nullopt; }
    std::optional<std::uint64_t> raw() const { return has(kRaw) ? std::optional(raw_) : std::nullopt; }
    std::optional<std::string_view> raw_text() const {
        return has(kRawText) ? std::optional(std::string_view(text_, text_length_)) : std::nullopt;
    }

    void set_raw_value(double value) {
        value_ = value;
        flags_ |= kRawValue;
    }
    void set_raw(std::uint64_t raw) {
        raw_ = raw;
        flags_ |= kRaw;
    }
    // `text` must be stored where the value's list keeps it (TextArena).
    void set_raw_text(std::string_view text) {
        text_ = text.data();
        text_length_ = static_cast<std::uint16_t>(text.size());
        flags_ |= kRawText;
    }

private:
    static constexpr std::uint8_t kRawValue = 1;
    static constexpr std::uint8_t kRaw = 2;
    static constexpr std::uint8_t kRawText = 4;
    bool has(std::uint8_t flag) const { return (flags_ & flag) != 0; }

    const char* text_ = nullptr;
    double value_ = 0.0;
    std::uint64_t raw_ = 0;
};

static_assert(sizeof(DecodedValue) == 48);
static_assert(std::is_trivially_copyable_v<DecodedValue> && std::is_trivially_destructible_v<DecodedValue>);

// The values of one decode in order, in blocks: appending never moves a value, memory grows
// with what has been decoded, and a consumer can free each block once it has taken its values,
// so that a value is not held twice. Blocks hold at most 2^20 values (48 MiB), a size that
// allocators hand back to the system when it is freed; they double up to that size unless
// the decoder knows how many values will follow.
class ValueList {
public:
    ValueList() = default;
    ValueList(ValueList&& other) noexcept
        : blocks_(std::move(other.blocks_)),
          next_(std::exchange(other.next_, nullptr)),
          end_(std::exchange(other.end_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          planned_(std::exchange(other.planned_, 0)) {}
    ValueList& operator=(ValueList&& other) noexcept {
        blocks_ = std::move(other.blocks_);
        other.blocks_.clear();
        next_ = std::exchange(other.next_, nullptr);
        end_ = std::exchange(other.end_, nullptr);
        size_ = std::exchange(other.size_, 0);
        planned_ = std::exchange(other.planned_, 0);
        return *this;
    }

    // About `count` more values will follow: the next blocks are sized for them, so that a
    // large decode takes few allocations.
    void plan(std::size_t count) { planned_ = count - std::min<std::size_t>(count, end_ - next_); }

    // A new value in its initial state, at the end.
    DecodedValue& append() {
        if (next_ == end_) add_block();
        ++size_;
        return *::new (static_cast<void*>(next_++)) DecodedValue();
    }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const DecodedValue& operator[](std::size_t index) const;
    const DecodedValue& back() const { return (*this)[size_ - 1]; }

    std::size_t block_count() const { return blocks_.size(); }
    // The values of block `index`.
    std::span<const DecodedValue> block(std::size_t index) const;
    // Frees block `index`; its values must not be read again.
    void release_block(std::size_t index) { blocks_[index].values.reset(); }

    class Iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = DecodedValue;
        using difference_type = std::ptrdiff_t;
        using pointer = const DecodedValue*;
        using reference = const DecodedValue&;

        Iterator() = default;
        Iterator(const ValueList* list, std::size_t index) : list_(list), index_(index) {}
        reference operator*() const { return (*list_)[index_]; }
        pointer operator->() const { return &(*list_)[index_]; }
        Iterator& operator++() {
            ++index_;
            return *this;
        }
        Iterator operator++(int) {
            Iterator before = *this;
            ++index_;
            return before;
        }
        bool operator==(const Iterator& other) const { return index_ == other.index_; }

    private:
        const ValueList* list_ = nullptr;
        std::size_t index_ = 0;
    };
    Iterator begin() const { return {this, 0}; }
    Iterator end() const { return {this, size_}; }

private:
    static constexpr std::size_t kFirstBlockValues = std::size_t{1} << 12;
    static constexpr std::size_t kLargestBlockValues = std::size_t{1} << 20;

    // Storage only: values are made one at a time as they are appended.
    struct Deallocate {
        std::size_t capacity = 0;
        void operator()(DecodedValue* values) const { std::allocator<DecodedValue>().deallocate(values, capacity); }
    };
    struct Block {
        std::unique_ptr<DecodedValue, Deallocate> values;
        std::size_t first = 0;  // index of its first value
    };

    void add_block();

    std::vector<Block> blocks_;
    DecodedValue* next_ = nullptr;
    DecodedValue* end_ = nullptr;
    std::size_t size_ = 0;
    std::size_t planned_ = 0;
};

// Owns the characters of the texts of one decode, in blocks that never move, so that values
// can point at them and texts cost no allocation each.
class TextArena {
public:
    std::string_view store(std::string_view text);

private:
    static constexpr std::size_t kBlockSize = 64 * 1024;
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t used_ = 0;
    std::size_t capacity_ = 0;
};

// What a decode returns: the values in order, and the texts they point at.
struct DecodedValues {
    ValueList values;
    TextArena texts;
    // One entry per subset: the index after its last value. Uncompressed subsets need not hold
    // equally many values.
    std::vector<std::size_t> subset_ends;
    // Bits of section 4's data after the last value read: up to 15 are the padding to whole
    // (even) octets, more are data that the descriptors do not account for.
    std::uint64_t bits_left = 0;

    std::size_t size() const { return values.size(); }
    bool empty() const { return values.empty(); }
    const DecodedValue& operator[](std::size_t index) const { return values[index]; }
    const DecodedValue& back() const { return values.back(); }
    auto begin() const { return values.begin(); }
    auto end() const { return values.end(); }
};

// The labels of values that do not come from Table B.
const std::string& operator_label();               // "operator"
const std::string& associated_field_label();       // "associatedField"
const std::string& character_data_label();         // "characterData"
const std::string& unknown_local_element_label();  // "unknown local element"

// The name a value of the walk points at: its definition's, or the label of what it is.
// Inline: the value sinks ask it of every value.
inline const std::string* value_name(const WalkValue& value) {
    if (value.element != nullptr) return &value.element->name;
    switch (value.kind) {
        case ValueKind::AssociatedField:
            return &associated_field_label();
        case ValueKind::CharacterData:
            return &character_data_label();
        default:
            return &unknown_local_element_label();
    }
}

struct TableSet;

// What users see of a value: its key (the ecCodes name, or the six-digit code where the
// tables have none), Table B name and unit (none for associated fields and unknown local
// elements), from the value's kind, descriptor and name as decoded with `tables`.
struct ValueLabel {
    std::string key;
    std::string name;
    std::optional<std::string> unit;
};
ValueLabel value_label(const TableSet& tables, ValueKind kind, std::uint32_t code, const std::string* name);

}  // namespace corvane
