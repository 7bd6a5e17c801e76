#include "talvik/utf8.hpp"

#include <cstring>
#include <string>

namespace talvik::utf8 {

namespace {

// Index of the first non-ASCII byte at or after i, scanning eight bytes at a time.
std::size_t skip_ascii(std::string_view s, std::size_t i) noexcept {
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  while (i + 8 <= s.size()) {
    std::uint64_t word;
    std::memcpy(&word, s.data() + i, 8);
    if ((word & kHighBits) != 0) break;
    i += 8;
  }
  while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80) ++i;
  return i;
}

}  // namespace

bool is_valid(std::string_view s) noexcept {
  std::size_t i = 0;
  while ((i = skip_ascii(s, i)) < s.size()) {
    const Decoded d = decode(s, i);
    if (!d.valid) return false;
    i += d.len;
  }
  return true;
}

std::string to_valid_lossy(std::string bytes) {
  const std::string_view s(bytes);
  std::size_t i = 0;
  // Find the first fault; most inputs have none and are returned as they are.
  while ((i = skip_ascii(s, i)) < s.size()) {
    const Decoded d = decode(s, i);
    if (!d.valid) break;
    i += d.len;
  }
  if (i >= s.size()) return bytes;
  std::string out;
  out.reserve(s.size() + 16);
  out.append(s.data(), i);
  while (i < s.size()) {
    const Decoded d = decode(s, i);
    if (d.valid) {
      out.append(s.data() + i, d.len);
    } else {
      append(out, kReplacement);
    }
    i += d.len;
  }
  return out;
}

std::size_t count_code_points(std::string_view s) noexcept {
  std::size_t n = 0;
  for (const char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

}  // namespace talvik::utf8
