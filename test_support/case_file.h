// Cases written as text, for the tests that are driven by data files: the
// files' cases, and the escapes their lines may use. A case starts at a line
// "== title", and a line starting with # is a comment. Each driver has
// directives of its own; those that mean the same in two of them are spelled
// the same:
//   X> LINE, X< LINE  a request on connection X, and an answer on it: "app"
//                     is the fake app's socket, a, b, c the headless app's
//                     clients, and in the MCP cases none the server's stdio
//   app! WHAT         what the fake app does besides answering: hold, hangup
//   err: LINE         a line of the program's standard error
//   content REL TEXT  $HOME/REL holds TEXT; gone REL: nothing is there
//   stale-socket      a socket file that nobody serves
//   deaf, eof         stop reading the program's output; end its input
#pragma once

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace elmpad::testing {

/// `text` with every `from` replaced by `to`.
inline std::string replace_all(std::string text, std::string_view from, std::string_view to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

/// `text` cut at its first space: the word before it and the rest after it
/// (empty without a space). A case's line is its directive and its rest.
inline std::pair<std::string, std::string> split_word(std::string_view text) {
  const auto space = text.find(' ');
  if (space == std::string_view::npos) return {std::string(text), ""};
  return {std::string(text.substr(0, space)), std::string(text.substr(space + 1))};
}

/// `text` with each \xHH written as its byte and, where `feeds` is set, \n
/// and \r as line feed and carriage return (lines that are JSON keep them).
inline std::string unescape(std::string_view text, bool feeds) {
  std::string out;
  auto hex = [&](std::size_t i) { return i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])); };
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.substr(i, 2) == "\\x" && hex(i + 2) && hex(i + 3)) {
      out += static_cast<char>(std::stoi(std::string(text.substr(i + 2, 2)), nullptr, 16));
      i += 3;
    } else if (feeds && (text.substr(i, 2) == "\\n" || text.substr(i, 2) == "\\r")) {
      out += text[++i] == 'n' ? '\n' : '\r';
    } else {
      out += text[i];
    }
  }
  return out;
}

/// One case of a case file: a name made of the file's and the heading's,
/// and its lines with where each stands ("file.txt:12"); blank lines and
/// comments (# ...) are left out.
struct CaseText {
  std::string name;
  std::vector<std::pair<std::string, std::string>> lines;
};
inline void PrintTo(const CaseText& c, std::ostream* os) { *os << c.name; }

/// The cases of `path`, a file or a folder of .txt files read in name order;
/// a line "== title" starts a case, in every driver's files alike.
inline std::vector<CaseText> read_cases(const std::filesystem::path& path) {
  constexpr std::string_view heading = "== ";
  std::vector<std::filesystem::path> files;
  if (std::filesystem::is_directory(path)) {
    for (const auto& entry : std::filesystem::directory_iterator(path)) {
      if (entry.path().extension() == ".txt") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
  } else {
    files.push_back(path);
  }
  std::vector<CaseText> cases;
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      if (line.starts_with(heading)) {
        std::string name = file.stem().string() + "_";
        for (char c : line.substr(heading.size())) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        cases.push_back({name, {}});
      } else if (!line.empty() && !line.starts_with('#') && !cases.empty()) {
        cases.back().lines.emplace_back(file.filename().string() + ":" + std::to_string(number), line);
      }
    }
  }
  return cases;
}

/// Names a test after its case.
inline std::string case_name(const ::testing::TestParamInfo<CaseText>& info) { return info.param.name; }

}  // namespace elmpad::testing
