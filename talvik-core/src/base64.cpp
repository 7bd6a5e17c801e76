#include "talvik/base64.hpp"

#include <array>
#include <cstdio>

namespace talvik::base64 {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kInvalid = 0xFF;

constexpr std::array<std::uint8_t, 256> kValue = [] {
  std::array<std::uint8_t, 256> t{};
  t.fill(kInvalid);
  for (std::uint8_t i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = i;
  return t;
}();

// "'c'" for a printable ASCII character, "byte 0xNN" for anything else.
std::string describe_byte(unsigned char c) {
  char buffer[16];
  if (c >= 0x20 && c < 0x7F) {
    std::snprintf(buffer, sizeof buffer, "character '%c'", c);
  } else {
    std::snprintf(buffer, sizeof buffer, "byte 0x%02x", c);
  }
  return buffer;
}

std::string at_offset(std::string what, std::size_t offset) {
  what += " at offset ";
  what += std::to_string(offset);
  return what;
}

}  // namespace

std::size_t encoded_length(std::size_t bytes) noexcept { return (bytes + 2) / 3 * 4; }

std::string encode(std::span<const std::uint8_t> bytes) {
  std::string out(encoded_length(bytes.size()), '=');
  std::size_t o = 0;
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t v = (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = kAlphabet[(v >> 6) & 63];
    out[o++] = kAlphabet[v & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    std::uint32_t v = std::uint32_t{bytes[i]} << 16;
    if (rest == 2) v |= std::uint32_t{bytes[i + 1]} << 8;
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
    if (rest == 2) out[o++] = kAlphabet[(v >> 6) & 63];
  }
  return out;
}

std::expected<std::vector<std::uint8_t>, std::string> decode(std::string_view text) {
  const std::size_t n = text.size();
  if (n % 4 != 0) {
    return std::unexpected("invalid length " + std::to_string(n) +
                           ": Base64 text must be a multiple of 4 characters long");
  }
  // Padding: "x===" is never valid, "xx==" and "xxx=" only in the last group.
  std::size_t padding = 0;
  if (n > 0 && text[n - 1] == '=') padding = text[n - 2] == '=' ? 2 : 1;
  const std::size_t symbols = n - padding;
  std::vector<std::uint8_t> out;
  out.reserve(n / 4 * 3 - padding);
  std::uint32_t acc = 0;
  for (std::size_t i = 0; i < symbols; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::uint8_t v = kValue[c];
    if (v == kInvalid) {
      if (c == '=') return std::unexpected(at_offset("invalid padding", i));
      return std::unexpected(at_offset("invalid " + describe_byte(c), i));
    }
    acc = (acc << 6) | v;
    if (i % 4 == 3) {
      out.push_back(static_cast<std::uint8_t>(acc >> 16));
      out.push_back(static_cast<std::uint8_t>(acc >> 8));
      out.push_back(static_cast<std::uint8_t>(acc));
      acc = 0;
    }
  }
  if (padding == 0) return out;
  // The last data symbol must not carry bits beyond the final byte.
  const std::size_t last = symbols - 1;
  const std::uint32_t unused_mask = padding == 2 ? 0x0F : 0x03;
  if ((kValue[static_cast<unsigned char>(text[last])] & unused_mask) != 0) {
    return std::unexpected(
        at_offset("non-zero unused bits in the last symbol '" + std::string(1, text[last]) + "'", last));
  }
  if (padding == 2) {
    out.push_back(static_cast<std::uint8_t>(acc >> 4));
  } else {
    out.push_back(static_cast<std::uint8_t>(acc >> 10));
    out.push_back(static_cast<std::uint8_t>(acc >> 2));
  }
  return out;
}

}  // namespace talvik::base64
