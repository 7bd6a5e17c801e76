#include "talvik/json.hpp"

#include <array>
#include <charconv>
#include <string>
#include <utility>

#include "talvik/utf8.hpp"

namespace talvik::json {

namespace {

constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }
constexpr bool is_whitespace(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Bytes that end a plain run inside a string: the closing quote, an escape,
// a control character, and the lead of a multi-byte sequence (validated).
constexpr std::array<bool, 256> kStringStop = [] {
  std::array<bool, 256> t{};
  for (unsigned c = 0; c < 0x20; ++c) t[c] = true;
  for (unsigned c = 0x80; c < 0x100; ++c) t[c] = true;
  t['"'] = true;
  t['\\'] = true;
  return t;
}();

int hex_value(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string expected_integer(std::uint64_t max) { return "an integer from 0 to " + std::to_string(max); }

}  // namespace

std::string Error::describe() const {
  if (line == 0) return message;
  return message + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

// ---------------------------------------------------------------------------
// Reader
// ---------------------------------------------------------------------------

// Positions are worked out only when a fault is reported, so the reading
// itself keeps no line bookkeeping.
Error Reader::error_at(std::size_t offset, std::string message) const {
  if (offset > text_.size()) offset = text_.size();
  std::size_t line = 1;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < offset; ++i) {
    if (text_[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  std::size_t column = 1;
  for (std::size_t i = line_start; i < offset; ++i) {
    if ((static_cast<unsigned char>(text_[i]) & 0xC0) != 0x80) ++column;
  }
  return Error{std::move(message), line, column};
}

Error Reader::unexpected_end(const char* what) const {
  return error_at(text_.size(), std::string("EOF while parsing ") + what);
}

void Reader::skip_whitespace() noexcept {
  while (pos_ < text_.size() && is_whitespace(text_[pos_])) ++pos_;
}

ValueKind Reader::peek() noexcept {
  skip_whitespace();
  if (pos_ == text_.size()) return ValueKind::End;
  switch (text_[pos_]) {
    case 'n':
      return ValueKind::Null;
    case 't':
    case 'f':
      return ValueKind::Boolean;
    case '"':
      return ValueKind::String;
    case '[':
      return ValueKind::Array;
    case '{':
      return ValueKind::Object;
    case '-':
      return ValueKind::Number;
    default:
      return is_digit(text_[pos_]) ? ValueKind::Number : ValueKind::Other;
  }
}

// At the opening quote. A string without escapes is returned as a view into
// the text itself; the first escape switches to building it in `scratch`.
Parsed<std::string_view> Reader::scan_string(std::string& scratch) {
  const std::size_t n = text_.size();
  const std::size_t start = pos_ + 1;
  std::size_t i = start;
  std::size_t run = start;  // start of the bytes not yet copied to scratch
  bool copying = false;
  for (;;) {
    while (i < n && !kStringStop[static_cast<unsigned char>(text_[i])]) ++i;
    if (i == n) return std::unexpected(unexpected_end("a string"));
    const auto c = static_cast<unsigned char>(text_[i]);
    if (c == '"') {
      pos_ = i + 1;
      if (!copying) return text_.substr(start, i - start);
      scratch.append(text_, run, i - run);
      return std::string_view(scratch);
    }
    if (c >= 0x80) {
      const utf8::Decoded d = utf8::decode(text_, i);
      if (!d.valid) return std::unexpected(error_at(i, "invalid UTF-8 in string"));
      i += d.len;
      continue;
    }
    if (c < 0x20) {
      return std::unexpected(error_at(i, "control character (\\u0000-\\u001F) found while parsing a string"));
    }
    // A backslash.
    if (!copying) {
      scratch.clear();
      copying = true;
    }
    scratch.append(text_, run, i - run);
    if (i + 1 == n) return std::unexpected(unexpected_end("a string"));
    const char e = text_[i + 1];
    char simple = 0;
    switch (e) {
      case '"':
      case '\\':
      case '/':
        simple = e;
        break;
      case 'b':
        simple = '\b';
        break;
      case 'f':
        simple = '\f';
        break;
      case 'n':
        simple = '\n';
        break;
      case 'r':
        simple = '\r';
        break;
      case 't':
        simple = '\t';
        break;
      case 'u':
        break;
      default:
        return std::unexpected(error_at(i + 1, "invalid escape"));
    }
    if (simple != 0) {
      scratch += simple;
      i += 2;
      run = i;
      continue;
    }
    // \uXXXX, and a second one for the low half of a surrogate pair.
    const auto read_hex4 = [&](std::size_t at, char32_t& out) -> Parsed<void> {
      char32_t v = 0;
      for (std::size_t k = 0; k < 4; ++k) {
        if (at + k >= n) return std::unexpected(unexpected_end("a string"));
        const int h = hex_value(text_[at + k]);
        if (h < 0) return std::unexpected(error_at(at + k, "invalid hex digit in \\u escape"));
        v = (v << 4) | static_cast<char32_t>(h);
      }
      out = v;
      return {};
    };
    char32_t cp = 0;
    if (auto r = read_hex4(i + 2, cp); !r) return std::unexpected(std::move(r.error()));
    std::size_t next = i + 6;
    if (cp >= 0xDC00 && cp <= 0xDFFF) return std::unexpected(error_at(i, "lone surrogate in \\u escape"));
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      // The high half must be followed at once by a \u escape of a low half.
      if (next == n || (text_[next] == '\\' && next + 1 == n)) return std::unexpected(unexpected_end("a string"));
      if (text_[next] != '\\' || text_[next + 1] != 'u') {
        return std::unexpected(error_at(i, "lone surrogate in \\u escape"));
      }
      char32_t low = 0;
      if (auto r = read_hex4(next + 2, low); !r) return std::unexpected(std::move(r.error()));
      if (low < 0xDC00 || low > 0xDFFF) return std::unexpected(error_at(i, "lone surrogate in \\u escape"));
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      next += 6;
    }
    utf8::append(scratch, cp);
    i = next;
    run = i;
  }
}

// At '-' or a digit: the JSON number grammar, -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
Parsed<Reader::NumberToken> Reader::scan_number() {
  const std::size_t n = text_.size();
  NumberToken t{pos_, pos_, true, false};
  std::size_t i = pos_;
  const auto digits = [&]() -> Parsed<void> {
    if (i == n) return std::unexpected(unexpected_end("a number"));
    if (!is_digit(text_[i])) return std::unexpected(error_at(i, "invalid number"));
    while (i < n && is_digit(text_[i])) ++i;
    return {};
  };
  if (text_[i] == '-') {
    t.negative = true;
    ++i;
  }
  if (i < n && text_[i] == '0') {
    ++i;
    if (i < n && is_digit(text_[i])) return std::unexpected(error_at(i, "invalid number"));
  } else if (auto r = digits(); !r) {
    return std::unexpected(std::move(r.error()));
  }
  if (i < n && text_[i] == '.') {
    t.integer = false;
    ++i;
    if (auto r = digits(); !r) return std::unexpected(std::move(r.error()));
  }
  if (i < n && (text_[i] == 'e' || text_[i] == 'E')) {
    t.integer = false;
    ++i;
    if (i < n && (text_[i] == '+' || text_[i] == '-')) ++i;
    if (auto r = digits(); !r) return std::unexpected(std::move(r.error()));
  }
  t.end = pos_ = i;
  return t;
}

Parsed<bool> Reader::scan_literal() {
  const char c = text_[pos_];
  const std::string_view word = c == 't' ? "true" : c == 'f' ? "false" : "null";
  for (std::size_t k = 0; k < word.size(); ++k) {
    if (pos_ + k >= text_.size()) return std::unexpected(unexpected_end("a value"));
    if (text_[pos_ + k] != word[k]) return std::unexpected(error_at(pos_ + k, "invalid literal"));
  }
  pos_ += word.size();
  return c == 't';
}

Error Reader::invalid_type(std::string_view expected) {
  const ValueKind kind = peek();
  const std::size_t start = pos_;
  std::string found;
  switch (kind) {
    case ValueKind::End:
      return unexpected_end("a value");
    case ValueKind::Other:
      return error_at(start, "expected value");
    case ValueKind::Null:
    case ValueKind::Boolean: {
      auto b = scan_literal();
      if (!b) return std::move(b.error());
      found = kind == ValueKind::Null ? "null" : *b ? "boolean `true`" : "boolean `false`";
      break;
    }
    case ValueKind::Number: {
      auto t = scan_number();
      if (!t) return std::move(t.error());
      found = t->integer ? "integer `" : "floating point `";
      found.append(text_, t->begin, t->end - t->begin);
      found += '`';
      break;
    }
    case ValueKind::String: {
      auto s = scan_string(value_scratch_);
      if (!s) return std::move(s.error());
      found = "string ";
      append_string(found, *s);
      break;
    }
    case ValueKind::Array:
      found = "sequence";
      break;
    case ValueKind::Object:
      found = "map";
      break;
  }
  std::string message = "invalid type: ";
  message += found;
  message += ", expected ";
  message += expected;
  return error_at(start, std::move(message));
}

Parsed<std::string_view> Reader::read_string(std::string_view expected) {
  if (peek() != ValueKind::String) return std::unexpected(invalid_type(expected));
  return scan_string(value_scratch_);
}

Parsed<std::uint64_t> Reader::read_uint(std::uint64_t max) {
  if (peek() != ValueKind::Number) return std::unexpected(invalid_type(expected_integer(max)));
  auto t = scan_number();
  if (!t) return std::unexpected(std::move(t.error()));
  const std::string_view literal = text_.substr(t->begin, t->end - t->begin);
  if (!t->integer) {
    return std::unexpected(error_at(t->begin, "invalid type: floating point `" + std::string(literal) +
                                                  "`, expected " + expected_integer(max)));
  }
  std::uint64_t value = 0;
  bool overflow = false;
  for (std::size_t i = t->begin + (t->negative ? 1 : 0); i < t->end; ++i) {
    const auto d = static_cast<std::uint64_t>(text_[i] - '0');
    if (value > (kU64Max - d) / 10) {
      overflow = true;
      break;
    }
    value = value * 10 + d;
  }
  if (overflow || value > max || (t->negative && value != 0)) {
    return std::unexpected(error_at(t->begin, "invalid value: integer `" + std::string(literal) + "`, expected " +
                                                  expected_integer(max)));
  }
  return value;
}

Parsed<void> Reader::enter() {
  if (depth_ >= kMaxDepth) return std::unexpected(error_at(pos_, "recursion limit exceeded"));
  ++depth_;
  ++pos_;
  first_item_ = true;
  return {};
}

Parsed<void> Reader::begin_object(std::string_view expected) {
  if (peek() != ValueKind::Object) return std::unexpected(invalid_type(expected));
  return enter();
}

Parsed<void> Reader::begin_array(std::string_view expected) {
  if (peek() != ValueKind::Array) return std::unexpected(invalid_type(expected));
  return enter();
}

// Closing a container leaves first_item_ false, which is right for the
// enclosing container: the one just closed was an item of it.
Parsed<bool> Reader::step(char close, const char* eof_what, const char* separator_fault) {
  skip_whitespace();
  if (pos_ == text_.size()) return std::unexpected(unexpected_end(eof_what));
  if (text_[pos_] == close) {
    ++pos_;
    --depth_;
    first_item_ = false;
    return false;
  }
  if (first_item_) {
    first_item_ = false;
    return true;
  }
  if (text_[pos_] != ',') return std::unexpected(error_at(pos_, separator_fault));
  ++pos_;
  skip_whitespace();
  if (pos_ == text_.size()) return std::unexpected(unexpected_end(eof_what));
  if (text_[pos_] == close) return std::unexpected(error_at(pos_, "trailing comma"));
  return true;
}

Parsed<bool> Reader::next_member(std::string_view& name) {
  auto more = step('}', "an object", "expected `,` or `}`");
  if (!more || !*more) return more;
  if (text_[pos_] != '"') return std::unexpected(error_at(pos_, "key must be a string"));
  name_offset_ = pos_;
  auto key = scan_string(name_scratch_);
  if (!key) return std::unexpected(std::move(key.error()));
  skip_whitespace();
  if (pos_ == text_.size()) return std::unexpected(unexpected_end("an object"));
  if (text_[pos_] != ':') return std::unexpected(error_at(pos_, "expected `:`"));
  ++pos_;
  name = *key;
  return true;
}

Parsed<bool> Reader::next_element() { return step(']', "a list", "expected `,` or `]`"); }

Parsed<void> Reader::skip_value() {
  switch (peek()) {
    case ValueKind::End:
      return std::unexpected(unexpected_end("a value"));
    case ValueKind::Other:
      return std::unexpected(error_at(pos_, "expected value"));
    case ValueKind::Null:
    case ValueKind::Boolean: {
      auto b = scan_literal();
      if (!b) return std::unexpected(std::move(b.error()));
      return {};
    }
    case ValueKind::Number: {
      auto t = scan_number();
      if (!t) return std::unexpected(std::move(t.error()));
      return {};
    }
    case ValueKind::String: {
      auto s = scan_string(value_scratch_);
      if (!s) return std::unexpected(std::move(s.error()));
      return {};
    }
    case ValueKind::Array: {
      if (auto r = enter(); !r) return r;
      for (;;) {
        auto more = next_element();
        if (!more) return std::unexpected(std::move(more.error()));
        if (!*more) return {};
        if (auto r = skip_value(); !r) return r;
      }
    }
    case ValueKind::Object: {
      if (auto r = enter(); !r) return r;
      std::string_view name;
      for (;;) {
        auto more = next_member(name);
        if (!more) return std::unexpected(std::move(more.error()));
        if (!*more) return {};
        if (auto r = skip_value(); !r) return r;
      }
    }
  }
  return {};
}

Parsed<void> Reader::finish() {
  skip_whitespace();
  if (pos_ != text_.size()) return std::unexpected(error_at(pos_, "trailing characters"));
  return {};
}

// ---------------------------------------------------------------------------
// Writer
// ---------------------------------------------------------------------------

bool append_string(std::string& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  bool valid = true;
  out += '"';
  std::size_t run = 0;
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (!kStringStop[c]) {
      ++i;
      continue;
    }
    if (c >= 0x80) {
      const utf8::Decoded d = utf8::decode(s, i);
      valid = valid && d.valid;
      i += d.len;
      continue;
    }
    out.append(s, run, i - run);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      default: {
        const char escape[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        out.append(escape, sizeof escape);
      }
    }
    run = ++i;
  }
  out.append(s, run, s.size() - run);
  out += '"';
  return valid;
}

void Writer::newline_and_indent() {
  out_ += '\n';
  out_.append(2 * has_items_.size(), ' ');
}

void Writer::before_value() {
  if (after_name_) {
    after_name_ = false;
    return;
  }
  if (has_items_.empty()) return;
  if (has_items_.back()) out_ += ',';
  has_items_.back() = true;
  if (layout_ == Layout::Pretty) newline_and_indent();
}

void Writer::open(char bracket) {
  before_value();
  out_ += bracket;
  has_items_.push_back(false);
}

void Writer::close(char bracket) {
  const bool had_items = !has_items_.empty() && has_items_.back();
  if (!has_items_.empty()) has_items_.pop_back();
  if (had_items && layout_ == Layout::Pretty) newline_and_indent();
  out_ += bracket;
}

void Writer::name(std::string_view member_name) {
  before_value();
  if (!append_string(out_, member_name)) failed_ = true;
  out_ += layout_ == Layout::Pretty ? ": " : ":";
  after_name_ = true;
}

void Writer::string(std::string_view value) {
  before_value();
  if (!append_string(out_, value)) failed_ = true;
}

void Writer::number(std::uint64_t value) {
  before_value();
  char buffer[24];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  out_.append(buffer, r.ptr);
}

std::expected<std::string, std::string> Writer::finish() && {
  if (failed_) return std::unexpected(std::string("string is not valid UTF-8"));
  return std::move(out_);
}

}  // namespace talvik::json
