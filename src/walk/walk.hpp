// The one walk over section 4, per layout: it reads descriptors, elements, operators,
// bitmaps and replications once, and tells a sink what it meets. The sink decides where
// values go (a value list, columns, rows); it is a template argument, so every event is a
// direct call that the compiler can inline.
#pragma once

#include <cstdint>

#include "bitstream/bit_reader.hpp"
#include "error/error.hpp"
#include "message/message.hpp"
#include "tables/table_set.hpp"
#include "walk/walk_types.hpp"

namespace corvane {

// A subset sink (uncompressed layout) has, besides SinkBase:
//   const ElementDefinition* element(std::uint32_t code)   the message tables' definition, or null
//   void begin_subset(std::uint32_t subset)                from 0
//   void number(const WalkValue&, std::uint64_t raw, std::optional<double> value)
//       every numeric value: its raw bits, and its scaled value (none when missing)
//   void text(const WalkValue&, std::optional<std::string_view> text, std::uint64_t position)
//       every text: `text` lives until the call returns; `position` numbers the texts of
//       elements through the message from 1 (0 for character data)
//   void marker(std::uint32_t code)                        an operator that reads nothing
//   void end_subset(std::uint32_t subset)
//   void expect_subsets(std::uint64_t subsets)
//       after the first subset: how many subsets the bits left can hold, if they are alike
// Sink calls never fail: the walk has checked every bound before it calls.
// `Reader` is a BitReader, or a source of the same interface that read_value_bits and
// read_field_bytes have overloads for (the encoder's, which writes what the walk reads).
template <class Sink, class Reader>
Status walk_subsets(const BufrMessage& message, const TableSet& tables, Reader& reader, DecodeOptions options,
                    Sink& sink);

// A column sink (compressed layout: each value is one column for every subset) has, besides
// SinkBase, element() as above and:
//   template <class Read> Status numbers(const WalkValue&, bool uniform, Read&& read)
//       a numeric column: returns read(cells) with cells that take `all(raw, missing)` when
//       `uniform` (every subset has the same value) or else `cell(subset, raw, missing)` once
//       per subset; or read(SkipCells{})
//   void same_number(const WalkValue&, std::uint64_t raw, std::optional<double> value)
//       a column whose value the walk has already decided for every subset
//   template <class Read> Status texts(const WalkValue&, std::uint64_t first_position, Read&& read)
//       a text column: returns read(texts) with texts that take `all(text)` or `text(subset, text)`,
//       or read(SkipTexts{}); subset s has position first_position + s (0: character data)
//   void marker(std::uint32_t code)
// With no subsets the walk reads the bits and tells the sink nothing but replications.
// `Reader` is as for walk_subsets, with read_increment_width and column_increments besides.
template <class Sink, class Reader>
Status walk_columns(const BufrMessage& message, const TableSet& tables, Reader& reader, DecodeOptions options,
                    Sink& sink);

}  // namespace corvane

#include "walk/column_walk.hpp"
#include "walk/subset_walk.hpp"
