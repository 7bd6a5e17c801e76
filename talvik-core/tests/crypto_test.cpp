#include "talvik/crypto.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "talvik/base64.hpp"
#include "talvik/fileio.hpp"

namespace {

using talvik::Bytes;
using talvik::MorphemeMap;

std::string hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const std::uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

Bytes unhex(std::string_view text) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

std::uint64_t counter_of(const talvik::Nonce& nonce) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < 8; ++i) value |= std::uint64_t{nonce[i]} << (8 * i);
  return value;
}

MorphemeMap arabic_map() {
  MorphemeMap map;
  map.insert("\xD8\xA7\xD9\x84", "\xEE\x80\x80");              // ال -> U+E000
  map.insert("\xD9\x83\xD8\xAA\xD8\xA7\xD8\xA8", "\xEE\x80\x81");  // كتاب -> U+E001
  map.insert("q\"uote\nline", "\xF3\xB0\x80\x80");             // escapes, supplementary PUA
  return map;
}

// The key is part of the file format: a change orphans every sealed map.
TEST(MapCipher, KeyIsPinned) {
  EXPECT_EQ(hex(talvik::derive_map_key()), "a437cc114d8a12eb458323e46cc683b397f0096b1a15ed8aae230f0d692df7ca");
}

TEST(MapCipher, Sha256KnownAnswers) {
  EXPECT_EQ(hex(talvik::sha256({})), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(hex(talvik::sha256(talvik::as_bytes("abc"))),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// NIST GCM test cases 13-15 (AES-256, 96-bit IV, no associated data).
TEST(MapCipher, AesGcmKnownAnswers) {
  struct Case {
    const char* key;
    const char* nonce;
    const char* plaintext;
    const char* sealed;
  };
  const Case cases[] = {
      {"0000000000000000000000000000000000000000000000000000000000000000", "000000000000000000000000", "",
       "530f8afbc74536b9a963b4f1c4cb738b"},
      {"0000000000000000000000000000000000000000000000000000000000000000", "000000000000000000000000",
       "00000000000000000000000000000000", "cea7403d4d606b6e074ec5d3baf39d18d0d1c8a799996bf0265b98b5d48ab919"},
      {"feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308", "cafebabefacedbaddecaf888",
       "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de6"
       "57ba637b391aafd255",
       "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a"
       "0abcc9f662898015adb094dac5d93471bdec1a502270e3cc6c"},
  };
  for (const auto& c : cases) {
    talvik::MapKey key{};
    talvik::Nonce nonce{};
    const Bytes key_bytes = unhex(c.key);
    const Bytes nonce_bytes = unhex(c.nonce);
    std::copy(key_bytes.begin(), key_bytes.end(), key.begin());
    std::copy(nonce_bytes.begin(), nonce_bytes.end(), nonce.begin());
    const Bytes plaintext = unhex(c.plaintext);
    auto sealed = talvik::detail::aes256gcm_seal(key, nonce, plaintext);
    ASSERT_TRUE(sealed);
    EXPECT_EQ(hex(*sealed), c.sealed);
    auto opened = talvik::detail::aes256gcm_open(key, nonce, *sealed);
    ASSERT_TRUE(opened);
    EXPECT_EQ(*opened, plaintext);
  }
}

TEST(MapCipher, OpenRefusesAnythingNotSealedAsIs) {
  const talvik::MapKey key = talvik::derive_map_key();
  const talvik::Nonce nonce = talvik::nonce_from_counter(42);
  const Bytes sealed = *talvik::detail::aes256gcm_seal(key, nonce, talvik::as_bytes("{\"a\":\"b\"}"));
  ASSERT_TRUE(talvik::detail::aes256gcm_open(key, nonce, sealed));
  for (std::size_t bit = 0; bit < sealed.size() * 8; bit += 13) {  // ciphertext and tag bits alike
    Bytes flipped = sealed;
    flipped[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
    EXPECT_FALSE(talvik::detail::aes256gcm_open(key, nonce, flipped)) << bit;
  }
  EXPECT_FALSE(talvik::detail::aes256gcm_open(key, talvik::nonce_from_counter(43), sealed));
  talvik::MapKey other = key;
  other[31] ^= 1;
  EXPECT_FALSE(talvik::detail::aes256gcm_open(other, nonce, sealed));
  EXPECT_FALSE(talvik::detail::aes256gcm_open(key, nonce, std::span(sealed).first(15)));
  EXPECT_FALSE(talvik::detail::aes256gcm_open(key, nonce, {}));
}

TEST(MapCipher, SealsCompactJsonUnderTheMapKey) {
  auto empty = talvik::seal_map(MorphemeMap{});
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->payload.size(), 18u);  // "{}" plus the tag
  EXPECT_EQ(empty->checksum, talvik::sha256(empty->payload));

  const MorphemeMap map = arabic_map();
  auto sealed = talvik::seal_map(map);
  ASSERT_TRUE(sealed);
  auto plaintext = talvik::detail::aes256gcm_open(talvik::derive_map_key(), sealed->nonce, sealed->payload);
  ASSERT_TRUE(plaintext);
  EXPECT_EQ(std::string(plaintext->begin(), plaintext->end()),
            "{\"\xD8\xA7\xD9\x84\":\"\xEE\x80\x80\",\"\xD9\x83\xD8\xAA\xD8\xA7\xD8\xA8\":\"\xEE\x80\x81\","
            "\"q\\\"uote\\nline\":\"\xF3\xB0\x80\x80\"}");
  auto opened = talvik::open_map(talvik::derive_map_key(), sealed->nonce, sealed->payload);
  ASSERT_TRUE(opened);
  EXPECT_EQ(*opened, map);
}

TEST(MapCipher, EverySealHasItsOwnNonce) {
  const MorphemeMap map = arabic_map();
  const std::int64_t before = talvik::wall_clock_ns();
  auto first = talvik::seal_map(map);
  auto second = talvik::seal_map(map);
  ASSERT_TRUE(first && second);
  EXPECT_GE(counter_of(first->nonce), static_cast<std::uint64_t>(before));
  EXPECT_GT(counter_of(second->nonce), counter_of(first->nonce));
  EXPECT_EQ(std::vector<std::uint8_t>(first->nonce.begin() + 8, first->nonce.end()), Bytes(4, 0));
  EXPECT_NE(first->payload, second->payload);
  EXPECT_NE(first->checksum, second->checksum);
  EXPECT_EQ(*talvik::open_map(talvik::derive_map_key(), second->nonce, second->payload), map);
}

TEST(MapCipher, SealRefusesTextThatIsNotUtf8) {
  MorphemeMap map;
  map.insert("\xC3(", "x");
  auto sealed = talvik::seal_map(map);
  ASSERT_FALSE(sealed);
  EXPECT_EQ(sealed.error().text(), "Crypto error: Serialization failed: string is not valid UTF-8");
}

TEST(MapCipher, OpenReportsPlaintextThatIsNoMap) {
  const talvik::MapKey key = talvik::derive_map_key();
  const talvik::Nonce nonce = talvik::nonce_from_counter(7);
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"[]", "Crypto error: Invalid morf map format: invalid type: sequence, expected a map at line 1 column 1"},
      {"{\"a\":1}", "Crypto error: Invalid morf map format: invalid type: integer `1`, expected a string at line 1 "
                    "column 6"},
      {"{\"a\":\"\xFF\"}", "Crypto error: Invalid morf map format: invalid UTF-8 in string at line 1 column 7"},
  };
  for (const auto& [plaintext, message] : cases) {
    const Bytes sealed = *talvik::detail::aes256gcm_seal(key, nonce, talvik::as_bytes(plaintext));
    auto map = talvik::open_map(key, nonce, sealed);
    ASSERT_FALSE(map);
    EXPECT_EQ(map.error().text(), message);
  }
  auto short_payload = talvik::open_map(key, nonce, Bytes(15, 0));
  ASSERT_FALSE(short_payload);
  EXPECT_EQ(short_payload.error().text(), "Crypto error: Decryption failed - invalid file or wrong library version");
}

TEST(MapCipher, ChecksumMustBeExactly32MatchingBytes) {
  const Bytes payload = {1, 2, 3};
  const talvik::Digest digest = talvik::sha256(payload);
  Bytes stored(digest.begin(), digest.end());
  EXPECT_TRUE(talvik::checksum_matches(payload, stored));
  stored.push_back(0);
  EXPECT_FALSE(talvik::checksum_matches(payload, stored));
  stored.resize(31);
  EXPECT_FALSE(talvik::checksum_matches(payload, stored));
}

TEST(NonceSequence, StrictlyIncreasesWhateverTheClockSays) {
  talvik::NonceSequence sequence;
  const std::pair<std::int64_t, std::uint64_t> steps[] = {
      {100, 100}, {100, 101}, {50, 102}, {1000, 1000}, {1000, 1001}, {0, 1002}, {5000, 5000},
  };
  for (const auto& [clock, counter] : steps) {
    auto nonce = sequence.next(clock);
    ASSERT_TRUE(nonce);
    EXPECT_EQ(counter_of(*nonce), counter) << clock;
  }
}

TEST(NonceSequence, ClockBeforeTheEpochIsRefused) {
  talvik::NonceSequence sequence;
  auto nonce = sequence.next(-1);
  ASSERT_FALSE(nonce);
  EXPECT_EQ(nonce.error().text(),
            "Crypto error: System clock is set before the Unix epoch; cannot derive a nonce from it");
}

TEST(NonceSequence, ThreadsInOneClockTickGetDistinctNonces) {
  talvik::NonceSequence sequence;
  constexpr int kThreads = 8;
  constexpr int kEach = 2000;
  std::vector<std::vector<std::uint64_t>> drawn(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) drawn[t].push_back(counter_of(*sequence.next(1'000'000)));
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<std::uint64_t> all;
  for (const auto& values : drawn) {
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    all.insert(values.begin(), values.end());
  }
  EXPECT_EQ(all.size(), std::size_t{kThreads * kEach});
  EXPECT_EQ(*all.begin(), 1'000'000u);
  EXPECT_EQ(*all.rbegin(), 1'000'000u + kThreads * kEach - 1);
}

TEST(NonceSequence, LittleEndianLowBits) {
  EXPECT_EQ(hex(talvik::nonce_from_counter(0x0102030405060708ULL)), "080706050403020100000000");
}

TEST(SizeLimits, PlaintextAndBinaryPayload) {
  EXPECT_TRUE(talvik::detail::check_plaintext_size(std::uint64_t{1} << 36));
  auto too_long = talvik::detail::check_plaintext_size((std::uint64_t{1} << 36) + 1);
  ASSERT_FALSE(too_long);
  EXPECT_EQ(too_long.error().text(),
            "Crypto error: Plaintext of 68719476737 bytes exceeds the AES-256-GCM limit of 68719476736 bytes");
  EXPECT_TRUE(talvik::detail::check_binary_payload_size(0xFFFFFFFFULL));
  auto too_large = talvik::detail::check_binary_payload_size(0x100000000ULL);
  ASSERT_FALSE(too_large);
  EXPECT_EQ(too_large.error().text(),
            "Crypto error: Sealed payload of 4294967296 bytes is too large for the binary format (at most 4294967295 "
            "bytes)");
}

// ---------------------------------------------------------------------------
// Encrypted JSON container
// ---------------------------------------------------------------------------

talvik::EncryptedMorfMap sealed_record() { return *talvik::EncryptedMorfMap::encrypt(arabic_map()); }

std::string parse_fault(std::string_view text) {
  auto record = talvik::EncryptedMorfMap::parse(text);
  return record ? "<accepted>" : record.error().text();
}

TEST(EncryptedMorfMap, WritesTheFixedLayout) {
  const auto record = sealed_record();
  EXPECT_EQ(record.iv.size(), 16u);
  EXPECT_EQ(record.checksum.size(), 44u);
  EXPECT_EQ(record.num_morphemes, 3u);
  EXPECT_EQ(*record.to_json(), "{\n  \"version\": \"1.0\",\n  \"algorithm\": \"AES-256-GCM\",\n  \"iv\": \"" + record.iv +
                                   "\",\n  \"data\": \"" + record.data + "\",\n  \"checksum\": \"" + record.checksum +
                                   "\",\n  \"num_morphemes\": 3\n}");
  auto back = talvik::EncryptedMorfMap::parse(*record.to_json());
  ASSERT_TRUE(back);
  EXPECT_EQ(*back->decrypt(), arabic_map());
}

TEST(EncryptedMorfMap, ReadsMembersInAnyOrderAndTheArrayForm) {
  const auto r = sealed_record();
  const std::string reordered = "{\"num_morphemes\": 0, \"extra\": {\"deep\": [[1, 2], {\"x\": null}]}, \"checksum\": \"" +
                                r.checksum + "\", \"data\": \"" + r.data + "\", \"iv\": \"" + r.iv +
                                "\", \"algorithm\": \"other\", \"version\": \"9\"}\n\n";
  auto record = talvik::EncryptedMorfMap::parse(reordered);
  ASSERT_TRUE(record) << record.error().text();
  EXPECT_EQ(record->version, "9");
  EXPECT_EQ(*record->decrypt(), arabic_map());
  const std::string array = "[\"1.0\", \"AES-256-GCM\", \"" + r.iv + "\", \"" + r.data + "\", \"" + r.checksum +
                            "\", 3]";
  auto from_array = talvik::EncryptedMorfMap::parse(array);
  ASSERT_TRUE(from_array) << from_array.error().text();
  EXPECT_EQ(*from_array->decrypt(), arabic_map());
}

TEST(EncryptedMorfMap, ShapeFaultsNameTheFieldAndPlace) {
  const std::string_view prefix = "Crypto error: Invalid encrypted file: ";
  const std::pair<std::string, std::string> cases[] = {
      {R"({"version":"1.0","algorithm":"a","iv":"","data":"","checksum":""})",
       "missing field `num_morphemes` at line 1 column 65"},
      {"{\n  \"iv\": \"\",\n  \"version\": \"1\"\n}", "missing field `algorithm` at line 4 column 1"},
      {R"({"version":"1.0","iv":"a","iv":"b"})", "duplicate field `iv` at line 1 column 27"},
      {R"({"version":"1.0","\u0069v":"a","iv":"b"})", "duplicate field `iv` at line 1 column 32"},
      {R"({"num_morphemes":"3"})",
       "invalid type: string \"3\", expected an integer from 0 to 18446744073709551615 at line 1 column 18"},
      {R"({"num_morphemes":-1})",
       "invalid value: integer `-1`, expected an integer from 0 to 18446744073709551615 at line 1 column 18"},
      {R"({"num_morphemes":1.0})",
       "invalid type: floating point `1.0`, expected an integer from 0 to 18446744073709551615 at line 1 column 18"},
      {R"({"iv":12})", "invalid type: integer `12`, expected a string at line 1 column 7"},
      {R"(["1.0","a","","",""])", "invalid length 5, expected struct EncryptedMorfMap with 6 elements at line 1 "
                                  "column 20"},
      {R"(["1.0","a","","","",1,2,[3]])", "invalid length 8, expected struct EncryptedMorfMap with 6 elements at "
                                          "line 1 column 23"},
      {R"(["1.0","a","","","","1"])",
       "invalid type: string \"1\", expected an integer from 0 to 18446744073709551615 at line 1 column 21"},
      {R"("text")", "invalid type: string \"text\", expected struct EncryptedMorfMap at line 1 column 1"},
      {"", "EOF while parsing a value at line 1 column 1"},
      {R"(["1","a","","","",0] x)", "trailing characters at line 1 column 22"},
      {R"({"unknown":[[[)", "EOF while parsing a list at line 1 column 15"},
  };
  for (const auto& [text, fault] : cases) EXPECT_EQ(parse_fault(text), std::string(prefix) + fault) << text;
}

std::string decrypt_fault(const talvik::EncryptedMorfMap& record) {
  auto map = record.decrypt();
  return map ? "<decrypted>" : map.error().text();
}

TEST(EncryptedMorfMap, DecryptChecksInOrder) {
  const auto good = sealed_record();
  const Bytes payload = *talvik::base64::decode(good.data);
  const auto with = [&](auto change) {
    auto r = good;
    change(r);
    return decrypt_fault(r);
  };
  EXPECT_EQ(with([](auto& r) { r.iv = "!"; r.data = "!"; }),
            "Crypto error: Invalid IV: invalid length 1: Base64 text must be a multiple of 4 characters long");
  EXPECT_EQ(with([](auto& r) { r.data = "Zh=="; r.checksum = "!"; }),
            "Crypto error: Invalid data: non-zero unused bits in the last symbol 'h' at offset 1");
  EXPECT_EQ(with([](auto& r) { r.checksum.pop_back(); }),
            "Crypto error: Invalid checksum: invalid length 43: Base64 text must be a multiple of 4 characters long");
  // A checksum that decodes to 33 or 31 bytes never matches, whatever its prefix.
  const talvik::Digest digest = talvik::sha256(payload);
  Bytes longer(digest.begin(), digest.end());
  longer.push_back(0);
  EXPECT_EQ(with([&](auto& r) { r.checksum = talvik::base64::encode(longer); }),
            "Crypto error: Checksum mismatch - file may be corrupted");
  EXPECT_EQ(with([&](auto& r) { r.checksum = talvik::base64::encode(std::span(digest).first(31)); }),
            "Crypto error: Checksum mismatch - file may be corrupted");
  // An iv of the wrong length is caught after the checksum and before decrypting.
  EXPECT_EQ(with([](auto& r) { r.iv = "AAAAAAAAAAA="; r.checksum = "AAAA"; }),
            "Crypto error: Checksum mismatch - file may be corrupted");
  EXPECT_EQ(with([](auto& r) { r.iv = "AAAAAAAAAAA="; }), "Crypto error: Invalid IV length: expected 12 bytes, got 8");
  EXPECT_EQ(with([](auto& r) { r.iv = ""; }), "Crypto error: Invalid IV length: expected 12 bytes, got 0");
  // A tampered payload with its checksum recomputed fails authentication.
  Bytes tampered = payload;
  tampered[0] ^= 1;
  EXPECT_EQ(with([&](auto& r) {
              r.data = talvik::base64::encode(tampered);
              r.checksum = talvik::base64::encode(talvik::sha256(tampered));
            }),
            "Crypto error: Decryption failed - invalid file or wrong library version");
  EXPECT_EQ(with([](auto& r) { r.iv = "AAAAAAAAAAAAAAAA"; }),
            "Crypto error: Decryption failed - invalid file or wrong library version");
  // version, algorithm and the count play no part.
  EXPECT_EQ(with([](auto& r) { r.version = "7"; r.algorithm = "ROT13"; r.num_morphemes = 99; }), "<decrypted>");
}

// ---------------------------------------------------------------------------
// Binary container
// ---------------------------------------------------------------------------

Bytes header(std::string_view magic, std::uint16_t version, std::uint32_t length, std::size_t total) {
  Bytes out(total, 0);
  std::copy(magic.begin(), magic.end(), out.begin());
  out[4] = static_cast<std::uint8_t>(version >> 8);
  out[5] = static_cast<std::uint8_t>(version);
  for (std::size_t i = 0; i < 4; ++i) out[20 + i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
  return out;
}

std::string binary_fault(const Bytes& bytes) {
  auto record = talvik::BinaryMorfMap::parse(bytes);
  if (!record) return record.error().text();
  auto map = record->decrypt();
  return map ? "<decrypted>" : map.error().text();
}

TEST(BinaryMorfMap, SerializesTheLayout) {
  auto record = talvik::BinaryMorfMap::encrypt(MorphemeMap{});
  ASSERT_TRUE(record);
  const Bytes image = record->serialize();
  ASSERT_EQ(image.size(), 74u);
  EXPECT_EQ(std::string(image.begin(), image.begin() + 8), std::string("SARF\x00\x01\x00\x00", 8));
  EXPECT_TRUE(std::equal(record->nonce.begin(), record->nonce.end(), image.begin() + 8));
  EXPECT_EQ(hex(std::span(image).subspan(20, 4)), "00000012");
  EXPECT_TRUE(std::equal(record->checksum.begin(), record->checksum.end(), image.begin() + 42));
  auto back = talvik::BinaryMorfMap::parse(image);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->payload, record->payload);
  EXPECT_TRUE(back->decrypt()->empty());
}

TEST(BinaryMorfMap, ParseChecksInOrder) {
  const std::string prefix = "Crypto error: ";
  Bytes sarf55 = header("SARF", 1, 0, 55);
  EXPECT_EQ(binary_fault(sarf55), prefix + "File too small to be valid binary morf_map");
  EXPECT_EQ(binary_fault(header("SARX", 1, 0, 60)), prefix + "Invalid magic bytes - not a SARF binary file");
  EXPECT_EQ(binary_fault(header("SARF", 2, 0, 60)), prefix + "Unsupported binary format version: 2 (expected 1)");
  EXPECT_EQ(binary_fault(header("SARF", 256, 0, 60)), prefix + "Unsupported binary format version: 256 (expected 1)");
  EXPECT_EQ(binary_fault(header("SARF", 1, 100, 120)), prefix + "File truncated: expected 156 bytes, got 120");
  EXPECT_EQ(binary_fault(header("SARF", 1, 0xFFFFFFFF, 60)),
            prefix + "File truncated: expected 4294967351 bytes, got 60");
  // Empty payload with the digest of nothing: the checksum passes, the tag cannot.
  Bytes empty_payload = header("SARF", 1, 0, 24);
  const talvik::Digest nothing = talvik::sha256({});
  empty_payload.insert(empty_payload.end(), nothing.begin(), nothing.end());
  EXPECT_EQ(binary_fault(empty_payload), prefix + "Decryption failed - invalid file or wrong library version");
}

TEST(BinaryMorfMap, DecryptVerifiesChecksumThenTag) {
  const Bytes image = talvik::BinaryMorfMap::encrypt(arabic_map())->serialize();
  Bytes flipped = image;
  flipped[30] ^= 0x10;
  EXPECT_EQ(binary_fault(flipped), "Crypto error: Checksum mismatch - file may be corrupted");
  Bytes resealed = flipped;
  const std::size_t length = image.size() - talvik::kBinaryMinSize;
  const talvik::Digest digest = talvik::sha256(std::span(resealed).subspan(24, length));
  std::copy(digest.begin(), digest.end(), resealed.begin() + 24 + static_cast<std::ptrdiff_t>(length));
  EXPECT_EQ(binary_fault(resealed), "Crypto error: Decryption failed - invalid file or wrong library version");
  // Flags, the reserved byte and bytes after the checksum are not looked at.
  Bytes extended = image;
  extended.at(6) = 0xFF;
  extended.at(7) = 0xAB;
  extended.insert(extended.end(), {'x', 'y', 'z'});
  auto record = talvik::BinaryMorfMap::parse(extended);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->flags, 0xFF);
  EXPECT_EQ(*record->decrypt(), arabic_map());
}

// ---------------------------------------------------------------------------
// Files sealed when the format was fixed
// ---------------------------------------------------------------------------

// They must open to exactly the plain map they were made from, entry for
// entry and in order, in every later build: new key material or a layout
// change would orphan every map file users hold.
TEST(MapFixtures, KeepOpeningToTheSameEntries) {
  const std::filesystem::path data =
      std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "tests" / "data";
  auto text = talvik::read_text_file((data / "fixture_map.json").string());
  ASSERT_TRUE(text) << text.error().text();
  auto expected = talvik::parse_plain_map(*text);
  ASSERT_TRUE(expected);
  ASSERT_EQ(expected->size(), 22u);
  for (const char* name : {"fixture_map.enc", "fixture_map.bin"}) {
    auto map = talvik::load_morf_map((data / name).string());
    ASSERT_TRUE(map) << name << ": " << map.error().text();
    EXPECT_EQ(*map, *expected) << name;
  }
  auto binary = talvik::load_binary_morf_map((data / "fixture_map.bin").string());
  ASSERT_TRUE(binary);
  EXPECT_EQ(*binary, *expected);
}

}  // namespace
