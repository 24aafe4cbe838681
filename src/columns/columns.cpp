#include "columns/columns.hpp"

#include <cmath>

#include "bitstream/bit_reader.hpp"
#include "columns/column_walks.hpp"
#include "columns/message_input.hpp"
#include "columns/table_builder.hpp"
#include "message/message.hpp"

namespace corvane {

std::optional<std::string_view> Column::text(std::size_t row) const {
    if (missing_.data()[row] != 0) return std::nullopt;
    const std::int64_t* offsets = offsets_.data();
    return std::string_view(chars_.data() + offsets[row], static_cast<std::size_t>(offsets[row + 1] - offsets[row]));
}

bool Column::is_missing(std::size_t row) const {
    switch (info.type) {
        case ColumnType::Float64:
            return std::isnan(floats_.data()[row]);
        case ColumnType::Int64:
            return integers_.data()[row] == kMissingCode;
        case ColumnType::Text:
            return missing_.data()[row] != 0;
    }
    return true;
}

const Column* ColumnTable::find(std::string_view name) const {
    for (const Column& column : columns) {
        if (column.info.name == name) return &column;
    }
    return nullptr;
}

Result<ColumnBuilder> ColumnBuilder::create(const ColumnRequest& request, DecodeOptions options) {
    std::optional<std::vector<detail::ColumnName>> keys;
    if (request.keys) {
        keys.emplace();
        for (const std::string& key : *request.keys) {
            Result<detail::ColumnName> name = detail::parse_column_name(key);
            if (!name) return std::move(name).error();
            keys->push_back(std::move(name).value());
        }
    }
    std::vector<std::pair<detail::ColumnName, ColumnFilter>> filters;
    for (const ColumnFilter& filter : request.filters) {
        Result<detail::ColumnName> name = detail::parse_column_name(filter.column);
        if (!name) return std::move(name).error();
        filters.emplace_back(std::move(name).value(), filter);
    }
    return ColumnBuilder(std::make_unique<detail::TableBuilder>(std::move(keys), std::move(filters)), options);
}

ColumnBuilder::ColumnBuilder(std::unique_ptr<detail::TableBuilder> builder, DecodeOptions options)
    : builder_(std::move(builder)), options_(options) {}
ColumnBuilder::ColumnBuilder(ColumnBuilder&&) noexcept = default;
ColumnBuilder& ColumnBuilder::operator=(ColumnBuilder&&) noexcept = default;
ColumnBuilder::~ColumnBuilder() = default;

Status ColumnBuilder::add_message(std::size_t index, std::size_t offset, std::span<const std::uint8_t> bytes,
                                  const TableProvider& tables) {
    Result<detail::ReadyMessage> ready = detail::ready_message(bytes, tables);
    if (!ready) {
        add_error(index, offset, ready.error().render());
        return {};
    }
    const BufrMessage& message = ready->message;
    const TableSet& set = *ready->tables;
    BitReader reader(message.section4_data(bytes));
    builder_->begin_message(message.number_of_subsets, set);
    const Status decoded = message.compressed_data
                               ? detail::decode_compressed_columns(message, set, options_, reader, *builder_)
                               : detail::decode_uncompressed_columns(message, set, options_, reader, *builder_);
    if (!decoded) {
        builder_->abandon_message();
        add_error(index, offset, tables.explain(TableChoice::of(message), decoded.error()).render());
        return {};
    }
    return builder_->end_message(index);
}

void ColumnBuilder::add_error(std::size_t index, std::size_t offset, std::string text) {
    builder_->add_error({index, offset, std::move(text)});
}

void ColumnBuilder::expect_messages(std::size_t count) { builder_->expect_messages(count); }

ColumnTable ColumnBuilder::finish() && { return builder_->finish(); }

Result<ColumnTable> decode_columns(std::span<const std::uint8_t> buffer, const TableProvider& tables,
                                   const ColumnRequest& request, DecodeOptions options) {
    Result<ColumnBuilder> builder = ColumnBuilder::create(request, options);
    if (!builder) return std::move(builder).error();
    if (Status added = detail::add_scanned_messages(*builder, buffer, tables); !added) return std::move(added).error();
    return std::move(*builder).finish();
}

}  // namespace corvane
