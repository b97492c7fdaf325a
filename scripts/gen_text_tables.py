#!/usr/bin/env python3
"""Writes the text library's generated tables:

- src/text/euc_jp_table.cpp: EUC-JP's two 94 x 94 double-byte sets to
  Unicode, JIS X 0208 (two bytes 0xA1-0xFE) and JIS X 0212 (after the byte
  0x8F), as Python's 'euc_jp' codec decodes them, with one change: JIS X 0212
  0x2237 is U+FF5E, as glibc maps it, since U+007E is already the byte 0x7E
  and a character should have one code.
- src/text/unicode_class_table.cpp: the character class of every code point,
  as a two-level table of 256-entry blocks. A character code page 932 holds
  takes the class the classifier gives its code (the code Windows writes,
  see gen_cp932_table.py); any other takes the class of its Unicode block
  (BLOCK_CLASSES below) or none.

Run from the repository root: python3 scripts/gen_text_tables.py
With --check it writes nothing and exits 1 when a committed file differs from
what it would write.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gen_cp932_table import encode_pairs  # noqa: E402

# The classes, in the order of TextClass in src/text/text_class.h.
CLASSES = ["none", "half_digit", "half_upper", "half_lower", "half_kana", "half_symbol",
           "hiragana", "katakana", "kanji", "full_digit", "full_upper", "full_lower",
           "cyrillic", "greek", "full_symbol"]
C = {name: k for k, name in enumerate(CLASSES)}

# The classifier's byte ranges (src/engine/classifier.cpp); the text tests
# check the generated table against the classifier itself for every code.
SINGLE = [("half_symbol", 0x20, 0x2F), ("half_symbol", 0x3A, 0x40), ("half_symbol", 0x5B, 0x60),
          ("half_symbol", 0x7B, 0x7E), ("half_symbol", 0xA1, 0xA4), ("half_kana", 0xA6, 0xDF),
          ("half_upper", 0x41, 0x5A), ("half_lower", 0x61, 0x7A), ("half_digit", 0x30, 0x39)]
DOUBLE = [
    ("full_symbol", 0x81, 0x81, [(0x40, 0x7E), (0x80, 0xAC), (0xB8, 0xBF), (0xC8, 0xCE),
                                 (0xDA, 0xE8), (0xF0, 0xF7), (0xFC, 0xFC)]),
    ("full_digit", 0x82, 0x82, [(0x4F, 0x58)]),
    ("full_upper", 0x82, 0x82, [(0x60, 0x79)]),
    ("full_lower", 0x82, 0x82, [(0x81, 0x9A)]),
    ("hiragana", 0x82, 0x82, [(0x9F, 0xF1)]),
    ("katakana", 0x83, 0x83, [(0x40, 0x7E), (0x80, 0x96)]),
    ("greek", 0x83, 0x83, [(0x9F, 0xB6), (0xBF, 0xD6)]),
    ("cyrillic", 0x84, 0x84, [(0x40, 0x60), (0x70, 0x7E), (0x80, 0x91)]),
    ("full_symbol", 0x84, 0x84, [(0x9F, 0xBE)]),
    ("full_symbol", 0x87, 0x87, [(0x40, 0x5D), (0x5F, 0x75), (0x7E, 0x7E), (0x80, 0x9C)]),
    ("kanji", 0x88, 0x88, [(0x9F, 0xFC)]),
    ("kanji", 0x89, 0x97, [(0x40, 0x7E), (0x80, 0xFC)]),
    ("kanji", 0x98, 0x98, [(0x40, 0x72), (0x9F, 0xFC)]),
    ("kanji", 0x99, 0x9F, [(0x40, 0x7E), (0x80, 0xFC)]),
    ("kanji", 0xE0, 0xE9, [(0x40, 0x7E), (0x80, 0xFC)]),
    ("kanji", 0xEA, 0xEA, [(0x40, 0x7E), (0x80, 0xA4)]),
    ("kanji", 0xED, 0xED, [(0x40, 0x7E), (0x80, 0xFC)]),
    ("kanji", 0xEE, 0xEE, [(0x40, 0x7E), (0x80, 0xEC), (0xEF, 0xFC)]),
    ("kanji", 0xFA, 0xFB, [(0x40, 0x7E), (0x80, 0xFC)]),
    ("kanji", 0xFC, 0xFC, [(0x40, 0x4B)]),
]

# Where code page 932 lacks a character, the class of its block. Later
# entries win over earlier ones they overlap.
BLOCK_CLASSES = [
    ("full_symbol", 0x00A1, 0x00BF),    # Latin-1 punctuation and signs
    ("full_symbol", 0x00D7, 0x00D7),
    ("full_symbol", 0x00F7, 0x00F7),
    ("greek", 0x0370, 0x03FF),
    ("cyrillic", 0x0400, 0x052F),       # Cyrillic and its supplement
    ("cyrillic", 0x1C80, 0x1C8F),       # Cyrillic Extended-C
    ("greek", 0x1F00, 0x1FFF),          # Greek Extended
    ("full_symbol", 0x2010, 0x2027),    # General Punctuation without its spaces and controls
    ("full_symbol", 0x2030, 0x205E),
    ("full_symbol", 0x2070, 0x2BFF),    # super- and subscripts to miscellaneous symbols and arrows
    ("cyrillic", 0x2DE0, 0x2DFF),       # Cyrillic Extended-A
    ("kanji", 0x2E80, 0x2FDF),          # CJK and Kangxi radicals
    ("full_symbol", 0x2FF0, 0x303F),    # ideographic description, CJK symbols and punctuation
    ("hiragana", 0x3041, 0x309F),
    ("katakana", 0x30A0, 0x30FF),
    ("full_symbol", 0x3190, 0x31EF),    # kanbun and CJK strokes
    ("katakana", 0x31F0, 0x31FF),       # Katakana Phonetic Extensions
    ("full_symbol", 0x3200, 0x33FF),    # enclosed CJK letters, CJK compatibility
    ("kanji", 0x3400, 0x4DBF),          # CJK Extension A
    ("full_symbol", 0x4DC0, 0x4DFF),    # hexagram symbols
    ("kanji", 0x4E00, 0x9FFF),
    ("cyrillic", 0xA640, 0xA69F),       # Cyrillic Extended-B
    ("kanji", 0xF900, 0xFAFF),          # CJK compatibility ideographs
    ("full_symbol", 0xFE10, 0xFE1F),    # vertical forms
    ("full_symbol", 0xFE30, 0xFE6F),    # CJK compatibility and small forms
    ("full_symbol", 0xFF01, 0xFF0F),    # fullwidth forms
    ("full_digit", 0xFF10, 0xFF19),
    ("full_symbol", 0xFF1A, 0xFF20),
    ("full_upper", 0xFF21, 0xFF3A),
    ("full_symbol", 0xFF3B, 0xFF40),
    ("full_lower", 0xFF41, 0xFF5A),
    ("full_symbol", 0xFF5B, 0xFF60),
    ("full_symbol", 0xFFE0, 0xFFEE),
    ("katakana", 0x1AFF0, 0x1AFFF),     # Kana Extended-B
    ("hiragana", 0x1B000, 0x1B16F),     # kana supplement, Kana Extended-A, small kana
    ("katakana", 0x1B000, 0x1B000),
    ("katakana", 0x1B155, 0x1B155),
    ("katakana", 0x1B164, 0x1B167),
    ("full_symbol", 0x1D000, 0x1D24F),  # musical symbols
    ("full_symbol", 0x1F000, 0x1FBFF),  # game symbols, enclosed supplements, pictographs
    ("kanji", 0x20000, 0x323AF),        # CJK Extensions B to H, compatibility supplement
]

BLOCK = 256
PLANES_END = 0x110000


def code_class(code):
    """The classifier's class of a code page 932 code (a byte or lead << 8 | trail)."""
    if code <= 0xFF:
        for name, first, last in SINGLE:
            if first <= code <= last:
                return C[name]
        return C["none"]
    lead, trail = code >> 8, code & 0xFF
    for name, lead_first, lead_last, trails in DOUBLE:
        if lead_first <= lead <= lead_last and any(a <= trail <= b for a, b in trails):
            return C[name]
    return C["none"]


def cp932_codes():
    """Code point to its code page 932 code, as the engine's converter writes it."""
    codes = {u: u for u in range(0x80)}
    codes.update({0xFF61 + k: 0xA1 + k for k in range(0xDF - 0xA1 + 1)})
    codes.update({0x0080: 0x80, 0xF8F0: 0xA0, 0xF8F1: 0xFD, 0xF8F2: 0xFE, 0xF8F3: 0xFF})
    codes.update(dict(encode_pairs()))
    return codes


def class_per_code_point():
    classes = bytearray(PLANES_END)
    for name, first, last in BLOCK_CLASSES:
        classes[first:last + 1] = bytes([C[name]]) * (last - first + 1)
    for u, code in cp932_codes().items():
        classes[u] = code_class(code)
    return classes


def unicode_class_source():
    classes = class_per_code_point()
    blocks = []
    index = {}
    stage1 = []
    for start in range(0, PLANES_END, BLOCK):
        block = bytes(classes[start:start + BLOCK])
        if block not in index:
            index[block] = len(blocks)
            blocks.append(block)
        stage1.append(index[block])
    assert len(blocks) <= 256
    out = ["// Generated by scripts/gen_text_tables.py; do not edit.",
           "// The character class (TextClass) of every code point, by blocks of 256.",
           '#include "text/unicode_class.h"', "",
           "namespace kurvane::text::detail {", "",
           "// Unsized here: a count that differs from the header's is a conflicting",
           "// declaration, so the build stops.",
           "const std::uint8_t unicode_class_index[] = {"]
    for k in range(0, len(stage1), 24):
        out.append("    " + ", ".join("%d" % v for v in stage1[k:k + 24]) + ",")
    out += ["};", "", "const std::uint8_t unicode_class_blocks[][unicode_class_block_size] = {"]
    for n, block in enumerate(blocks):
        out.append("    {  // block %d" % n)
        for k in range(0, BLOCK, 32):
            out.append("        " + ", ".join("%d" % v for v in block[k:k + 32]) + ",")
        out.append("    },")
    out += ["};", "", "}  // namespace kurvane::text::detail", ""]
    return "\n".join(out), len(blocks)


def euc_jp_set(prefix, overrides):
    rows = []
    for row in range(0xA1, 0xFF):
        values = []
        for cell in range(0xA1, 0xFF):
            code = prefix + bytes([row, cell])
            u = overrides.get(code)
            if u is None:
                try:
                    text = code.decode("euc_jp")
                    u = ord(text) if len(text) == 1 else 0
                except UnicodeDecodeError:
                    u = 0
            values.append(u)
        lines = ["        " + ", ".join("0x%04X" % v for v in values[k:k + 12]) + ","
                 for k in range(0, len(values), 12)]
        rows.append("    {  // row 0x%02X\n%s\n    }," % (row, "\n".join(lines)))
    return "\n".join(rows)


def euc_jp_source():
    out = ["// Generated by scripts/gen_text_tables.py; do not edit.",
           "// EUC-JP's double-byte sets to Unicode, by row and cell 0xA1-0xFE (0: unassigned).",
           '#include "text/euc_jp.h"', "",
           "namespace kurvane::text::detail {", "",
           "const std::uint16_t euc_jp_jis0208[euc_jp_cells][euc_jp_cells] = {",
           euc_jp_set(b"", {}), "};", "",
           "const std::uint16_t euc_jp_jis0212[euc_jp_cells][euc_jp_cells] = {",
           euc_jp_set(b"\x8f", {b"\x8f\xa2\xb7": 0xFF5E}), "};", "",
           "}  // namespace kurvane::text::detail", ""]
    return "\n".join(out)


def main():
    check = "--check" in sys.argv[1:]
    class_source, block_count = unicode_class_source()
    files = {"src/text/euc_jp_table.cpp": euc_jp_source(),
             "src/text/unicode_class_table.cpp": class_source}
    stale = []
    for path, text in files.items():
        if check:
            try:
                with open(path, encoding="ascii", newline="") as f:
                    if f.read() != text:
                        stale.append(path)
            except OSError:
                stale.append(path)
        else:
            with open(path, "w", encoding="ascii", newline="\n") as f:
                f.write(text)
    for path in stale:
        print("%s differs from what scripts/gen_text_tables.py writes" % path, file=sys.stderr)
    if not check:
        print("%d distinct blocks of %d code points" % (block_count, BLOCK))
    return 1 if stale else 0


if __name__ == "__main__":
    sys.exit(main())
