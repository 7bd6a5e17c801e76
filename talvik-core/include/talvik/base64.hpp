#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Base64 with the standard alphabet (A-Z a-z 0-9 + /) and "=" padding.
// Encoding always pads; decoding accepts only the canonical text: padding
// present and in place, zero unused bits in the last symbol, and nothing
// outside the alphabet (whitespace included).
namespace talvik::base64 {

[[nodiscard]] std::size_t encoded_length(std::size_t bytes) noexcept;

[[nodiscard]] std::string encode(std::span<const std::uint8_t> bytes);

// The bytes, or a description of the first fault naming its offset.
[[nodiscard]] std::expected<std::vector<std::uint8_t>, std::string> decode(std::string_view text);

}  // namespace talvik::base64
