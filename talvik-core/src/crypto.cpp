// The map cipher: key derivation, nonces, AES-256-GCM sealing and opening,
// and the plain JSON form of a map that is sealed.
#include "talvik/crypto.hpp"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

namespace talvik {

namespace {

// Key material. Never change either value: every map file ever sealed opens
// only under the key these two derive.
constexpr std::array<std::uint8_t, 32> kKeyConstant = {
    0x87, 0xef, 0x81, 0x04, 0xcd, 0x15, 0x16, 0xf9, 0xad, 0xeb, 0x9c, 0xde, 0xf2, 0x05, 0x24, 0x9e,
    0xfe, 0xe5, 0x75, 0xe5, 0x93, 0x22, 0x21, 0xf9, 0x3a, 0x65, 0xfe, 0xcb, 0xa2, 0x47, 0x6c, 0xf6,
};
constexpr char kKeySeed[] = "tessarline/morf-map/key/v1.00";
static_assert(sizeof kKeySeed - 1 == 29, "the seed text is exactly 29 bytes");

struct CipherContextFree {
  void operator()(EVP_CIPHER_CTX* context) const noexcept { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

CipherContext new_cipher_context() {
  CipherContext context(EVP_CIPHER_CTX_new());
  if (!context) throw std::bad_alloc();
  return context;
}

// EVP counts in int; longer inputs go through in pieces (GCM is a stream
// mode, so each piece comes out at once and whole).
constexpr std::size_t kPiece = std::size_t{1} << 30;

template <class Update>
bool run_pieces(EVP_CIPHER_CTX* context, Update update, const std::uint8_t* in, std::size_t size,
                std::uint8_t* out) {
  for (std::size_t done = 0; done < size;) {
    const int piece = static_cast<int>(std::min(kPiece, size - done));
    int written = 0;
    if (update(context, out + done, &written, in + done, piece) != 1 || written != piece) return false;
    done += static_cast<std::size_t>(piece);
  }
  return true;
}

class KeyWipe {
 public:
  explicit KeyWipe(MapKey& key) noexcept : key_(key) {}
  KeyWipe(const KeyWipe&) = delete;
  KeyWipe& operator=(const KeyWipe&) = delete;
  ~KeyWipe() { OPENSSL_cleanse(key_.data(), key_.size()); }

 private:
  MapKey& key_;
};

}  // namespace

// ---------------------------------------------------------------------------
// Plain JSON form
// ---------------------------------------------------------------------------

json::Parsed<MorphemeMap> parse_plain_map(std::string_view text) {
  json::Reader reader(text);
  if (auto r = reader.begin_object("a map"); !r) return std::unexpected(std::move(r.error()));
  MorphemeMap map;
  // Every member takes at least four quotation marks, so this bounds the
  // member count from above; sizing once spares the index its rehashes.
  map.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '"')) / 4);
  std::string_view name;
  for (;;) {
    auto more = reader.next_member(name);
    if (!more) return std::unexpected(std::move(more.error()));
    if (!*more) break;
    std::string key(name);
    auto value = reader.read_string("a string");
    if (!value) return std::unexpected(std::move(value.error()));
    map.insert(std::move(key), std::string(*value));
  }
  if (auto r = reader.finish(); !r) return std::unexpected(std::move(r.error()));
  return map;
}

std::expected<std::string, std::string> write_plain_map(const MorphemeMap& map) {
  std::size_t estimate = 2;
  for (const auto& [key, value] : map) estimate += key.size() + value.size() + 6;
  json::Writer writer(json::Writer::Layout::Compact);
  writer.reserve(estimate);
  writer.begin_object();
  for (const auto& [key, value] : map) {
    writer.name(key);
    writer.string(value);
  }
  writer.end_object();
  return std::move(writer).finish();
}

// ---------------------------------------------------------------------------
// Keys, checksums, nonces
// ---------------------------------------------------------------------------

Digest sha256(std::span<const std::uint8_t> data) {
  Digest digest{};
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
      length != digest.size()) {
    throw std::runtime_error("SHA-256 is not available from the crypto library");
  }
  return digest;
}

MapKey derive_map_key() {
  std::array<std::uint8_t, kKeyConstant.size() + sizeof kKeySeed - 1> input{};
  std::copy(kKeyConstant.begin(), kKeyConstant.end(), input.begin());
  std::copy(kKeySeed, kKeySeed + sizeof kKeySeed - 1, input.begin() + kKeyConstant.size());
  return sha256(input);
}

bool checksum_matches(std::span<const std::uint8_t> payload, std::span<const std::uint8_t> stored) {
  if (stored.size() != kChecksumSize) return false;
  const Digest digest = sha256(payload);
  return CRYPTO_memcmp(digest.data(), stored.data(), kChecksumSize) == 0;
}

Nonce nonce_from_counter(std::uint64_t value) noexcept {
  Nonce nonce{};
  for (std::size_t i = 0; i < 8; ++i) nonce[i] = static_cast<std::uint8_t>(value >> (8 * i));
  return nonce;  // bytes 8..11 hold bits 64..95 of a nanosecond count, zero for the next few centuries
}

std::int64_t wall_clock_ns() noexcept {
  using std::chrono::duration_cast;
  using std::chrono::nanoseconds;
  return duration_cast<nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

Result<Nonce> NonceSequence::next(std::int64_t clock_ns) {
  if (clock_ns < 0) {
    return std::unexpected(
        CoreError::crypto("System clock is set before the Unix epoch; cannot derive a nonce from it"));
  }
  const auto clock = static_cast<std::uint64_t>(clock_ns);
  std::uint64_t last = last_.load(std::memory_order_relaxed);
  std::uint64_t value;
  do {
    value = clock > last ? clock : last + 1;
  } while (!last_.compare_exchange_weak(last, value, std::memory_order_relaxed));
  return nonce_from_counter(value);
}

NonceSequence& NonceSequence::process() {
  static NonceSequence sequence;
  return sequence;
}

// ---------------------------------------------------------------------------
// AES-256-GCM
// ---------------------------------------------------------------------------

namespace detail {

Result<void> check_plaintext_size(std::uint64_t bytes) {
  if (bytes <= kMaxPlaintext) return {};
  return std::unexpected(CoreError::crypto("Plaintext of " + std::to_string(bytes) +
                                           " bytes exceeds the AES-256-GCM limit of " +
                                           std::to_string(kMaxPlaintext) + " bytes"));
}

Result<void> check_binary_payload_size(std::uint64_t bytes) {
  if (bytes <= 0xFFFFFFFFULL) return {};
  return std::unexpected(CoreError::crypto("Sealed payload of " + std::to_string(bytes) +
                                           " bytes is too large for the binary format (at most 4294967295 bytes)"));
}

Result<Bytes> aes256gcm_seal(const MapKey& key, const Nonce& nonce, std::span<const std::uint8_t> plaintext) {
  const auto failed = [] { return std::unexpected(CoreError::crypto("Encryption failed - cipher error")); };
  CipherContext context = new_cipher_context();
  // The default GCM nonce length is 12 bytes: counter block = nonce || 0x00000001.
  if (EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, key.data(), nonce.data()) != 1) return failed();
  Bytes out(plaintext.size() + kTagSize);
  if (!run_pieces(context.get(), EVP_EncryptUpdate, plaintext.data(), plaintext.size(), out.data())) return failed();
  int final_length = 0;
  if (EVP_EncryptFinal_ex(context.get(), out.data() + plaintext.size(), &final_length) != 1 || final_length != 0) {
    return failed();
  }
  if (EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(kTagSize),
                          out.data() + plaintext.size()) != 1) {
    return failed();
  }
  return out;
}

std::optional<Bytes> aes256gcm_open(const MapKey& key, const Nonce& nonce, std::span<const std::uint8_t> sealed) {
  if (sealed.size() < kTagSize) return std::nullopt;
  const std::size_t length = sealed.size() - kTagSize;
  std::array<std::uint8_t, kTagSize> tag{};
  std::copy(sealed.begin() + static_cast<std::ptrdiff_t>(length), sealed.end(), tag.begin());
  CipherContext context = new_cipher_context();
  if (EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, key.data(), nonce.data()) != 1) {
    return std::nullopt;
  }
  Bytes out(length);
  if (!run_pieces(context.get(), EVP_DecryptUpdate, sealed.data(), length, out.data())) return std::nullopt;
  if (EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kTagSize), tag.data()) != 1) {
    return std::nullopt;
  }
  int final_length = 0;
  if (EVP_DecryptFinal_ex(context.get(), out.data() + length, &final_length) != 1) {
    OPENSSL_cleanse(out.data(), out.size());  // never hand out unauthenticated plaintext
    return std::nullopt;
  }
  return out;
}

}  // namespace detail

// ---------------------------------------------------------------------------
// Sealing and opening a map
// ---------------------------------------------------------------------------

Result<SealedMap> seal_map(const MorphemeMap& map) {
  MapKey key = derive_map_key();
  const KeyWipe wipe(key);
  auto plaintext = write_plain_map(map);
  if (!plaintext) return std::unexpected(CoreError::crypto("Serialization failed: " + plaintext.error()));
  auto nonce = NonceSequence::process().next(wall_clock_ns());
  if (!nonce) return std::unexpected(std::move(nonce.error()));
  if (auto r = detail::check_plaintext_size(plaintext->size()); !r) return std::unexpected(std::move(r.error()));
  auto payload = detail::aes256gcm_seal(key, *nonce, as_bytes(*plaintext));
  if (!payload) return std::unexpected(std::move(payload.error()));
  SealedMap sealed;
  sealed.nonce = *nonce;
  sealed.checksum = sha256(*payload);
  sealed.payload = std::move(*payload);
  return sealed;
}

Result<MorphemeMap> open_map(const MapKey& key, const Nonce& nonce, std::span<const std::uint8_t> payload) {
  auto plaintext = detail::aes256gcm_open(key, nonce, payload);
  if (!plaintext) {
    return std::unexpected(CoreError::crypto("Decryption failed - invalid file or wrong library version"));
  }
  const std::string_view text(reinterpret_cast<const char*>(plaintext->data()), plaintext->size());
  auto map = parse_plain_map(text);
  if (!map) return std::unexpected(CoreError::crypto("Invalid morf map format: " + map.error().describe()));
  return std::move(*map);
}

}  // namespace talvik
