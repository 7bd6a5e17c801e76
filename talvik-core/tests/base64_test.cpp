#include "talvik/base64.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "talvik/crypto.hpp"

namespace {

namespace base64 = talvik::base64;

std::vector<std::uint8_t> bytes_of(std::string_view s) {
  const auto span = talvik::as_bytes(s);
  return {span.begin(), span.end()};
}

// RFC 4648, section 10.
TEST(Base64, StandardVectors) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, text] : cases) {
    EXPECT_EQ(base64::encode(talvik::as_bytes(plain)), text);
    auto decoded = base64::decode(text);
    ASSERT_TRUE(decoded) << text;
    EXPECT_EQ(*decoded, bytes_of(plain));
  }
  const std::vector<std::uint8_t> high = {0xFB, 0xFF, 0xBF};
  EXPECT_EQ(base64::encode(high), "+/+/");
}

TEST(Base64, OnlyCanonicalTextDecodes) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"Zg", "invalid length 2: Base64 text must be a multiple of 4 characters long"},
      {"Zm9vYg=", "invalid length 7: Base64 text must be a multiple of 4 characters long"},
      {"Zm9vY", "invalid length 5: Base64 text must be a multiple of 4 characters long"},
      {"Zh==", "non-zero unused bits in the last symbol 'h' at offset 1"},
      {"Zm9=", "non-zero unused bits in the last symbol '9' at offset 2"},
      {"Zg==Zg==", "invalid padding at offset 2"},
      {"Z===", "invalid padding at offset 1"},
      {"====", "invalid padding at offset 0"},
      {"Zm=v", "invalid padding at offset 2"},
      {"Zm9 ", "invalid character ' ' at offset 3"},
      {"Zm9\n", "invalid byte 0x0a at offset 3"},
      {"Zm-v", "invalid character '-' at offset 2"},
      {"Zm_v", "invalid character '_' at offset 2"},
      {"Zm9v\xD8\xA7==", "invalid byte 0xd8 at offset 4"},
      {std::string_view("Zm\0v", 4), "invalid byte 0x00 at offset 2"},
  };
  for (const auto& [text, fault] : cases) {
    auto decoded = base64::decode(text);
    ASSERT_FALSE(decoded) << text;
    EXPECT_EQ(decoded.error(), fault) << text;
  }
}

TEST(Base64, RoundTripsEveryLength) {
  std::mt19937 rng(7);
  for (std::size_t n = 0; n <= 70; ++n) {
    std::vector<std::uint8_t> data(n);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    const std::string text = base64::encode(data);
    EXPECT_EQ(text.size(), base64::encoded_length(n));
    auto back = base64::decode(text);
    ASSERT_TRUE(back) << text;
    EXPECT_EQ(*back, data);
  }
}

}  // namespace
