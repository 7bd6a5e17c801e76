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

bool is_ascii(std::string_view s) noexcept { return skip_ascii(s, 0) == s.size(); }

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

// ---- fixed-width text --------------------------------------------------------

namespace {

// Writes through a buffer sized for the worst case; `fill` returns the bytes written.
template <class Fill>
void append_bounded(std::string& out, std::size_t max_bytes, Fill fill) {
  const std::size_t old = out.size();
  out.resize_and_overwrite(old + max_bytes, [&](char* p, std::size_t) noexcept { return old + fill(p + old); });
}

template <class Unit>
bool any_surrogate(const Unit* u, std::size_t n) noexcept {
  bool found = false;
  for (std::size_t i = 0; i < n; ++i) found |= (static_cast<std::uint32_t>(u[i]) & 0xFFFFF800U) == 0xD800U;
  return found;
}

}  // namespace

bool has_surrogate(const CodeUnits& text) noexcept {
  switch (text.width) {
    case 2: return any_surrogate(static_cast<const std::uint16_t*>(text.data), text.length);
    case 4: return any_surrogate(static_cast<const std::uint32_t*>(text.data), text.length);
    default: return false;
  }
}

void append_utf8(std::string& out, const CodeUnits& text) {
  const std::size_t n = text.length;
  if (text.width == 1) {
    const auto* u = static_cast<const std::uint8_t*>(text.data);
    append_bounded(out, 2 * n, [&](char* p) noexcept {
      char* const start = p;
      for (std::size_t i = 0; i < n; ++i) {
        const unsigned c = u[i];
        if (c < 0x80) {
          *p++ = static_cast<char>(c);
        } else {
          *p++ = static_cast<char>(0xC0 | (c >> 6));
          *p++ = static_cast<char>(0x80 | (c & 0x3F));
        }
      }
      return static_cast<std::size_t>(p - start);
    });
  } else if (text.width == 2) {
    const auto* u = static_cast<const std::uint16_t*>(text.data);
    append_bounded(out, 3 * n, [&](char* p) noexcept {
      char* const start = p;
      std::size_t i = 0;
      while (i < n) {
        // Below U+0800 every unit takes one or two bytes: both are written
        // without a branch and the output advances by the right length. This
        // covers all of Arabic and ASCII text, four units at a time.
        std::uint64_t word;
        if (i + 4 <= n && (std::memcpy(&word, u + i, 8), (word & 0xF800F800F800F800ULL) == 0)) {
          for (std::size_t k = i; k < i + 4; ++k) {
            const unsigned c = u[k];
            const unsigned two = c >= 0x80;
            p[0] = static_cast<char>(two ? (0xC0 | (c >> 6)) : c);
            p[1] = static_cast<char>(0x80 | (c & 0x3F));
            p += 1 + two;
          }
          i += 4;
          continue;
        }
        const unsigned c = u[i++];
        if (c < 0x80) {
          *p++ = static_cast<char>(c);
        } else if (c < 0x800) {
          *p++ = static_cast<char>(0xC0 | (c >> 6));
          *p++ = static_cast<char>(0x80 | (c & 0x3F));
        } else {
          *p++ = static_cast<char>(0xE0 | (c >> 12));
          *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
          *p++ = static_cast<char>(0x80 | (c & 0x3F));
        }
      }
      return static_cast<std::size_t>(p - start);
    });
  } else {
    const auto* u = static_cast<const std::uint32_t*>(text.data);
    append_bounded(out, 4 * n, [&](char* p) noexcept {
      char* const start = p;
      for (std::size_t i = 0; i < n; ++i) p += encode(u[i], p);
      return static_cast<std::size_t>(p - start);
    });
  }
}

namespace {

// The general decoder: any code point, ill-formed subparts as U+FFFD.
WideText to_wide_general(std::string_view s) {
  std::u32string points;
  points.reserve(s.size());
  char32_t widest = 0;
  for (std::size_t i = 0; i < s.size();) {
    const Decoded d = decode(s, i);
    i += d.len;
    points.push_back(d.cp);
    widest = d.cp > widest ? d.cp : widest;
  }
  WideText out;
  out.length = points.size();
  out.max_class = widest < 0x80 ? 0x7F : widest < 0x100 ? 0xFF : widest < 0x10000 ? 0xFFFF : 0x10FFFF;
  const std::uint8_t width = out.width();
  out.units.resize(points.size() * width);
  for (std::size_t k = 0; k < points.size(); ++k) {
    const char32_t c = points[k];
    if (width == 1) {
      out.units[k] = static_cast<char>(c);
    } else if (width == 2) {
      const auto unit = static_cast<std::uint16_t>(c);
      std::memcpy(out.units.data() + 2 * k, &unit, 2);
    } else {
      const auto unit = static_cast<std::uint32_t>(c);
      std::memcpy(out.units.data() + 4 * k, &unit, 4);
    }
  }
  return out;
}

}  // namespace

WideText to_wide(std::string_view s) {
  WideText out;
  const std::size_t ascii = skip_ascii(s, 0);
  if (ascii == s.size()) {
    out.units.assign(s);
    out.length = s.size();
    return out;
  }
  // One pass into two-byte units for the common case (the whole BMP); a
  // supplementary code point or an ill-formed byte hands over to the general decoder.
  std::size_t length = 0;
  unsigned widest = 0;
  bool general = false;
  out.units.resize_and_overwrite(2 * s.size(), [&](char* buffer, std::size_t) noexcept {
    auto* u = reinterpret_cast<std::uint16_t*>(buffer);
    for (std::size_t k = 0; k < ascii; ++k) u[k] = static_cast<unsigned char>(s[k]);
    std::size_t n = ascii;
    const auto* p = reinterpret_cast<const unsigned char*>(s.data()) + ascii;
    const auto* const end = reinterpret_cast<const unsigned char*>(s.data()) + s.size();
    while (p < end) {
      const unsigned b = *p;
      if (b < 0x80) {
        u[n++] = static_cast<std::uint16_t>(b);
        ++p;
      } else if (b - 0xC2U < 30U && end - p >= 2 && (p[1] & 0xC0) == 0x80) {
        const unsigned c = ((b & 0x1F) << 6) | (p[1] & 0x3F);
        u[n++] = static_cast<std::uint16_t>(c);
        widest = c > widest ? c : widest;
        p += 2;
      } else if ((b & 0xF0) == 0xE0 && end - p >= 3 && (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80 &&
                 (b != 0xE0 || p[1] >= 0xA0) && (b != 0xED || p[1] < 0xA0)) {
        const unsigned c = ((b & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F);
        u[n++] = static_cast<std::uint16_t>(c);
        widest = c > widest ? c : widest;
        p += 3;
      } else {
        general = true;
        return std::size_t{0};
      }
    }
    length = n;
    return 2 * n;
  });
  if (general) return to_wide_general(s);
  out.length = length;
  if (widest >= 0x100) {
    out.max_class = 0xFFFF;
    return out;
  }
  // Latin-1 only: narrow to one byte per code point.
  out.max_class = 0xFF;
  std::string narrow(length, '\0');
  for (std::size_t k = 0; k < length; ++k) {
    std::uint16_t unit;
    std::memcpy(&unit, out.units.data() + 2 * k, 2);
    narrow[k] = static_cast<char>(unit);
  }
  out.units = std::move(narrow);
  return out;
}

}  // namespace talvik::utf8
