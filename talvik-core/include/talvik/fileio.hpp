#pragma once

#include <string>
#include <string_view>

#include "talvik/error.hpp"

// Whole-file reading and writing. Paths are UTF-8 file names; errors are Io
// errors with the operating system's description.
namespace talvik {

// The whole content of a file.
[[nodiscard]] Result<std::string> read_file(std::string_view path);

// The whole content of a file that must be UTF-8 text; other bytes are an Io
// error "stream did not contain valid UTF-8".
[[nodiscard]] Result<std::string> read_text_file(std::string_view path);

// The Io error for bytes that should be UTF-8 text and are not.
[[nodiscard]] CoreError not_utf8_error();

// Replaces the content of `path` (creating the file if needed) without ever
// exposing a partial file: the bytes go to a new temporary file in the same
// directory, are flushed to disk and renamed over the target. On any failure
// the temporary file is removed and the target keeps its previous content.
// A target that is a symbolic link is followed, so the link stays a link; the
// permission bits of an existing target are kept.
[[nodiscard]] Result<void> write_file_atomic(std::string_view path, std::string_view bytes);

}  // namespace talvik
