#include "rows/rows.hpp"

#include <unordered_map>

#include "bitstream/bit_reader.hpp"
#include "columns/message_input.hpp"
#include "message/message.hpp"
#include "rows/row_table.hpp"
#include "rows/row_walks.hpp"

namespace corvane {

Result<RowBuilder> RowBuilder::create(const RowRequest& request, DecodeOptions options) {
    std::vector<detail::TrackedKey> keys;
    std::unordered_map<std::string, std::size_t> key_of_name;
    auto key_for = [&](const std::string& name) -> Result<std::size_t> {
        if (const auto found = key_of_name.find(name); found != key_of_name.end()) return found->second;
        // "key->attribute" tracks a value that qualifies the element of "key".
        const std::size_t arrow = name.find("->");
        Result<detail::ColumnName> parsed = detail::parse_column_name(std::string_view(name).substr(0, arrow));
        if (!parsed) return std::move(parsed).error();
        detail::TrackedKey key;
        key.name = std::move(parsed).value();
        if (arrow != std::string::npos) key.attribute = name.substr(arrow + 2);
        keys.push_back(std::move(key));
        key_of_name.emplace(name, keys.size() - 1);
        return keys.size() - 1;
    };
    std::vector<ColumnInfo> columns;
    for (const RowColumn& column : request.columns) {
        Result<std::size_t> key = key_for(column.name);
        if (!key) return std::move(key).error();
        detail::TrackedKey& tracked = keys[*key];
        tracked.required = tracked.required || column.required;
        if (tracked.column >= 0) continue;
        tracked.column = static_cast<std::int32_t>(columns.size());
        ColumnInfo info;
        info.name = column.name;
        info.key = tracked.name.key;
        info.rank = tracked.name.rank;
        columns.push_back(std::move(info));
    }
    std::vector<ColumnFilter> filters;
    for (const ColumnFilter& filter : request.filters) {
        Result<std::size_t> key = key_for(filter.column);
        if (!key) return std::move(key).error();
        if (keys[*key].filter >= 0) {
            return BufrError::bad_argument("two filters on " + filter.column + ": give one");
        }
        keys[*key].filter = static_cast<std::int32_t>(filters.size());
        filters.push_back(filter);
    }
    return RowBuilder(std::make_unique<detail::RowTable>(std::move(keys), std::move(columns), std::move(filters)),
                      options);
}

RowBuilder::RowBuilder(std::unique_ptr<detail::RowTable> table, DecodeOptions options)
    : table_(std::move(table)), options_(options) {}
RowBuilder::RowBuilder(RowBuilder&&) noexcept = default;
RowBuilder& RowBuilder::operator=(RowBuilder&&) noexcept = default;
RowBuilder::~RowBuilder() = default;

Status RowBuilder::add_message(std::size_t index, std::size_t offset, std::span<const std::uint8_t> bytes,
                               const TableProvider& tables) {
    Result<detail::ReadyMessage> ready = detail::ready_message(bytes, tables);
    if (!ready) {
        add_error(index, offset, ready.error().render());
        return {};
    }
    const BufrMessage& message = ready->message;
    if (Status decoded = add_parsed(index, message, message.section4_data(bytes), *ready->tables); !decoded) {
        add_error(index, offset, tables.explain(TableChoice::of(message), decoded.error()).render());
        return {};
    }
    return table_->end_message();
}

Status RowBuilder::add_parsed(std::size_t index, const BufrMessage& message, std::span<const std::uint8_t> data,
                              const TableSet& tables) {
    BitReader reader(data);
    table_->begin_message(tables);
    Status decoded = message.compressed_data
                         ? detail::walk_compressed_rows(message, tables, options_, reader, *table_, index)
                         : detail::walk_uncompressed_rows(message, tables, options_, reader, *table_, index);
    if (!decoded) table_->abandon_message();
    return decoded;
}

void RowBuilder::add_error(std::size_t index, std::size_t offset, std::string text) {
    table_->add_error({index, offset, std::move(text)});
}

ColumnTable RowBuilder::finish() && { return table_->finish(); }

Result<ColumnTable> decode_rows(std::span<const std::uint8_t> buffer, const TableProvider& tables,
                                const RowRequest& request, DecodeOptions options) {
    Result<RowBuilder> builder = RowBuilder::create(request, options);
    if (!builder) return std::move(builder).error();
    if (Status added = detail::add_scanned_messages(*builder, buffer, tables); !added) return std::move(added).error();
    return std::move(*builder).finish();
}

}  // namespace corvane
