// Text the tool takes from users: UTF-8 checks and the lossy conversion,
// paths made absolute and turned into text, the opens-as rule, and the
// command-line parser (the input's NUL bytes separate the arguments).
#include <algorithm>

#include "app_client/path_text.h"
#include "cli/cli_command.h"
#include "json_text.h"
#include "opens_as.h"
#include "support.h"
#include "utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using elmpad::fuzz::check;
  std::string_view bytes = elmpad::fuzz::as_text(data, size);

  std::string text = elmpad::utf8_lossy(bytes);
  check(elmpad::is_utf8(text), "the lossy conversion gives UTF-8");
  check((text == bytes) == elmpad::is_utf8(bytes), "only ill-formed input is changed");
  check(elmpad::json_string(bytes).has_value() == elmpad::is_utf8(bytes), "JSON strings are UTF-8");

  std::string absolute = elmpad::absolute_path("/work dir", bytes);
  check(absolute.starts_with('/') && absolute.ends_with(bytes), "a path is made absolute without changing it");
  check(elmpad::path_text(absolute) == elmpad::utf8_lossy(absolute), "path text is the lossy text");

  if (elmpad::opens_as(bytes) == elmpad::OpensAs::kImage) {
    std::string lower(bytes);
    for (char& c : lower) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    const auto& images = elmpad::table().image;
    check(std::any_of(images.begin(), images.end(), [&](const std::string& e) { return lower.find("." + e) != std::string::npos; }),
          "an image has an image extension");
  }

  std::vector<std::string> args;
  for (std::size_t start = 0; start <= bytes.size();) {
    std::size_t end = std::min(bytes.find('\0', start), bytes.size());
    args.emplace_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  auto command = elmpad::parse(args);
  if (auto* open = std::get_if<elmpad::cli::Open>(&command)) check(!open->files.empty(), "open has a file");
  if (auto* error = std::get_if<elmpad::cli::UsageError>(&command)) check(!error->message.empty(), "misuse says why");
  return 0;
}
