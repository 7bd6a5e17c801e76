#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <utility>

namespace talvik {

// Declaration order is part of the contract: bindings and tests name kinds by it.
enum class ErrorKind : std::uint8_t {
  Io,
  Json,
  InvalidMorphemeMap,
  Encoding,
  Decoding,
  Crypto,
  Tokenizer,
};

// The core's one error type: a kind plus the payload's own text. It is moved,
// never shared, from the failing operation up to the binding.
class CoreError {
 public:
  // An OS error number: "<strerror> (os error N)".
  [[nodiscard]] static CoreError io_errno(int error_number);
  // An I/O failure that carries its own message instead of an error number.
  [[nodiscard]] static CoreError io_message(std::string message);
  // A JSON reader fault; line 0 means the reader knows no position.
  [[nodiscard]] static CoreError json(std::string_view message, std::size_t line, std::size_t column);
  [[nodiscard]] static CoreError invalid_morpheme_map();
  [[nodiscard]] static CoreError encoding(std::string message) { return {ErrorKind::Encoding, std::move(message)}; }
  [[nodiscard]] static CoreError decoding(std::string message) { return {ErrorKind::Decoding, std::move(message)}; }
  [[nodiscard]] static CoreError crypto(std::string message) { return {ErrorKind::Crypto, std::move(message)}; }
  [[nodiscard]] static CoreError tokenizer(std::string message) { return {ErrorKind::Tokenizer, std::move(message)}; }

  [[nodiscard]] ErrorKind kind() const noexcept { return kind_; }
  // The payload's description alone, without the kind's prefix.
  [[nodiscard]] const std::string& detail() const noexcept { return detail_; }
  // The full rendering: the kind's fixed prefix followed by the payload text.
  [[nodiscard]] std::string text() const;

 private:
  CoreError(ErrorKind kind, std::string detail) : kind_(kind), detail_(std::move(detail)) {}

  ErrorKind kind_;
  std::string detail_;
};

template <class T>
using Result = std::expected<T, CoreError>;

// The description of an OS error number as the Io kind renders it.
[[nodiscard]] std::string describe_os_error(int error_number);

}  // namespace talvik
