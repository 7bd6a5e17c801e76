#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "talvik/error.hpp"

// JSON text: a pull reader that reports every fault with its line and column,
// and a writer with a compact and a two-space pretty layout. Both work on UTF-8.
//
// The reader is driven by the code that knows the expected shape (a morpheme
// map, a container record, a tokenizer file), so it never builds a tree: it
// hands out strings and integers as it meets them, and the caller words its
// own faults ("missing field `x`") at positions the reader gives.
namespace talvik::json {

// Containers nest at most this deep; a deeper text is refused rather than
// being allowed to exhaust the stack.
inline constexpr std::size_t kMaxDepth = 128;

// A reader fault: the message and where it was found. Line and column count
// from 1; the column counts characters, not bytes. Line 0 means no position.
struct Error {
  std::string message;
  std::size_t line = 0;
  std::size_t column = 0;

  // "message at line L column C" (the message alone without a position).
  [[nodiscard]] std::string describe() const;
  // The same fault as the core's Json error kind.
  [[nodiscard]] CoreError to_core_error() const { return CoreError::json(message, line, column); }
};

template <class T>
using Parsed = std::expected<T, Error>;

enum class ValueKind : std::uint8_t {
  Null,
  Boolean,
  Number,
  String,
  Array,
  Object,
  End,    // no value: the text ends here
  Other,  // no value can start with the next character
};

// Upper bounds for read_uint with the matching wording of the "expected" part.
inline constexpr std::uint64_t kU32Max = 0xFFFFFFFFULL;
inline constexpr std::uint64_t kU64Max = 0xFFFFFFFFFFFFFFFFULL;

class Reader {
 public:
  explicit Reader(std::string_view text) noexcept : text_(text) {}
  // The reader keeps a view, so the text must outlive it: no temporaries.
  template <class T>
    requires std::is_same_v<T, std::string>
  explicit Reader(T&&) = delete;
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // The kind of the value at the next non-whitespace character (nothing consumed).
  [[nodiscard]] ValueKind peek() noexcept;

  // A string value, escapes decoded. The view stays valid until the next
  // read_string. Another kind of value is "invalid type: ..., expected <expected>".
  [[nodiscard]] Parsed<std::string_view> read_string(std::string_view expected);
  // An integer in [0, max]. A negative or larger integer is "invalid value:
  // integer `n`, expected an integer from 0 to <max>"; a fraction or exponent
  // makes a floating point value, which is an invalid type.
  [[nodiscard]] Parsed<std::uint64_t> read_uint(std::uint64_t max);

  // Containers. begin_* consumes the opening bracket (or reports an invalid
  // type, naming `expected`). next_member/next_element step to the next item
  // and return false once they have consumed the closing bracket. The member
  // name stays valid until the next call of next_member.
  [[nodiscard]] Parsed<void> begin_object(std::string_view expected);
  [[nodiscard]] Parsed<bool> next_member(std::string_view& name);
  [[nodiscard]] Parsed<void> begin_array(std::string_view expected);
  [[nodiscard]] Parsed<bool> next_element();

  // Reads and discards one value of any kind (depth-limited like the rest).
  [[nodiscard]] Parsed<void> skip_value();
  // After the top-level value: only whitespace may follow ("trailing characters").
  [[nodiscard]] Parsed<void> finish();

  // For faults the caller finds: byte offsets of the reader's position (right
  // after peek(), the start of the next value) and of the opening quote of the
  // last member name, and an error at any offset.
  [[nodiscard]] std::size_t offset() const noexcept { return pos_; }
  [[nodiscard]] std::size_t name_offset() const noexcept { return name_offset_; }
  [[nodiscard]] Error error_at(std::size_t offset, std::string message) const;
  // "invalid type: <the next value>, expected <expected>", at that value. A
  // malformed value gives its own syntax fault instead.
  [[nodiscard]] Error invalid_type(std::string_view expected);

 private:
  struct NumberToken {
    std::size_t begin;
    std::size_t end;
    bool integer;  // no fraction and no exponent
    bool negative;
  };

  void skip_whitespace() noexcept;
  [[nodiscard]] Parsed<std::string_view> scan_string(std::string& scratch);
  [[nodiscard]] Parsed<NumberToken> scan_number();
  [[nodiscard]] Parsed<bool> scan_literal();  // true, false or null (false for null)
  [[nodiscard]] Error unexpected_end(const char* what) const;
  [[nodiscard]] Parsed<void> enter();  // at an opening bracket
  [[nodiscard]] Parsed<bool> step(char close, const char* eof_what, const char* separator_fault);

  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t depth_ = 0;
  std::size_t name_offset_ = 0;
  bool first_item_ = false;  // the container just opened has no item yet
  std::string name_scratch_;
  std::string value_scratch_;
};

// Appends `s` as a JSON string literal with minimal escaping: quotation mark
// and backslash escaped, \b \t \n \f \r, other controls as \u00xx (lower-case
// hex); everything else, the solidus, U+007F and non-ASCII included, raw.
// Returns false (after appending) if `s` is not well-formed UTF-8.
bool append_string(std::string& out, std::string_view s);

// Streaming writer. Compact writes no whitespace at all; Pretty puts every
// member and element on its own line, indented two spaces per level, writes
// ": " after member names and "{}" / "[]" for empty containers, and ends
// right after the closing bracket of the top-level value.
class Writer {
 public:
  enum class Layout : std::uint8_t { Compact, Pretty };

  explicit Writer(Layout layout = Layout::Compact) : layout_(layout) {}

  void reserve(std::size_t bytes) { out_.reserve(bytes); }
  void begin_object() { open('{'); }
  void end_object() { close('}'); }
  void begin_array() { open('['); }
  void end_array() { close(']'); }
  void name(std::string_view member_name);
  void string(std::string_view value);
  void number(std::uint64_t value);

  // The text, or the description of the first fault (a string that is not UTF-8).
  [[nodiscard]] std::expected<std::string, std::string> finish() &&;

 private:
  void before_value();
  void open(char bracket);
  void close(char bracket);
  void newline_and_indent();

  Layout layout_;
  bool after_name_ = false;
  bool failed_ = false;
  std::vector<bool> has_items_;  // one per open container
  std::string out_;
};

}  // namespace talvik::json
