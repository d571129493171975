#include "opens_as.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <stdexcept>

#include "utf8.h"

namespace elmpad {
namespace {

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// The last path component, ignoring trailing separators and "." components,
// as a path library reports it; nothing for "/", "", or a name of "..".
std::optional<std::string_view> final_component(std::string_view path) {
  while (true) {
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    if (path.empty()) return std::nullopt;
    auto slash = path.rfind('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (name == ".") {
      // "a/." names a, but a lone "." is the current directory: no name.
      if (slash == std::string_view::npos) return std::nullopt;
      path = path.substr(0, slash);
      continue;
    }
    if (name == "..") return std::nullopt;
    return name;
  }
}

std::optional<std::string_view> extension(std::string_view path) {
  auto name = final_component(path);
  if (!name) return std::nullopt;
  auto dot = name->rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::nullopt;
  return name->substr(dot + 1);
}

}  // namespace

std::expected<std::vector<std::string>, std::string> column(const json& table, std::string_view name) {
  auto it = table.find(name);
  if (it == table.end() || !it->is_array()) {
    return std::unexpected("opens_as.json has a `" + std::string(name) + "` array");
  }
  std::vector<std::string> out;
  for (const auto& entry : *it) {
    if (!entry.is_string()) return std::unexpected(std::string("extensions are strings"));
    out.push_back(ascii_lower(entry.get<std::string>()));
  }
  return out;
}

std::expected<OpensAsTable, std::string> load_opens_as_table(std::string_view text) {
  auto parsed = parse_json(text);
  if (!parsed || !parsed->is_object()) return std::unexpected(std::string("opens_as.json is valid JSON"));
  auto document = column(*parsed, "document");
  if (!document) return std::unexpected(document.error());
  auto image = column(*parsed, "image");
  if (!image) return std::unexpected(image.error());
  return OpensAsTable{std::move(*document), std::move(*image)};
}

const OpensAsTable& table() {
  // A function-local static is initialised once even under concurrent first
  // calls. A broken built-in table is a defect of the build, not of use.
  static const OpensAsTable built = [] {
    auto loaded = load_opens_as_table(opens_as_table_text());
    if (!loaded) throw std::logic_error("built-in table: " + loaded.error());
    return std::move(*loaded);
  }();
  return built;
}

OpensAs opens_as(std::string_view path) {
  auto ext = extension(path);
  if (!ext || !is_utf8(*ext)) return OpensAs::kDocument;
  std::string lowered = ascii_lower(*ext);
  const auto& images = table().image;
  return std::ranges::find(images, lowered) != images.end() ? OpensAs::kImage : OpensAs::kDocument;
}

}  // namespace elmpad
