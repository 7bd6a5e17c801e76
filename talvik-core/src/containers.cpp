// The two encrypted map containers and the file operations built on them.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>

#include "talvik/base64.hpp"
#include "talvik/crypto.hpp"
#include "talvik/fileio.hpp"
#include "talvik/utf8.hpp"

namespace talvik {

namespace {

constexpr std::size_t kFieldCount = 6;
constexpr std::string_view kFieldNames[kFieldCount] = {"version", "algorithm", "iv",
                                                       "data",    "checksum",  "num_morphemes"};
constexpr std::string_view kRecordName = "struct EncryptedMorfMap";

CoreError invalid_encrypted_file(const json::Error& error) {
  return CoreError::crypto("Invalid encrypted file: " + error.describe());
}

std::uint16_t read_be16(const std::uint8_t* p) noexcept { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

std::uint32_t read_be32(const std::uint8_t* p) noexcept {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

bool starts_with_magic(std::span<const std::uint8_t> bytes) noexcept {
  return bytes.size() >= kBinaryMagic.size() && std::equal(kBinaryMagic.begin(), kBinaryMagic.end(), bytes.begin());
}

// Reads the six fields of the record from an object or a six-element array.
class RecordParser {
 public:
  explicit RecordParser(std::string_view text) : reader_(text) {}

  json::Parsed<EncryptedMorfMap> run() {
    json::Parsed<void> body;
    switch (reader_.peek()) {
      case json::ValueKind::Object:
        body = object();
        break;
      case json::ValueKind::Array:
        body = array();
        break;
      default:
        return std::unexpected(reader_.invalid_type(kRecordName));
    }
    if (!body) return std::unexpected(std::move(body.error()));
    if (auto r = reader_.finish(); !r) return std::unexpected(std::move(r.error()));
    return std::move(record_);
  }

 private:
  json::Parsed<void> field(std::size_t index) {
    if (index == kFieldCount - 1) {
      auto count = reader_.read_uint(json::kU64Max);
      if (!count) return std::unexpected(std::move(count.error()));
      record_.num_morphemes = *count;
      return {};
    }
    auto text = reader_.read_string("a string");
    if (!text) return std::unexpected(std::move(text.error()));
    std::string* const targets[] = {&record_.version, &record_.algorithm, &record_.iv, &record_.data,
                                    &record_.checksum};
    targets[index]->assign(*text);
    return {};
  }

  json::Parsed<void> object() {
    if (auto r = reader_.begin_object(kRecordName); !r) return r;
    bool seen[kFieldCount] = {};
    std::string_view name;
    for (;;) {
      auto more = reader_.next_member(name);
      if (!more) return std::unexpected(std::move(more.error()));
      if (!*more) break;
      const auto found = std::find(std::begin(kFieldNames), std::end(kFieldNames), name);
      if (found == std::end(kFieldNames)) {
        if (auto r = reader_.skip_value(); !r) return r;
        continue;
      }
      const auto index = static_cast<std::size_t>(found - std::begin(kFieldNames));
      if (seen[index]) {
        return std::unexpected(reader_.error_at(reader_.name_offset(), "duplicate field `" + std::string(name) + "`"));
      }
      seen[index] = true;
      if (auto r = field(index); !r) return r;
    }
    const std::size_t closing_brace = reader_.offset() - 1;
    for (std::size_t i = 0; i < kFieldCount; ++i) {
      if (!seen[i]) {
        return std::unexpected(reader_.error_at(closing_brace, "missing field `" + std::string(kFieldNames[i]) + "`"));
      }
    }
    return {};
  }

  json::Parsed<void> array() {
    if (auto r = reader_.begin_array(kRecordName); !r) return r;
    for (std::size_t i = 0; i < kFieldCount; ++i) {
      auto more = reader_.next_element();
      if (!more) return std::unexpected(std::move(more.error()));
      if (!*more) return std::unexpected(reader_.error_at(reader_.offset() - 1, wrong_length(i)));
      if (auto r = field(i); !r) return r;
    }
    auto more = reader_.next_element();
    if (!more) return std::unexpected(std::move(more.error()));
    if (!*more) return {};
    // Count the surplus so the message can say how long the array really is.
    const std::size_t first_extra = reader_.offset();
    std::size_t length = kFieldCount;
    while (*more) {
      if (auto r = reader_.skip_value(); !r) return r;
      ++length;
      more = reader_.next_element();
      if (!more) return std::unexpected(std::move(more.error()));
    }
    return std::unexpected(reader_.error_at(first_extra, wrong_length(length)));
  }

  static std::string wrong_length(std::size_t length) {
    return "invalid length " + std::to_string(length) + ", expected " + std::string(kRecordName) + " with " +
           std::to_string(kFieldCount) + " elements";
  }

  json::Reader reader_;
  EncryptedMorfMap record_;
};

MapToolError tool_error(MapToolError::Stage stage, const CoreError& error) { return {stage, error.text()}; }

}  // namespace

// ---------------------------------------------------------------------------
// Encrypted JSON container
// ---------------------------------------------------------------------------

Result<EncryptedMorfMap> EncryptedMorfMap::encrypt(const MorphemeMap& map) {
  auto sealed = seal_map(map);
  if (!sealed) return std::unexpected(std::move(sealed.error()));
  EncryptedMorfMap record;
  record.version = "1.0";
  record.algorithm = "AES-256-GCM";
  record.iv = base64::encode(sealed->nonce);
  record.data = base64::encode(sealed->payload);
  record.checksum = base64::encode(sealed->checksum);
  record.num_morphemes = map.size();
  return record;
}

Result<EncryptedMorfMap> EncryptedMorfMap::parse(std::string_view text) {
  auto record = RecordParser(text).run();
  if (!record) return std::unexpected(invalid_encrypted_file(record.error()));
  return std::move(*record);
}

Result<EncryptedMorfMap> EncryptedMorfMap::read(std::string_view path) {
  auto text = read_text_file(path);
  if (!text) return std::unexpected(std::move(text.error()));
  return parse(*text);
}

Result<std::string> EncryptedMorfMap::to_json() const {
  json::Writer writer(json::Writer::Layout::Pretty);
  writer.reserve(data.size() + 160);
  writer.begin_object();
  writer.name("version");
  writer.string(version);
  writer.name("algorithm");
  writer.string(algorithm);
  writer.name("iv");
  writer.string(iv);
  writer.name("data");
  writer.string(data);
  writer.name("checksum");
  writer.string(checksum);
  writer.name("num_morphemes");
  writer.number(num_morphemes);
  writer.end_object();
  auto text = std::move(writer).finish();
  if (!text) return std::unexpected(CoreError::crypto("Serialization failed: " + text.error()));
  return std::move(*text);
}

Result<void> EncryptedMorfMap::write(std::string_view path) const {
  auto text = to_json();
  if (!text) return std::unexpected(std::move(text.error()));
  return write_file_atomic(path, *text);
}

Result<MorphemeMap> EncryptedMorfMap::decrypt() const {
  MapKey key = derive_map_key();
  auto nonce_bytes = base64::decode(iv);
  if (!nonce_bytes) return std::unexpected(CoreError::crypto("Invalid IV: " + nonce_bytes.error()));
  auto payload = base64::decode(data);
  if (!payload) return std::unexpected(CoreError::crypto("Invalid data: " + payload.error()));
  const Digest digest = sha256(*payload);
  auto stored = base64::decode(checksum);
  if (!stored) return std::unexpected(CoreError::crypto("Invalid checksum: " + stored.error()));
  if (stored->size() != kChecksumSize || !std::equal(digest.begin(), digest.end(), stored->begin())) {
    return std::unexpected(CoreError::crypto("Checksum mismatch - file may be corrupted"));
  }
  // Never decrypt under a nonce the file does not really hold.
  if (nonce_bytes->size() != kNonceSize) {
    return std::unexpected(CoreError::crypto("Invalid IV length: expected " + std::to_string(kNonceSize) +
                                             " bytes, got " + std::to_string(nonce_bytes->size())));
  }
  Nonce nonce{};
  std::copy(nonce_bytes->begin(), nonce_bytes->end(), nonce.begin());
  return open_map(key, nonce, *payload);
}

// ---------------------------------------------------------------------------
// Binary container
// ---------------------------------------------------------------------------

Result<BinaryMorfMap> BinaryMorfMap::encrypt(const MorphemeMap& map) {
  auto sealed = seal_map(map);
  if (!sealed) return std::unexpected(std::move(sealed.error()));
  if (auto r = detail::check_binary_payload_size(sealed->payload.size()); !r) {
    return std::unexpected(std::move(r.error()));
  }
  BinaryMorfMap record;
  record.nonce = sealed->nonce;
  record.payload = std::move(sealed->payload);
  record.checksum = sealed->checksum;
  return record;
}

Result<BinaryMorfMap> BinaryMorfMap::parse(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kBinaryMinSize) {
    return std::unexpected(CoreError::crypto("File too small to be valid binary morf_map"));
  }
  if (!starts_with_magic(bytes)) {
    return std::unexpected(CoreError::crypto("Invalid magic bytes - not a SARF binary file"));
  }
  const std::uint16_t version = read_be16(bytes.data() + 4);
  if (version != kBinaryFormatVersion) {
    return std::unexpected(CoreError::crypto("Unsupported binary format version: " + std::to_string(version) +
                                             " (expected " + std::to_string(kBinaryFormatVersion) + ")"));
  }
  const std::uint64_t length = read_be32(bytes.data() + 20);
  const std::uint64_t expected = kBinaryMinSize + length;
  if (bytes.size() < expected) {
    return std::unexpected(CoreError::crypto("File truncated: expected " + std::to_string(expected) +
                                             " bytes, got " + std::to_string(bytes.size())));
  }
  BinaryMorfMap record;
  record.version = version;
  record.flags = bytes[6];
  std::copy_n(bytes.begin() + 8, kNonceSize, record.nonce.begin());
  const auto payload_begin = bytes.begin() + kBinaryHeaderSize;
  const auto payload_end = payload_begin + static_cast<std::ptrdiff_t>(length);
  record.payload.assign(payload_begin, payload_end);
  std::copy_n(payload_end, kChecksumSize, record.checksum.begin());
  return record;
}

Result<BinaryMorfMap> BinaryMorfMap::read(std::string_view path) {
  auto bytes = read_file(path);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  return parse(as_bytes(*bytes));
}

Bytes BinaryMorfMap::serialize() const {
  const auto length = static_cast<std::uint32_t>(payload.size());
  std::array<std::uint8_t, kBinaryHeaderSize> header{};
  std::copy(kBinaryMagic.begin(), kBinaryMagic.end(), header.begin());
  header[4] = static_cast<std::uint8_t>(version >> 8);
  header[5] = static_cast<std::uint8_t>(version);
  header[6] = flags;
  header[7] = 0;  // reserved
  std::copy(nonce.begin(), nonce.end(), header.begin() + 8);
  for (std::size_t i = 0; i < 4; ++i) header[20 + i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
  Bytes out(header.begin(), header.end());
  out.resize(kBinaryMinSize + payload.size());
  const auto payload_at = out.begin() + kBinaryHeaderSize;
  std::copy(payload.begin(), payload.end(), payload_at);
  std::copy(checksum.begin(), checksum.end(), payload_at + static_cast<std::ptrdiff_t>(payload.size()));
  return out;
}

Result<void> BinaryMorfMap::write(std::string_view path) const {
  if (auto r = detail::check_binary_payload_size(payload.size()); !r) return r;
  const Bytes image = serialize();
  return write_file_atomic(path, std::string_view(reinterpret_cast<const char*>(image.data()), image.size()));
}

Result<MorphemeMap> BinaryMorfMap::decrypt() const {
  MapKey key = derive_map_key();
  if (!checksum_matches(payload, checksum)) {
    return std::unexpected(CoreError::crypto("Checksum mismatch - file may be corrupted"));
  }
  return open_map(key, nonce, payload);
}

// Only the first four bytes decide, so only they are read: a huge file or a
// device that never ends costs nothing.
bool is_binary_morf_map(std::string_view path) noexcept {
  try {
    const std::string name(path);
    if (name.find('\0') != std::string::npos) return false;
    int fd;
    do {
      fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    std::uint8_t head[kBinaryMagic.size()];
    std::size_t got = 0;
    bool failed = false;
    while (got < sizeof head) {
      const ssize_t n = ::read(fd, head + got, sizeof head - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) failed = true;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return !failed && starts_with_magic(std::span<const std::uint8_t>(head, got));
  } catch (...) {
    return false;
  }
}

// ---------------------------------------------------------------------------
// File operations
// ---------------------------------------------------------------------------

// The file is read once; its first bytes choose the container.
Result<MorphemeMap> load_morf_map(std::string_view path) {
  auto bytes = read_file(path);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  if (starts_with_magic(as_bytes(*bytes))) {
    auto record = BinaryMorfMap::parse(as_bytes(*bytes));
    if (!record) return std::unexpected(std::move(record.error()));
    return record->decrypt();
  }
  if (!utf8::is_valid(*bytes)) return std::unexpected(not_utf8_error());
  auto record = EncryptedMorfMap::parse(*bytes);
  if (!record) return std::unexpected(std::move(record.error()));
  return record->decrypt();
}

Result<MorphemeMap> load_binary_morf_map(std::string_view path) {
  auto record = BinaryMorfMap::read(path);
  if (!record) return std::unexpected(std::move(record.error()));
  return record->decrypt();
}

Result<void> save_encrypted_morf_map(const MorphemeMap& map, std::string_view path) {
  auto record = EncryptedMorfMap::encrypt(map);
  if (!record) return std::unexpected(std::move(record.error()));
  return record->write(path);
}

Result<void> save_binary_morf_map(const MorphemeMap& map, std::string_view path) {
  auto record = BinaryMorfMap::encrypt(map);
  if (!record) return std::unexpected(std::move(record.error()));
  return record->write(path);
}

MapToolResult<std::size_t> encrypt_morf_map_file(std::string_view input_json, std::string_view output,
                                                 MapContainer container) {
  using Stage = MapToolError::Stage;
  auto text = read_text_file(input_json);
  if (!text) return std::unexpected(MapToolError{Stage::Input, text.error().detail()});
  auto map = parse_plain_map(*text);
  if (!map) return std::unexpected(MapToolError{Stage::Content, "Invalid JSON: " + map.error().describe()});
  if (container == MapContainer::Encrypted) {
    auto record = EncryptedMorfMap::encrypt(*map);
    if (!record) return std::unexpected(tool_error(Stage::Content, record.error()));
    if (auto r = record->write(output); !r) return std::unexpected(tool_error(Stage::Output, r.error()));
  } else {
    auto record = BinaryMorfMap::encrypt(*map);
    if (!record) return std::unexpected(tool_error(Stage::Content, record.error()));
    if (auto r = record->write(output); !r) return std::unexpected(tool_error(Stage::Output, r.error()));
  }
  return map->size();
}

MapToolResult<std::size_t> convert_enc_to_bin(std::string_view input_enc, std::string_view output_bin) {
  using Stage = MapToolError::Stage;
  auto encrypted = EncryptedMorfMap::read(input_enc);
  if (!encrypted) return std::unexpected(tool_error(Stage::Input, encrypted.error()));
  auto map = encrypted->decrypt();
  if (!map) return std::unexpected(tool_error(Stage::Content, map.error()));
  auto binary = BinaryMorfMap::encrypt(*map);
  if (!binary) return std::unexpected(tool_error(Stage::Content, binary.error()));
  if (auto r = binary->write(output_bin); !r) return std::unexpected(tool_error(Stage::Output, r.error()));
  return map->size();
}

}  // namespace talvik
