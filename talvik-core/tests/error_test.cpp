#include "talvik/error.hpp"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

using talvik::CoreError;
using talvik::ErrorKind;

TEST(CoreError, TextsOfEveryKind) {
  struct Case {
    CoreError error;
    ErrorKind kind;
    const char* text;
  };
  const Case cases[] = {
      {CoreError::io_errno(ENOENT), ErrorKind::Io, "IO error: No such file or directory (os error 2)"},
      {CoreError::io_message("stream did not contain valid UTF-8"), ErrorKind::Io,
       "IO error: stream did not contain valid UTF-8"},
      {CoreError::json("trailing characters", 3, 14), ErrorKind::Json,
       "JSON error: trailing characters at line 3 column 14"},
      {CoreError::json("EOF while parsing", 0, 0), ErrorKind::Json, "JSON error: EOF while parsing"},
      {CoreError::invalid_morpheme_map(), ErrorKind::InvalidMorphemeMap, "Invalid morpheme map"},
      {CoreError::encoding("x"), ErrorKind::Encoding, "Encoding error: x"},
      {CoreError::decoding("y"), ErrorKind::Decoding, "Decoding error: y"},
      {CoreError::crypto("Checksum mismatch - file may be corrupted"), ErrorKind::Crypto,
       "Crypto error: Checksum mismatch - file may be corrupted"},
      {CoreError::tokenizer("z"), ErrorKind::Tokenizer, "Tokenizer error: z"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.error.kind(), c.kind);
    EXPECT_EQ(c.error.text(), c.text);
  }
}

TEST(CoreError, DetailIsThePayloadAlone) {
  EXPECT_EQ(CoreError::io_errno(EACCES).detail(), "Permission denied (os error 13)");
  EXPECT_EQ(CoreError::crypto("Invalid IV: bad").detail(), "Invalid IV: bad");
}

TEST(CoreError, ResultCarriesValueOrError) {
  talvik::Result<int> ok = 7;
  talvik::Result<int> bad = std::unexpected(CoreError::crypto("m"));
  EXPECT_EQ(*ok, 7);
  ASSERT_FALSE(bad.has_value());
  EXPECT_EQ(bad.error().text(), "Crypto error: m");
}

}  // namespace
