// Whether a path opens as an editable document or as a read-only image,
// decided by the extension table opens_as.json, compiled into the program.
#pragma once

#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "json_text.h"

namespace elmpad {

enum class OpensAs { kDocument, kImage };

struct OpensAsTable {
  std::vector<std::string> document;  // lowercased, in the order of the text
  std::vector<std::string> image;
};

/// The table text as compiled in (generated from opens_as.json).
std::string_view opens_as_table_text();

/// The lowercased entries of one column of the parsed table, or the name of
/// the violated load check.
[[nodiscard]] std::expected<std::vector<std::string>, std::string> column(const json& table, std::string_view name);

/// Builds a table from text; fails naming the first violated load check.
[[nodiscard]] std::expected<OpensAsTable, std::string> load_opens_as_table(std::string_view text);

/// The built-in table, built on first use; safe under concurrent first calls.
const OpensAsTable& table();

/// The extension rule: final component's text after its last dot, unless that
/// dot leads the name; then lowercased (ASCII only) and looked up among the
/// images. Everything else is a document. Never fails.
OpensAs opens_as(std::string_view path);

}  // namespace elmpad
