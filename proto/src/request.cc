#include "request.h"

#include <string_view>

#include "json_text.h"

namespace elmpad {
namespace {

// The library's objects sort their keys, and the request needs its own
// order, so the line is written by hand; only strings go through the library.
class LineWriter {
 public:
  void number(std::string_view key, std::uint64_t value) {
    start(key);
    out_ += std::to_string(value);
  }
  void boolean(std::string_view key, bool value) {
    start(key);
    out_ += value ? "true" : "false";
  }
  void text(std::string_view key, const std::string& value) {
    if (error_) return;
    auto q = json_string(value);
    if (!q) {
      error_ = q.error();
      return;
    }
    start(key);
    out_ += *q;
  }
  /// A text known to need no escape: a command tag.
  void tag(std::string_view key, std::string_view value) {
    if (error_) return;
    start(key);
    out_ += '"';
    out_ += value;
    out_ += '"';
  }
  void text(std::string_view key, const std::optional<std::string>& value) {
    if (value) text(key, *value);
  }
  void number(std::string_view key, const std::optional<std::uint64_t>& value) {
    if (value) number(key, *value);
  }
  std::expected<std::string, std::string> finish() {
    if (error_) return std::unexpected(*error_);
    out_ += "}\n";
    return std::move(out_);
  }

 private:
  void start(std::string_view key) {
    out_ += out_.size() == 1 ? "\"" : ",\"";
    out_ += key;
    out_ += "\":";
  }
  std::string out_ = "{";
  std::optional<std::string> error_;
};

void write_fields(LineWriter& w, const cmd::Open& c) {
  w.text("path", c.path);
  w.boolean("wait", c.wait);
  w.text("source", c.source);
}
void write_fields(LineWriter& w, const cmd::OpenFolder& c) { w.text("path", c.path); }
void write_fields(LineWriter& w, const cmd::Reveal& c) {
  w.text("path", c.path);
  w.text("heading", c.heading);
}
void write_fields(LineWriter&, const cmd::Status&) {}
void write_fields(LineWriter&, const cmd::GetContext&) {}
void write_fields(LineWriter& w, const cmd::ExecuteCommand& c) { w.text("command", c.command); }
void write_fields(LineWriter& w, const cmd::ReadSection& c) {
  w.text("path", c.path);
  w.text("heading", c.heading);
}
void write_fields(LineWriter& w, const cmd::WriteSection& c) {
  w.text("path", c.path);
  w.text("heading", c.heading);
  w.text("operation", c.operation);
  w.text("content", c.content);
  w.text("base_hash", c.base_hash);
}
void write_fields(LineWriter& w, const cmd::WaitForChange& c) {
  w.text("path", c.path);
  w.text("workspace", c.workspace);
  w.text("name", c.name);
  w.number("timeout_secs", c.timeout_secs);
}
void write_fields(LineWriter& w, const cmd::PostMessage& c) { w.text("text", c.text); }
void write_fields(LineWriter& w, const cmd::AttachSession& c) {
  w.text("cwd", c.cwd);
  w.text("token", c.token);
}

}  // namespace

const char* cmd_tag(const Cmd& cmd) {
  return std::visit([](const auto& c) { return std::decay_t<decltype(c)>::kTag; }, cmd);
}

std::expected<std::string, std::string> encode_request(const Request& request) {
  LineWriter w;
  w.number("id", request.id);
  w.number("proto", request.proto);
  w.number("session", request.session);
  w.tag("cmd", cmd_tag(request.cmd));
  std::visit([&w](const auto& c) { write_fields(w, c); }, request.cmd);
  return w.finish();
}

}  // namespace elmpad
