#include "talvik/error.hpp"

#include <cstring>
#include <string>

namespace talvik {

std::string describe_os_error(int error_number) {
  char buffer[256];
  // GNU strerror_r: returns a pointer to the message, which may or may not be `buffer`.
  const char* message = ::strerror_r(error_number, buffer, sizeof buffer);
  std::string out = message != nullptr ? message : "Unknown error";
  out += " (os error ";
  out += std::to_string(error_number);
  out += ')';
  return out;
}

CoreError CoreError::io_errno(int error_number) { return {ErrorKind::Io, describe_os_error(error_number)}; }

CoreError CoreError::io_message(std::string message) { return {ErrorKind::Io, std::move(message)}; }

CoreError CoreError::json(std::string_view message, std::size_t line, std::size_t column) {
  std::string detail(message);
  if (line > 0) {
    detail += " at line ";
    detail += std::to_string(line);
    detail += " column ";
    detail += std::to_string(column);
  }
  return {ErrorKind::Json, std::move(detail)};
}

CoreError CoreError::invalid_morpheme_map() { return {ErrorKind::InvalidMorphemeMap, std::string()}; }

std::string CoreError::text() const {
  switch (kind_) {
    case ErrorKind::Io:
      return "IO error: " + detail_;
    case ErrorKind::Json:
      return "JSON error: " + detail_;
    case ErrorKind::InvalidMorphemeMap:
      return "Invalid morpheme map";
    case ErrorKind::Encoding:
      return "Encoding error: " + detail_;
    case ErrorKind::Decoding:
      return "Decoding error: " + detail_;
    case ErrorKind::Crypto:
      return "Crypto error: " + detail_;
    case ErrorKind::Tokenizer:
      return "Tokenizer error: " + detail_;
  }
  return detail_;
}

}  // namespace talvik
