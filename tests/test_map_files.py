"""Encrypted morpheme-map files: both containers, the conversion, and the map tools."""

import base64
import hashlib
import inspect
import json
import os
import re
import struct
import subprocess
import sys
import textwrap
import time

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from tessarline import _tessarline as T
from tessarline._tessarline import SarfCodec

DATA = os.path.join(os.path.dirname(__file__), "data")

# Arabic morphemes with basic and supplementary PUA codes, plus a name that
# needs escaping in JSON.
MAP = {
    "ال": "\ue000",
    "كتاب": "\ue001",
    "مدرسة": "\ue002",
    "ات": "\U000f0000",
    'q"uote\nline': "\ue003",
}
SAMPLE = "الكتاب في المدرسة والكتابات"

B64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"


def compact(mapping):
    """The plaintext a map is sealed as: compact JSON, map order, minimal escaping."""
    return json.dumps(mapping, ensure_ascii=False, separators=(",", ":")).encode()


def write_json(path, obj):
    with open(path, "w", encoding="utf-8") as f:
        json.dump(obj, f, ensure_ascii=False)
    return str(path)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def write_bytes(path, data):
    with open(path, "wb") as f:
        f.write(data)
    return str(path)


def assert_same_entries(codec, mapping, level="medium"):
    """Same morphemes and codes as a codec built directly from the dict."""
    reference = SarfCodec(mapping, level)
    assert codec.num_morphemes == reference.num_morphemes == len(mapping)
    assert codec.stats() == reference.stats()
    texts = [SAMPLE, " ".join(mapping), "".join(mapping.values())]
    for text in texts:
        assert codec.encode(text) == reference.encode(text)
        assert codec.decode(text) == reference.decode(text)
        assert codec.normalize(text) == reference.normalize(text)


@pytest.fixture
def plain(tmp_path):
    return write_json(tmp_path / "map.json", MAP)


@pytest.fixture
def enc(tmp_path, plain):
    path = str(tmp_path / "map.enc")
    assert T.encrypt_morf_map(plain, path) == len(MAP)
    return path


@pytest.fixture
def binary(tmp_path, plain):
    path = str(tmp_path / "map.bin")
    assert T.encrypt_morf_map_binary(plain, path) == len(MAP)
    return path


# ---------------------------------------------------------------------------
# Round trips
# ---------------------------------------------------------------------------


def test_every_path_leads_back_to_the_same_map(tmp_path, enc, binary):
    assert_same_entries(SarfCodec.from_encrypted(enc), MAP)
    assert_same_entries(SarfCodec.from_encrypted(binary), MAP)
    assert_same_entries(SarfCodec.from_binary(binary), MAP)

    converted = str(tmp_path / "converted.bin")
    assert T.convert_enc_to_bin(enc, converted) == len(MAP)
    assert_same_entries(SarfCodec.from_binary(converted), MAP)

    codec = SarfCodec(MAP)
    codec.encrypt_to_file(str(tmp_path / "saved.enc"))
    codec.encrypt_to_binary_file(str(tmp_path / "saved.bin"))
    assert_same_entries(SarfCodec.from_encrypted(str(tmp_path / "saved.enc")), MAP)
    assert_same_entries(SarfCodec.from_encrypted(str(tmp_path / "saved.bin")), MAP)
    assert_same_entries(SarfCodec.from_binary(str(tmp_path / "saved.bin")), MAP)


def test_loaders_take_the_level(enc, binary):
    for path in (enc, binary):
        assert_same_entries(SarfCodec.from_encrypted(path, "aggressive"), MAP, "aggressive")
        assert_same_entries(SarfCodec.from_encrypted(path=path, normalization="light"), MAP, "light")
    assert_same_entries(SarfCodec.from_binary(binary, normalization="aggressive"), MAP, "aggressive")


def test_empty_map(tmp_path):
    source = write_bytes(tmp_path / "empty.json", b" {} \n")
    assert T.encrypt_morf_map_binary(source, str(tmp_path / "empty.bin")) == 0
    assert len(read_bytes(tmp_path / "empty.bin")) == 74
    assert T.is_binary_morf_map(str(tmp_path / "empty.bin")) is True
    assert T.encrypt_morf_map(source, str(tmp_path / "empty.enc")) == 0
    record = json.loads(read_bytes(tmp_path / "empty.enc"))
    assert len(base64.b64decode(record["data"])) == 18  # "{}" and the tag
    assert T.is_binary_morf_map(str(tmp_path / "empty.enc")) is False
    for path in ("empty.bin", "empty.enc"):
        assert SarfCodec.from_encrypted(str(tmp_path / path)).num_morphemes == 0


def test_repeated_name_counts_once_and_keeps_the_later_code(tmp_path):
    source = write_bytes(tmp_path / "dup.json", '{"ال": "\ue000", "و": "\ue001", "ال": "\ue002"}'.encode())
    assert T.encrypt_morf_map(source, str(tmp_path / "dup.enc")) == 2
    assert_same_entries(SarfCodec.from_encrypted(str(tmp_path / "dup.enc")), {"ال": "\ue002", "و": "\ue001"})


def test_every_write_seals_afresh(tmp_path, enc):
    codec = SarfCodec(MAP)
    outputs = []
    for i in range(2):
        codec.encrypt_to_file(str(tmp_path / f"a{i}.enc"))
        codec.encrypt_to_binary_file(str(tmp_path / f"a{i}.bin"))
        assert T.convert_enc_to_bin(enc, str(tmp_path / f"c{i}.bin")) == len(MAP)
        outputs.append([read_bytes(tmp_path / f"{name}{i}.{ext}") for name, ext in
                        [("a", "enc"), ("a", "bin"), ("c", "bin")]])
    for first, second in zip(*outputs):
        assert first != second
    for name in ["a0.enc", "a1.enc", "a0.bin", "a1.bin", "c0.bin", "c1.bin"]:
        assert_same_entries(SarfCodec.from_encrypted(str(tmp_path / name)), MAP)
    assert codec.num_morphemes == len(MAP)  # the instance is untouched


# Written once when the format was fixed: any change of key material or
# layout would orphan every map file users hold.
@pytest.mark.parametrize("name", ["fixture_map.enc", "fixture_map.bin"])
def test_fixtures_keep_opening(name):
    with open(os.path.join(DATA, "fixture_map.json"), encoding="utf-8") as f:
        mapping = json.load(f)
    assert len(mapping) == 22
    assert_same_entries(SarfCodec.from_encrypted(os.path.join(DATA, name)), mapping)
    if name.endswith(".bin"):
        assert_same_entries(SarfCodec.from_binary(os.path.join(DATA, name)), mapping)


# The map reader against Python's json on generated maps and their one-character
# mutations: it accepts exactly the texts that are one object of string
# members (lone surrogates excluded), and it decodes every escape to the same
# text, which the sealed payload's length shows.
def python_reading(text):
    try:
        value = json.loads(text)
    except ValueError:
        return None
    if not isinstance(value, dict) or not all(isinstance(v, str) for v in value.values()):
        return None
    try:
        for k, v in value.items():
            (k + v).encode()
    except UnicodeEncodeError:  # a lone surrogate escape
        return None
    return value


@st.composite
def map_texts(draw):
    mapping = draw(st.dictionaries(st.text(max_size=6), st.text(max_size=6), max_size=5))
    text = json.dumps(mapping, ensure_ascii=draw(st.booleans()), indent=draw(st.sampled_from([None, 0, 2])))
    if draw(st.booleans()) and text:
        i = draw(st.integers(0, len(text) - 1))
        kind = draw(st.sampled_from(["delete", "replace", "insert"]))
        c = draw(st.sampled_from(list('{}[]":,\\ \n\tu0dD8e5-+.tfn') + ["\\ud800", "\\udc00", "\x01", "\u0628"]))
        text = text[:i] + ("" if kind == "delete" else c) + text[i + (0 if kind == "insert" else 1):]
    return text


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(text=map_texts())
def test_map_reader_agrees_with_python_json(tmp_path, text):
    source = write_bytes(tmp_path / "input.json", text.encode())
    output = str(tmp_path / "out.bin")
    expected = python_reading(text)
    if expected is None:
        with pytest.raises(ValueError, match="^Invalid JSON: .* at line [0-9]+ column [0-9]+$"):
            T.encrypt_morf_map_binary(source, output)
        return
    assert T.encrypt_morf_map_binary(source, output) == len(expected)
    length = struct.unpack(">I", read_bytes(output)[20:24])[0]
    assert length == len(compact(expected)) + 16


# Arbitrary bytes, alone or behind a valid header, only ever give OSError.
@settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(head=st.sampled_from([b"", b"SARF\x00\x01", b'{"iv": ', b"["]), body=st.binary(max_size=200))
def test_arbitrary_bytes_never_crash_the_loaders(tmp_path, head, body):
    path = write_bytes(tmp_path / "noise", head + body)
    for load in (SarfCodec.from_encrypted, SarfCodec.from_binary):
        with pytest.raises(OSError):
            load(path)
    with pytest.raises((OSError, ValueError)):
        T.convert_enc_to_bin(path, str(tmp_path / "out.bin"))


# ---------------------------------------------------------------------------
# Layouts
# ---------------------------------------------------------------------------


def test_enc_layout(tmp_path, plain):
    path = str(tmp_path / "layout.enc")
    before = time.time_ns()
    T.encrypt_morf_map(plain, path)
    after = time.time_ns()
    text = read_bytes(path).decode()
    assert not text.endswith("\n")
    lines = text.split("\n")
    assert len(lines) == 8
    patterns = [
        r"\{",
        r'  "version": "1\.0",',
        r'  "algorithm": "AES-256-GCM",',
        r'  "iv": "([A-Za-z0-9+/]{16})",',
        r'  "data": "([A-Za-z0-9+/]+={0,2})",',
        r'  "checksum": "([A-Za-z0-9+/]{43}=)",',
        rf'  "num_morphemes": {len(MAP)}',
        r"\}",
    ]
    found = []
    for line, pattern in zip(lines, patterns):
        m = re.fullmatch(pattern, line)
        assert m, (line, pattern)
        found.extend(m.groups())
    iv, data, checksum = (base64.b64decode(v) for v in found)
    assert len(iv) == 12 and iv[8:] == bytes(4)
    assert before <= int.from_bytes(iv, "little") <= after + 10_000  # nanoseconds since the epoch
    assert len(data) == len(compact(MAP)) + 16
    assert hashlib.sha256(data).digest() == checksum


def test_bin_layout(binary):
    image = read_bytes(binary)
    magic, version, flags, reserved, nonce, length = struct.unpack(">4sHBB12sI", image[:24])
    assert (magic, version, flags, reserved) == (b"SARF", 1, 0, 0)
    assert length == len(compact(MAP)) + 16
    assert len(image) == 56 + length
    assert hashlib.sha256(image[24:24 + length]).digest() == image[24 + length:]
    assert nonce[8:] == bytes(4)


# ---------------------------------------------------------------------------
# Corrupted files, by stage
# ---------------------------------------------------------------------------

CHECKSUM_MISMATCH = "Crypto error: Checksum mismatch - file may be corrupted"
DECRYPTION_FAILED = "Crypto error: Decryption failed - invalid file or wrong library version"
INVALID_FILE = "Crypto error: Invalid encrypted file: "


def flip_b64_char(text, i):
    """Another Base64 character at position i (never the last symbol, which may carry padding bits)."""
    return text[:i] + B64[(B64.index(text[i]) + 1) % 64] + text[i + 1:]


def reseal(record, change_payload):
    """The record with its payload changed and the checksum put right."""
    payload = change_payload(base64.b64decode(record["data"]))
    return {**record, "data": base64.b64encode(payload).decode(),
            "checksum": base64.b64encode(hashlib.sha256(payload).digest()).decode()}


def with_unused_bits(text):
    """The last symbol before the padding with a non-zero unused bit."""
    i = text.rindex(next(c for c in reversed(text) if c != "="))
    return text[:i] + B64[B64.index(text[i]) | 1] + text[i + 1:]


def pretty(record):
    return json.dumps(record, indent=2)


def dump(record):
    return pretty(record).encode()


def without(record, key):
    return {k: v for k, v in record.items() if k != key}


def with_checksum_bytes(record, change):
    digest = hashlib.sha256(base64.b64decode(record["data"])).digest()
    return {**record, "checksum": base64.b64encode(change(digest)).decode()}


# (id, corruption of the .enc record or text, exact message, stage for convert_enc_to_bin)
ENC_CASES = [
    ("data-char-changed", lambda r: dump({**r, "data": flip_b64_char(r["data"], 0)}), CHECKSUM_MISMATCH, "content"),
    ("payload-bit-flipped-checksum-recomputed",
     lambda r: dump(reseal(r, lambda p: bytes([p[0] ^ 1]) + p[1:])), DECRYPTION_FAILED, "content"),
    ("payload-shorter-than-tag", lambda r: dump(reseal(r, lambda p: p[:15])), DECRYPTION_FAILED, "content"),
    ("checksum-char-changed", lambda r: dump({**r, "checksum": flip_b64_char(r["checksum"], 0)}),
     CHECKSUM_MISMATCH, "content"),
    ("checksum-33-bytes", lambda r: dump(with_checksum_bytes(r, lambda d: d + b"\0")), CHECKSUM_MISMATCH, "content"),
    ("checksum-31-bytes", lambda r: dump(with_checksum_bytes(r, lambda d: d[:31])), CHECKSUM_MISMATCH, "content"),
    ("iv-outside-alphabet", lambda r: dump({**r, "iv": "!" + r["iv"][1:]}),
     "Crypto error: Invalid IV: invalid character '!' at offset 0", "content"),
    ("iv-with-space", lambda r: dump({**r, "iv": r["iv"][:15] + " "}),
     "Crypto error: Invalid IV: invalid character ' ' at offset 15", "content"),
    ("iv-of-11-bytes", lambda r: dump({**r, "iv": "AAAAAAAAAAAAAAA="}),
     "Crypto error: Invalid IV length: expected 12 bytes, got 11", "content"),
    ("iv-of-15-bytes", lambda r: dump({**r, "iv": "A" * 20}),
     "Crypto error: Invalid IV length: expected 12 bytes, got 15", "content"),
    ("iv-wrong-length-and-bad-checksum",
     lambda r: dump({**r, "iv": "AAAAAAAAAAAAAAA=", "checksum": flip_b64_char(r["checksum"], 0)}),
     CHECKSUM_MISMATCH, "content"),
    ("iv-other-nonce", lambda r: dump({**r, "iv": "A" * 16}), DECRYPTION_FAILED, "content"),
    ("data-with-newline", lambda r: dump({**r, "data": r["data"][:4] + "\n" + r["data"][5:]}),
     "Crypto error: Invalid data: invalid byte 0x0a at offset 4", "content"),
    ("data-unused-bits", lambda r: dump({**r, "data": "Zh=="}),
     "Crypto error: Invalid data: non-zero unused bits in the last symbol 'h' at offset 1", "content"),
    ("checksum-without-padding", lambda r: dump({**r, "checksum": r["checksum"][:-1]}),
     "Crypto error: Invalid checksum: invalid length 43: Base64 text must be a multiple of 4 characters long",
     "content"),
    ("checksum-unused-bits", lambda r: dump({**r, "checksum": with_unused_bits(r["checksum"])}),
     None, "content"),  # message checked below: it names the changed symbol
    ("missing-num_morphemes", lambda r: dump(without(r, "num_morphemes")),
     INVALID_FILE + "missing field `num_morphemes` at line 7 column 1", "input"),
    ("missing-iv", lambda r: dump(without(r, "iv")), INVALID_FILE + "missing field `iv` at line 7 column 1", "input"),
    ("duplicate-iv", lambda r: pretty(r)[:-2].encode() + f',\n  "iv": "{r["iv"]}"\n}}'.encode(),
     INVALID_FILE + "duplicate field `iv` at line 8 column 3", "input"),
    ("count-as-string", lambda r: dump({**r, "num_morphemes": "5"}),
     INVALID_FILE + 'invalid type: string "5", expected an integer from 0 to 18446744073709551615 at line 7 column 20',
     "input"),
    ("iv-as-number", lambda r: dump({**r, "iv": 12}),
     INVALID_FILE + "invalid type: integer `12`, expected a string at line 4 column 9", "input"),
    ("array-of-five", lambda r: json.dumps(list(r.values())[:5]).encode(),
     INVALID_FILE + "invalid length 5, expected struct EncryptedMorfMap with 6 elements at line 1 column ", "input"),
    ("second-value", lambda r: dump(r) + b" {}", INVALID_FILE + "trailing characters at line 8 column 3", "input"),
    ("empty-file", lambda r: b"", INVALID_FILE + "EOF while parsing a value at line 1 column 1", "input"),
    ("not-utf8", lambda r: dump(r).replace(b'"1.0"', b'"1.\xff"'), "IO error: stream did not contain valid UTF-8",
     "input"),
]


@pytest.mark.parametrize("corrupt, message, stage", [c[1:] for c in ENC_CASES], ids=[c[0] for c in ENC_CASES])
def test_corrupted_enc(tmp_path, enc, corrupt, message, stage):
    record = json.loads(read_bytes(enc))
    path = write_bytes(tmp_path / "bad.enc", corrupt(record))
    if message is None:
        changed = json.loads(read_bytes(path))["checksum"]
        message = f"Crypto error: Invalid checksum: non-zero unused bits in the last symbol '{changed[42]}' at offset 42"

    def check(call, exception_class):
        with pytest.raises(BaseException) as info:
            call()
        assert type(info.value) is exception_class
        assert info.value.args == (message,) if not message.endswith("column ") else \
            info.value.args[0].startswith(message)

    check(lambda: SarfCodec.from_encrypted(path), OSError)
    out = str(tmp_path / "out.bin")
    check(lambda: T.convert_enc_to_bin(path, out), OSError if stage == "input" else ValueError)
    assert not os.path.exists(out)


def test_enc_members_in_any_form(tmp_path, enc):
    record = json.loads(read_bytes(enc))
    variants = {
        "reordered-with-unknown": json.dumps(
            {"note": {"nested": [1, [2, {"x": None}]]}, **dict(reversed(list(record.items())))}),
        "array-form": json.dumps(list(record.values())),
        "other-version-algorithm-count": json.dumps(
            {**record, "version": "9.9", "algorithm": "none", "num_morphemes": 999}, indent=4) + "\n\t \r\n",
        "escaped-names": json.dumps(record).replace('"iv"', '"\\u0069v"'),
    }
    for name, text in variants.items():
        path = write_bytes(tmp_path / f"{name}.enc", text.encode())
        assert_same_entries(SarfCodec.from_encrypted(path), MAP)
        assert T.convert_enc_to_bin(path, str(tmp_path / f"{name}.bin")) == len(MAP)


def set_u16(image, offset, value):
    return image[:offset] + struct.pack(">H", value) + image[offset + 2:]


def set_u32(image, offset, value):
    return image[:offset] + struct.pack(">I", value) + image[offset + 4:]


def flip_bit(image, offset):
    return image[:offset] + bytes([image[offset] ^ 0x04]) + image[offset + 1:]


def reseal_image(image, change):
    length = struct.unpack(">I", image[20:24])[0]
    payload = change(image[24:24 + length])
    return set_u32(image[:24], 20, len(payload)) + payload + hashlib.sha256(payload).digest()


# (id, corruption of the .bin image, exact message; None means it loads)
BIN_CASES = [
    ("55-bytes", lambda b: b[:55], "Crypto error: File too small to be valid binary morf_map"),
    ("header-only", lambda b: b[:24], "Crypto error: File too small to be valid binary morf_map"),
    ("wrong-magic", lambda b: b"SARX" + b[4:], "Crypto error: Invalid magic bytes - not a SARF binary file"),
    ("version-2", lambda b: set_u16(b, 4, 2), "Crypto error: Unsupported binary format version: 2 (expected 1)"),
    ("version-256", lambda b: set_u16(b, 4, 256),
     "Crypto error: Unsupported binary format version: 256 (expected 1)"),
    ("length-beyond-end", lambda b: set_u32(b, 20, len(b) - 55),
     None),  # message names the sizes, checked below
    ("last-byte-missing", lambda b: b[:-1], None),
    ("payload-bit-flipped", lambda b: flip_bit(b, 30), CHECKSUM_MISMATCH),
    ("checksum-bit-flipped", lambda b: flip_bit(b, len(b) - 1), CHECKSUM_MISMATCH),
    ("nonce-bit-flipped", lambda b: flip_bit(b, 8), DECRYPTION_FAILED),
    ("payload-bit-flipped-checksum-recomputed",
     lambda b: reseal_image(b, lambda p: bytes([p[0] ^ 1]) + p[1:]), DECRYPTION_FAILED),
    ("empty-payload-digest-of-nothing", lambda b: reseal_image(b, lambda p: b""), DECRYPTION_FAILED),
]


@pytest.mark.parametrize("corrupt, message", [c[1:] for c in BIN_CASES], ids=[c[0] for c in BIN_CASES])
def test_corrupted_bin(tmp_path, binary, corrupt, message):
    image = read_bytes(binary)
    bad = corrupt(image)
    path = write_bytes(tmp_path / "bad.bin", bad)
    if message is None:
        length = struct.unpack(">I", bad[20:24])[0]
        message = f"Crypto error: File truncated: expected {56 + length} bytes, got {len(bad)}"
    loaders = [SarfCodec.from_binary]
    if bad.startswith(b"SARF"):
        loaders.append(SarfCodec.from_encrypted)  # detected as binary: the same failure
    for load in loaders:
        with pytest.raises(BaseException) as info:
            load(path)
        assert type(info.value) is OSError
        assert info.value.args == (message,)


def test_bin_ignores_flags_reserved_and_trailing_bytes(tmp_path, binary):
    image = bytearray(read_bytes(binary))
    image[6], image[7] = 0xFF, 0x80
    path = write_bytes(tmp_path / "extended.bin", bytes(image) + b"trailing bytes")
    assert_same_entries(SarfCodec.from_binary(path), MAP)
    assert_same_entries(SarfCodec.from_encrypted(path), MAP)


def test_detection_decides_the_reader(tmp_path, enc, binary):
    # Without the magic, from_encrypted reads the JSON container.
    path = write_bytes(tmp_path / "sar.bin", b"SAR")
    with pytest.raises(OSError) as info:
        SarfCodec.from_encrypted(path)
    assert info.value.args == (INVALID_FILE + "expected value at line 1 column 1",)
    with pytest.raises(OSError) as info:
        SarfCodec.from_binary(enc)
    assert info.value.args == ("Crypto error: Invalid magic bytes - not a SARF binary file",)
    with pytest.raises(OSError) as info:
        SarfCodec.from_encrypted(str(tmp_path / "missing.enc"))
    assert type(info.value) is OSError
    assert info.value.args == ("IO error: No such file or directory (os error 2)",)
    assert info.value.errno is None
    with pytest.raises(OSError) as info:
        SarfCodec.from_binary(str(tmp_path))
    assert info.value.args == ("IO error: Is a directory (os error 21)",)


@pytest.mark.parametrize(
    "content, expected",
    [(b"SARF", True), (b"SARF and anything after", True), (b"SAR", False), (b"", False), (b"XSARF", False),
     (b"sarf", False), (b'{"version": "1.0"}', False)],
)
def test_is_binary_morf_map(tmp_path, content, expected):
    assert T.is_binary_morf_map(write_bytes(tmp_path / "f", content)) is expected


def test_is_binary_morf_map_never_raises_for_unreadable_paths(tmp_path, enc, binary):
    assert T.is_binary_morf_map(binary) is True
    assert T.is_binary_morf_map(enc) is False
    assert T.is_binary_morf_map(str(tmp_path / "missing")) is False
    assert T.is_binary_morf_map(str(tmp_path)) is False
    assert T.is_binary_morf_map("") is False
    assert T.is_binary_morf_map("bad\0path") is False
    with pytest.raises(TypeError, match="^argument 'path': "):
        T.is_binary_morf_map(b"map.bin")


# ---------------------------------------------------------------------------
# The map tools, by stage
# ---------------------------------------------------------------------------

TOOLS = [T.encrypt_morf_map, T.encrypt_morf_map_binary]


@pytest.mark.parametrize("tool", TOOLS)
@pytest.mark.parametrize(
    "content, exception_class, message",
    [
        (None, OSError, "No such file or directory (os error 2)"),
        (b'{"caf\xe9": "x"}', OSError, "stream did not contain valid UTF-8"),
        (b"[]", ValueError, "Invalid JSON: invalid type: sequence, expected a map at line 1 column 1"),
        (b'{"a": 5}', ValueError, "Invalid JSON: invalid type: integer `5`, expected a string at line 1 column 7"),
        (b'{"a": {"b": "c"}}', ValueError, "Invalid JSON: invalid type: map, expected a string at line 1 column 7"),
        (b"{} {}", ValueError, "Invalid JSON: trailing characters at line 1 column 4"),
        (b'{"a": "b",\n "c": "\\ud800"}', ValueError,
         "Invalid JSON: lone surrogate in \\u escape at line 2 column 8"),
        (b"", ValueError, "Invalid JSON: EOF while parsing a value at line 1 column 1"),
    ],
)
def test_reading_the_plain_map(tmp_path, tool, content, exception_class, message):
    source = str(tmp_path / "input.json")
    if content is not None:
        write_bytes(source, content)
    output = write_bytes(tmp_path / "output", b"previous content")
    with pytest.raises(BaseException) as info:
        tool(source, output)
    assert type(info.value) is exception_class
    assert info.value.args == (message,)
    assert read_bytes(output) == b"previous content"  # nothing written before the failure


@pytest.mark.parametrize("tool", TOOLS)
def test_tools_report_write_failures_with_the_io_prefix(tmp_path, plain, tool):
    for target, message in [
        (tmp_path / "missing" / "out", "IO error: No such file or directory (os error 2)"),
        (tmp_path / "map.json" / "out", "IO error: Not a directory (os error 20)"),
    ]:
        with pytest.raises(BaseException) as info:
            tool(plain, str(target))
        assert type(info.value) is OSError
        assert info.value.args == (message,)
    with pytest.raises(OSError) as info:
        tool(str(tmp_path), str(tmp_path / "out"))
    assert info.value.args == ("Is a directory (os error 21)",)


def test_convert_enc_to_bin_by_stage(tmp_path, plain, enc, binary):
    out = str(tmp_path / "out.bin")
    # Reading: a .bin is no JSON container.
    with pytest.raises(BaseException) as info:
        T.convert_enc_to_bin(binary, out)
    assert type(info.value) is OSError
    assert info.value.args[0].startswith(("IO error: stream did not contain valid UTF-8", INVALID_FILE))
    with pytest.raises(BaseException) as info:
        T.convert_enc_to_bin(str(tmp_path / "missing.enc"), out)
    assert type(info.value) is OSError
    assert info.value.args == ("IO error: No such file or directory (os error 2)",)
    # Decrypting: an altered checksum.
    record = json.loads(read_bytes(enc))
    altered = write_bytes(tmp_path / "altered.enc", dump({**record, "checksum": flip_b64_char(record["checksum"], 5)}))
    with pytest.raises(BaseException) as info:
        T.convert_enc_to_bin(altered, out)
    assert type(info.value) is ValueError
    assert info.value.args == (CHECKSUM_MISMATCH,)
    assert not os.path.exists(out)
    # Writing.
    with pytest.raises(BaseException) as info:
        T.convert_enc_to_bin(enc, str(tmp_path / "missing" / "out.bin"))
    assert type(info.value) is OSError
    assert info.value.args == ("IO error: No such file or directory (os error 2)",)
    # The count is the one the .enc was made with.
    assert T.convert_enc_to_bin(enc, out) == T.encrypt_morf_map(plain, str(tmp_path / "again.enc")) == len(MAP)


def test_codec_writers_raise_os_error(tmp_path):
    codec = SarfCodec(MAP)
    for write in (codec.encrypt_to_file, codec.encrypt_to_binary_file):
        with pytest.raises(BaseException) as info:
            write(str(tmp_path / "missing" / "map.out"))
        assert type(info.value) is OSError
        assert info.value.args == ("IO error: No such file or directory (os error 2)",)
    assert codec.encrypt_to_file(str(tmp_path / "ok.enc")) is None
    assert codec.encrypt_to_binary_file(path=str(tmp_path / "ok.bin")) is None


# ---------------------------------------------------------------------------
# A failed write never destroys the previous file
# ---------------------------------------------------------------------------


def leftovers(directory):
    return sorted(name for name in os.listdir(directory) if name.startswith(".") or name.endswith(".tmp"))


def test_failed_write_onto_a_directory_keeps_it(tmp_path):
    occupied = tmp_path / "occupied.enc"
    occupied.mkdir()
    (occupied / "keep.txt").write_text("precious")
    codec = SarfCodec(MAP)
    for write in (codec.encrypt_to_file, codec.encrypt_to_binary_file):
        with pytest.raises(OSError) as info:
            write(str(occupied))
        assert info.value.args == ("IO error: Is a directory (os error 21)",)
    assert (occupied / "keep.txt").read_text() == "precious"
    assert leftovers(tmp_path) == []


# Running out of room half way (here the file-size limit, which binds root as
# well) must leave the old map readable and no temporary file behind.
@pytest.mark.parametrize("method", ["encrypt_to_file", "encrypt_to_binary_file"])
def test_failed_write_keeps_the_previous_file(tmp_path, method):
    target = str(tmp_path / "map.out")
    small = {"ال": "\ue000"}
    getattr(SarfCodec(small), method)(target)
    previous = read_bytes(target)
    big = {f"كلمة{i}": chr(0xE000 + i) for i in range(2000)}
    script = textwrap.dedent(f"""
        import json, resource, signal, sys
        from tessarline._tessarline import SarfCodec
        codec = SarfCodec(json.loads(sys.argv[1]))
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, ({len(previous) + 200}, resource.RLIM_INFINITY))
        try:
            codec.{method}(sys.argv[2])
        except OSError as e:
            print(type(e).__name__, e.args[0])
    """)
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}
    result = subprocess.run([sys.executable, "-c", script, json.dumps(big), target],
                            capture_output=True, text=True, env=env, check=True)
    assert result.stdout.strip() == "OSError IO error: File too large (os error 27)"
    assert read_bytes(target) == previous
    assert_same_entries(SarfCodec.from_encrypted(target), small)
    assert leftovers(tmp_path) == []


def test_write_replaces_an_existing_file_whole(tmp_path):
    target = str(tmp_path / "map.enc")
    write_bytes(target, b"x" * 100_000)
    SarfCodec(MAP).encrypt_to_file(target)
    assert len(read_bytes(target)) < 1000
    assert_same_entries(SarfCodec.from_encrypted(target), MAP)


# ---------------------------------------------------------------------------
# Signatures, docstrings, arguments
# ---------------------------------------------------------------------------


@pytest.mark.parametrize(
    "obj, signature, first, second",
    [
        (SarfCodec.from_encrypted, "(path, normalization='medium')",
         "Load codec from encrypted file (.enc or .bin)", "Auto-detects format based on magic bytes"),
        (SarfCodec.from_binary, "(path, normalization='medium')",
         "Load codec from binary morf_map file (.bin)", "Explicit method for binary format"),
        (SarfCodec.encrypt_to_file, "(self, /, path)",
         "Encrypt and save morf_map to .enc file (legacy JSON format)",
         "Creates a .enc file that can only be read by this library"),
        (SarfCodec.encrypt_to_binary_file, "(self, /, path)",
         "Encrypt and save morf_map to .bin file (recommended binary format)",
         "Creates a .bin file with strongest IP protection"),
        (T.encrypt_morf_map, "(input_json, output_enc)",
         "Encrypt a morf_map JSON file to an encrypted .enc file (legacy format)", None),
        (T.encrypt_morf_map_binary, "(input_json, output_bin)",
         "Encrypt a morf_map JSON file to binary format (.bin)",
         "This is the recommended format for strongest IP protection:"),
        (T.is_binary_morf_map, "(path)", "Check if a file is a valid binary morf_map (.bin format)", None),
        (T.convert_enc_to_bin, "(input_enc, output_bin)", "Convert a .enc file to .bin format", None),
    ],
)
def test_signatures_and_docstrings(obj, signature, first, second):
    assert str(inspect.signature(obj)) == signature
    lines = obj.__doc__.splitlines()
    assert lines[0] == first
    if second is not None:
        assert lines[1] == second


def test_docstring_sections():
    doc = T.encrypt_morf_map_binary.__doc__
    for line in ["- No recognizable JSON structure", "- Raw binary data (33% smaller than base64)",
                 "Args:", "    input_json: Path to input JSON file with morpheme map",
                 "    output_bin: Path to output .bin file", "Returns:", "    Number of morphemes in the map",
                 "Example:"]:
        assert line in doc.splitlines()
    assert "SARF" in doc
    assert "    True if file has SARF magic bytes, False otherwise" in T.is_binary_morf_map.__doc__.splitlines()
    assert "    input_enc: Path to input .enc file" in T.convert_enc_to_bin.__doc__.splitlines()
    assert "Auto-detects format based on magic bytes" in SarfCodec.from_encrypted.__doc__


def test_order_in_the_class_namespace():
    names = list(SarfCodec.__dict__)
    assert names.index("from_encrypted") < names.index("from_binary") < names.index("encrypt_to_file") \
        < names.index("encrypt_to_binary_file") < names.index("encode")
    assert isinstance(SarfCodec.__dict__["from_encrypted"], staticmethod)


@pytest.mark.parametrize(
    "call, exception_class, message",
    [
        (lambda: T.encrypt_morf_map(), TypeError,
         "encrypt_morf_map() missing 2 required positional arguments: 'input_json' and 'output_enc'"),
        (lambda: T.convert_enc_to_bin("a"), TypeError,
         "convert_enc_to_bin() missing 1 required positional argument: 'output_bin'"),
        (lambda: T.encrypt_morf_map_binary("a", output_enc="b"), TypeError,
         "encrypt_morf_map_binary() got an unexpected keyword argument 'output_enc'"),
        (lambda: SarfCodec.from_encrypted("a", "light", 1), TypeError,
         "SarfCodec.from_encrypted() takes from 1 to 2 positional arguments but 3 were given"),
        (lambda: SarfCodec.from_binary(), TypeError,
         "SarfCodec.from_binary() missing 1 required positional argument: 'path'"),
        (lambda: SarfCodec({}).encrypt_to_file(), TypeError,
         "SarfCodec.encrypt_to_file() missing 1 required positional argument: 'path'"),
        (lambda: SarfCodec({}).encrypt_to_binary_file("a", "b"), TypeError,
         "SarfCodec.encrypt_to_binary_file() takes 1 positional arguments but 2 were given"),
        (lambda: SarfCodec.from_encrypted(None), TypeError,
         "argument 'path': 'NoneType' object cannot be converted to 'str'"),
        (lambda: SarfCodec.from_encrypted("x.enc", None), TypeError,
         "argument 'normalization': 'NoneType' object cannot be converted to 'str'"),
        (lambda: T.encrypt_morf_map("a", 5), TypeError,
         "argument 'output_enc': 'int' object cannot be converted to 'str'"),
        (lambda: T.convert_enc_to_bin(b"a", "b"), TypeError,
         "argument 'input_enc': 'bytes' object cannot be converted to 'str'"),
    ],
)
def test_argument_errors(call, exception_class, message):
    with pytest.raises(BaseException) as info:
        call()
    assert type(info.value) is exception_class
    assert str(info.value) == message


def test_lone_surrogate_path_is_the_interpreters_error():
    with pytest.raises(UnicodeEncodeError):
        T.encrypt_morf_map("\ud800.json", "out.enc")
