#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "talvik/error.hpp"
#include "talvik/json.hpp"
#include "talvik/morpheme.hpp"

// Morpheme-map files: the plain JSON form of a map, the cipher that seals a
// map (AES-256-GCM under a built-in key, with a SHA-256 checksum of the sealed
// payload), the two encrypted containers (".enc" JSON and ".bin" binary), and
// the file tools built on them.
namespace talvik {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::size_t kMapKeySize = 32;
inline constexpr std::size_t kNonceSize = 12;
inline constexpr std::size_t kTagSize = 16;
inline constexpr std::size_t kChecksumSize = 32;

using MapKey = std::array<std::uint8_t, kMapKeySize>;
using Nonce = std::array<std::uint8_t, kNonceSize>;
using Digest = std::array<std::uint8_t, kChecksumSize>;

[[nodiscard]] inline std::span<const std::uint8_t> as_bytes(std::string_view s) noexcept {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// ===========================================================================
// Plain JSON form
// ===========================================================================

// One JSON object of string members; a repeated name keeps the later value.
[[nodiscard]] json::Parsed<MorphemeMap> parse_plain_map(std::string_view text);

// Compact JSON ({"m":"c",...}, map order, no whitespace), or the writer's
// description of why it cannot be written (a key or value that is not UTF-8).
[[nodiscard]] std::expected<std::string, std::string> write_plain_map(const MorphemeMap& map);

// ===========================================================================
// Cipher
// ===========================================================================

// SHA-256 of a fixed 32-byte constant followed by a fixed 29-byte seed text,
// both built in. Every build with the same two values derives the same key;
// changing either orphans every file sealed before.
[[nodiscard]] MapKey derive_map_key();

[[nodiscard]] Digest sha256(std::span<const std::uint8_t> data);

// True only if `stored` is exactly 32 bytes and equals SHA-256 of `payload`.
[[nodiscard]] bool checksum_matches(std::span<const std::uint8_t> payload, std::span<const std::uint8_t> stored);

struct SealedMap {
  Nonce nonce{};
  Bytes payload;  // ciphertext followed by the 16-byte tag
  Digest checksum{};
};

// Compact JSON of the map, a fresh nonce, AES-256-GCM under derive_map_key().
[[nodiscard]] Result<SealedMap> seal_map(const MorphemeMap& map);

// Authenticates and decrypts a payload whose checksum the container has
// already verified, then reads the plaintext as a plain map.
[[nodiscard]] Result<MorphemeMap> open_map(const MapKey& key, const Nonce& nonce,
                                           std::span<const std::uint8_t> payload);

// Nonces come from the wall clock (nanoseconds since the Unix epoch, the 96
// low bits little-endian). Under one fixed key a repeated nonce would give
// away the keystream, so within a process the values strictly increase: a
// clock reading at or before the last value used yields that value plus one.
class NonceSequence {
 public:
  // The nonce for a clock reading; a reading before the epoch is refused.
  [[nodiscard]] Result<Nonce> next(std::int64_t clock_ns);

  // The process-wide sequence that seal_map draws from.
  [[nodiscard]] static NonceSequence& process();

 private:
  std::atomic<std::uint64_t> last_{0};
};

// Little-endian 96-bit form of a nonce counter value.
[[nodiscard]] Nonce nonce_from_counter(std::uint64_t value) noexcept;

// The wall clock in nanoseconds since the Unix epoch (negative before it).
[[nodiscard]] std::int64_t wall_clock_ns() noexcept;

// Building blocks, exposed for the tests that pin them.
namespace detail {

// AES-GCM accepts at most 2^36 bytes of plaintext per nonce.
inline constexpr std::uint64_t kMaxPlaintext = std::uint64_t{1} << 36;
[[nodiscard]] Result<void> check_plaintext_size(std::uint64_t bytes);

// The binary container stores the payload length in 32 bits.
[[nodiscard]] Result<void> check_binary_payload_size(std::uint64_t bytes);

// Plain AES-256-GCM, no associated data; the output is ciphertext then tag.
[[nodiscard]] Result<Bytes> aes256gcm_seal(const MapKey& key, const Nonce& nonce,
                                           std::span<const std::uint8_t> plaintext);
// The plaintext, or nothing on any failure: a payload shorter than the tag,
// a wrong tag, or the cipher refusing.
[[nodiscard]] std::optional<Bytes> aes256gcm_open(const MapKey& key, const Nonce& nonce,
                                                  std::span<const std::uint8_t> sealed);

}  // namespace detail

// ===========================================================================
// Encrypted JSON container (".enc")
// ===========================================================================

struct EncryptedMorfMap {
  std::string version;    // "1.0" when written; never checked
  std::string algorithm;  // "AES-256-GCM" when written; never checked
  std::string iv;         // Base64 of the 12-byte nonce
  std::string data;       // Base64 of the sealed payload
  std::string checksum;   // Base64 of SHA-256 of the sealed payload
  std::uint64_t num_morphemes = 0;

  [[nodiscard]] static Result<EncryptedMorfMap> encrypt(const MorphemeMap& map);

  // The record from JSON text: an object with the six members in any order
  // (others ignored, each of the six exactly once with its type) or an array
  // of the six values in field order. Faults are Crypto errors
  // "Invalid encrypted file: <reader's description>".
  [[nodiscard]] static Result<EncryptedMorfMap> parse(std::string_view text);
  [[nodiscard]] static Result<EncryptedMorfMap> read(std::string_view path);

  // The file text: "{", one member per line indented two spaces, "}" with no
  // line break after it.
  [[nodiscard]] Result<std::string> to_json() const;
  [[nodiscard]] Result<void> write(std::string_view path) const;

  // Base64 of iv, data, checksum; checksum verified; then the payload opened.
  [[nodiscard]] Result<MorphemeMap> decrypt() const;
};

// ===========================================================================
// Binary container (".bin")
// ===========================================================================
//
//   0  4  "SARF"          8 12  nonce
//   4  2  version (BE)    20 4  L, payload length (BE)
//   6  1  flags           24 L  sealed payload
//   7  1  reserved        24+L 32  checksum

inline constexpr std::array<std::uint8_t, 4> kBinaryMagic = {'S', 'A', 'R', 'F'};
inline constexpr std::uint16_t kBinaryFormatVersion = 1;
inline constexpr std::size_t kBinaryHeaderSize = 24;
inline constexpr std::size_t kBinaryMinSize = kBinaryHeaderSize + kChecksumSize;

struct BinaryMorfMap {
  std::uint16_t version = kBinaryFormatVersion;
  std::uint8_t flags = 0;
  Nonce nonce{};
  Bytes payload;
  Digest checksum{};

  [[nodiscard]] static Result<BinaryMorfMap> encrypt(const MorphemeMap& map);

  // Checks, in order: size, magic, version, announced length. Bytes after the
  // checksum are ignored.
  [[nodiscard]] static Result<BinaryMorfMap> parse(std::span<const std::uint8_t> bytes);
  [[nodiscard]] static Result<BinaryMorfMap> read(std::string_view path);

  // The file image. The payload must be shorter than 2^32 bytes (encrypt
  // guarantees it; write checks it again).
  [[nodiscard]] Bytes serialize() const;
  [[nodiscard]] Result<void> write(std::string_view path) const;

  [[nodiscard]] Result<MorphemeMap> decrypt() const;
};

// True exactly when the file can be read and starts with "SARF". Never fails.
[[nodiscard]] bool is_binary_morf_map(std::string_view path) noexcept;

// ===========================================================================
// File operations
// ===========================================================================

// Either container, told apart by the magic bytes: a file that starts with
// "SARF" is read as binary, anything else (an unreadable file included) as
// the JSON container.
[[nodiscard]] Result<MorphemeMap> load_morf_map(std::string_view path);
// The binary container only.
[[nodiscard]] Result<MorphemeMap> load_binary_morf_map(std::string_view path);

[[nodiscard]] Result<void> save_encrypted_morf_map(const MorphemeMap& map, std::string_view path);
[[nodiscard]] Result<void> save_binary_morf_map(const MorphemeMap& map, std::string_view path);

// The file tools report which stage failed, because the stage decides how the
// failure is shown, and carry the message to show.
struct MapToolError {
  enum class Stage : std::uint8_t {
    Input,    // the input file could not be read (or, for a container, parsed)
    Content,  // the plain JSON text, decryption or encryption
    Output,   // the output file could not be written
  };
  Stage stage;
  std::string message;
};

template <class T>
using MapToolResult = std::expected<T, MapToolError>;

enum class MapContainer : std::uint8_t { Encrypted, Binary };

// Plain JSON map file to a container file; returns the number of entries.
// An unreadable input gives the bare I/O description, a bad map
// "Invalid JSON: <description>", the rest the CoreError text.
[[nodiscard]] MapToolResult<std::size_t> encrypt_morf_map_file(std::string_view input_json, std::string_view output,
                                                               MapContainer container);

// ".enc" file to a ".bin" file, decrypted and sealed anew (new nonce);
// returns the number of entries. Messages are CoreError texts.
[[nodiscard]] MapToolResult<std::size_t> convert_enc_to_bin(std::string_view input_enc, std::string_view output_bin);

}  // namespace talvik
