#pragma once

#include <cstddef>

// One row of an enum's name table: the identifier a report prints (the JSON
// report as it is), and the words a person reads for it.
template <typename Enum>
struct NameRow {
  Enum value;
  const char* id;
  const char* text;
};

// The row of `value`, found by value, so that reordering the enum changes
// nothing; a value missing from the table reads as "unknown".
template <typename Enum, std::size_t N>
const NameRow<Enum>& RowOf(const NameRow<Enum> (&table)[N], Enum value) {
  static const NameRow<Enum> unknown{value, "unknown", "unknown"};
  for (const NameRow<Enum>& row : table) {
    if (row.value == value) return row;
  }
  return unknown;
}
