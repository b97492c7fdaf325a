#!/usr/bin/env python3
"""Writes src/engine/classes/text_stats_table.cpp: the statistics the text
score weighs a run with, derived from real Japanese prose.

The source is the Japanese edition of the Debian reference manual, shipped by
the Debian package debian-reference-ja as
/usr/share/debian-reference/debian-reference.ja.txt.gz. Its lines are split
into 16 equal blocks; blocks 3, 7, 11 and 15 are kept out of the statistics
and serve as the planted text of the quality benchmark (--planting-lines
prints them), so the benchmark never scores text the model was built from.

The score compares two models of a run of characters:
- text: a first-order Markov chain over character classes (hiragana, level-1
  kanji, ASCII letters, ...) from the start of a line, and within a class the
  character's frequency, both counted in the prose (add-half smoothing);
- noise: independent uniformly random bytes read as code page 932, where a
  class comes up in proportion to its number of codes times 256 per byte and
  every character of a class equally often.
Each character then carries a log-likelihood ratio in nats, split into
  weight(c)          = ln P_text(c | class) + ln size(class)
  transition(p, cls) = ln P_text(cls | p) - ln P_noise(cls)
and a run's evidence is the sum over its characters.

The values are the models' own; the score (src/engine/classes/text_score.cpp)
decides how it counts those of single-byte characters.

Values are written in 1/32 nat, rounded.

Run from the repository root: python3 scripts/gen_text_stats.py
(--source FILE reads another copy of the manual, --output FILE writes
elsewhere, --planting-lines prints the benchmark's lines as UTF-8.)
"""

import argparse
import filecmp
import gzip
import math
import os
import sys
import tempfile

SOURCE = "/usr/share/debian-reference/debian-reference.ja.txt.gz"
OUTPUT = "src/engine/classes/text_stats_table.cpp"
UNITS_PER_NAT = 32
BLOCKS = 16
PLANTING_BLOCKS = {3, 7, 11, 15}
# The weight, in characters, of the class frequencies a transition falls
# back on: one character's worth, so that any transition seen a few times in
# the prose is decided by its own count.
TRANSITION_PRIOR = 1.0
# A pair of characters counts as a word of the language when seen this
# often: once may be chance, twice is the least count whose discounted
# estimate (1.5 of 2) is mostly what was counted.
PAIR_MIN_COUNT = 2
# ... and when it tells at least this much more than the class model: half
# a nat, below which the pair's entry costs more than it says.
PAIR_MIN_BONUS = 0.5

# In the order of kurvane::detail::TextClass.
CLASSES = [
    "other", "space", "digit", "upper", "lower", "punct", "half_kana",
    "hiragana", "katakana", "kanji1", "kanji2", "rare_kanji", "symbol",
    "full_alnum", "greek_cyrillic", "rare_symbol",
]
C = {name: k for k, name in enumerate(CLASSES)}
ASCII = {C["space"], C["digit"], C["upper"], C["lower"], C["punct"]}
START = len(CLASSES)  # the transition row before a run's first character

# Lead bytes of the double-byte characters the classifier can accept.
LEADS = (list(range(0x81, 0x85)) + list(range(0x87, 0xA0)) + list(range(0xE0, 0xEB)) +
         [0xED, 0xEE, 0xFA, 0xFB, 0xFC])


def jis_row(code):
    lead, trail = code >> 8, code & 0xFF
    base = lead - 0x81 if lead <= 0x9F else lead - 0xC1
    return base * 2 + 1 + (1 if trail >= 0x9F else 0)


def is_ideograph(u):
    return 0x3400 <= u <= 0x9FFF or 0xF900 <= u <= 0xFAFF or 0x20000 <= u <= 0x3FFFF or u == 0x3005


def double_class(u, code):
    """The class of a double-byte character, by its lowest code."""
    if 0x3041 <= u <= 0x309F:
        return C["hiragana"]
    if 0x30A0 <= u <= 0x30FF and u != 0x30FB:
        return C["katakana"]
    lead = code >> 8
    if lead >= 0xED:
        return C["rare_kanji"] if is_ideograph(u) else C["rare_symbol"]
    row = jis_row(code)
    if row <= 2:
        return C["symbol"]
    if row == 3:
        return C["full_alnum"]
    if row in (6, 7):
        return C["greek_cyrillic"]
    if row < 16:
        return C["rare_symbol"]
    return C["kanji1"] if row <= 47 else C["kanji2"]


def single_class(b):
    if b == 0x20:
        return C["space"]
    if 0x30 <= b <= 0x39:
        return C["digit"]
    if 0x41 <= b <= 0x5A:
        return C["upper"]
    if 0x61 <= b <= 0x7A:
        return C["lower"]
    if 0x21 <= b <= 0x7E:
        return C["punct"]
    return C["half_kana"]  # 0xA1-0xDF, the half-width punctuation with them


def repertoire():
    """Every character the scan can report: code point -> (class, bytes)."""
    chars = {}
    for b in list(range(0x20, 0x7F)) + list(range(0xA1, 0xE0)):
        chars[ord(bytes([b]).decode("cp932"))] = (single_class(b), 1)
    lowest = {}
    for lead in LEADS:
        for trail in range(0x40, 0xFD):
            if trail == 0x7F:
                continue
            try:
                text = bytes([lead, trail]).decode("cp932")
            except UnicodeDecodeError:
                continue
            u = ord(text)
            code = lead << 8 | trail
            if u not in lowest or code < lowest[u]:
                lowest[u] = code
    for u, code in lowest.items():
        if u not in chars:
            chars[u] = (double_class(u, code), 2)
    return chars


def read_blocks(path):
    with gzip.open(path, "rt", encoding="utf-8") as f:
        lines = f.read().split("\n")
    size = (len(lines) + BLOCKS - 1) // BLOCKS
    derive, plant = [], []
    for k, line in enumerate(lines):
        (plant if k // size in PLANTING_BLOCKS else derive).append(line)
    return derive, plant


def text_lines(raw, chars):
    """The lines of prose in `raw`: table cells split apart, indentation
    dropped, and only lines holding a kana or kanji."""
    japanese = {C["hiragana"], C["katakana"], C["kanji1"], C["kanji2"], C["rare_kanji"]}
    out = []
    for line in raw:
        for cell in line.split("|"):
            cell = cell.strip()
            if cell and any(chars.get(ord(ch), (C["other"],))[0] in japanese for ch in cell):
                out.append(cell)
    return out


def derive(lines, chars):
    n = len(CLASSES)
    size = [0] * n
    mass = [0.0] * n
    for cls, width in chars.values():
        size[cls] += 1
        mass[cls] += 256.0 ** -width
    char_count = {}
    class_count = [0] * n
    trans = [[0] * n for _ in range(n + 1)]
    for line in lines:
        prev = START
        for ch in line:
            cls = chars.get(ord(ch), (C["other"],))[0]
            if cls == C["other"]:
                prev = START  # a character the scan never reports ends the run
                continue
            char_count[ord(ch)] = char_count.get(ord(ch), 0) + 1
            class_count[cls] += 1
            trans[prev][cls] += 1
            prev = cls
    total_mass = sum(mass)
    weights = {}
    for u, (cls, _) in chars.items():
        p = (char_count.get(u, 0) + 0.5) / (class_count[cls] + 0.5 * size[cls])
        w = math.log(p) + math.log(size[cls])
        # Which ASCII letter or symbol it is says more about what a text is
        # about (commands here, format strings elsewhere) than whether it is
        # text: ASCII is weighed by its class alone.
        weights[u] = 0.0 if cls in ASCII else w
    # A transition falls back on how often its class comes up at all, so a
    # class seen a few times (Greek, rare kanji) is not taken as common
    # after another.
    seen = sum(class_count) + 0.5 * (n - 1)
    unigram = [(class_count[cls] + 0.5) / seen for cls in range(n)]
    table = [[0.0] * n for _ in range(n + 1)]
    for prev in range(n + 1):
        row_total = sum(trans[prev]) + TRANSITION_PRIOR
        for cls in range(1, n):
            p = (trans[prev][cls] + TRANSITION_PRIOR * unigram[cls]) / row_total
            t = math.log(p) - math.log(mass[cls] / total_mass)
            table[prev][cls] = t
    # A character code page 932 lacks (from another input encoding) is
    # weighed as an unseen character of the rare class it resembles: an
    # ideograph as a rare kanji, anything else as a rare symbol.
    def unseen(cls):
        return math.log(0.5 / (class_count[cls] + 0.5 * size[cls])) + math.log(size[cls])
    for row in table:
        row[C["other"]] = row[C["rare_symbol"]]
    table[C["other"]] = list(table[C["rare_symbol"]])
    unseen_weights = (unseen(C["rare_kanji"]), unseen(C["rare_symbol"]))
    # What the model above says of c2 after c1: ln P(class2 | class1) +
    # ln P(c2 | class2).
    def model(c1, c2):
        cls1, cls2 = chars[c1][0], chars[c2][0]
        p = (trans[cls1][cls2] + TRANSITION_PRIOR * unigram[cls2]) / (sum(trans[cls1]) + TRANSITION_PRIOR)
        q = (char_count.get(c2, 0) + 0.5) / (class_count[cls2] + 0.5 * size[cls2])
        return math.log(p) + math.log(q)
    pairs = pair_bonuses(lines, chars, model)
    return weights, table, unseen_weights, pairs, sum(class_count)


def pair_bonuses(lines, chars, model):
    """Pairs of double-byte characters that prose holds far more often than
    the class model predicts (the words of the language: 確認, 設定, して),
    with the extra evidence: ln P(c2 | c1) counted (less a discount of a
    half) minus the model's ln P(c2 | c1). Only pairs seen PAIR_MIN_COUNT
    times and worth PAIR_MIN_BONUS nats are kept; the rest keep the
    model's value."""
    after = {}
    follow = {}
    for line in lines:
        prev = None
        for ch in line:
            u = ord(ch)
            entry = chars.get(u)
            if entry is None or entry[1] != 2:
                prev = None
                continue
            if prev is not None:
                after[(prev, u)] = after.get((prev, u), 0) + 1
                follow[prev] = follow.get(prev, 0) + 1
            prev = u
    bonuses = []
    for (c1, c2), count in after.items():
        if count < PAIR_MIN_COUNT:
            continue
        bonus = math.log((count - 0.5) / follow[c1]) - model(c1, c2)
        if bonus >= PAIR_MIN_BONUS:
            bonuses.append((c1, c2, bonus))
    return sorted(bonuses)


def units(x):
    return int(math.floor(x * UNITS_PER_NAT + 0.5))


def write(path, chars, weights, table, unseen_weights, pairs, counted):
    with open(path, "w", encoding="ascii", newline="\n") as out:
        out.write("// Generated by scripts/gen_text_stats.py; do not edit.\n")
        out.write("// Character statistics of Japanese prose against random bytes, from\n")
        out.write("// %d characters of text; values in 1/%d nat.\n" % (counted, UNITS_PER_NAT))
        out.write('#include "engine/classes/text_stats.h"\n\n')
        out.write("namespace kurvane::detail {\n\n")
        out.write("static_assert(text_stats_units_per_nat == %d);\n" % UNITS_PER_NAT)
        for k, name in enumerate(CLASSES):
            out.write("static_assert(static_cast<int>(TextClass::%s) == %d);\n" % (name, k))
        out.write("\nconst std::int16_t text_stats_unseen_ideograph = %d;\n" % units(unseen_weights[0]))
        out.write("const std::int16_t text_stats_unseen_other = %d;\n\n" % units(unseen_weights[1]))
        out.write("// Rows: the previous character's class, then the start of a run.\n")
        out.write("const std::int16_t text_stats_transition[text_class_count + 1][text_class_count] = {\n")
        for prev in range(len(CLASSES) + 1):
            name = CLASSES[prev] if prev < len(CLASSES) else "start"
            values = ", ".join("%d" % units(v) for v in table[prev])
            out.write("    {%s},  // %s\n" % (values, name))
        out.write("};\n\n")
        entries = sorted((u, chars[u][0], units(weights[u])) for u in chars)
        out.write("// Unsized here: a count that differs from the header's is a conflicting\n")
        out.write("// declaration, so the build stops.\n")
        out.write("const TextStatsChar text_stats_chars[] = {\n")
        for k in range(0, len(entries), 5):
            out.write("    " + " ".join("{0x%04X, %d, %d}," % e for e in entries[k:k + 5]) + "\n")
        out.write("};\n\n")
        out.write("// Unsized here, as above.\n")
        out.write("const TextStatsPair text_stats_pairs[] = {\n")
        for k in range(0, len(pairs), 4):
            out.write("    " + " ".join("{0x%04X%04X, %d}," % (a, b, units(v)) for a, b, v in pairs[k:k + 4]) + "\n")
        out.write("};\n\n")
        out.write("}  // namespace kurvane::detail\n")
    return len(entries)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--source", default=SOURCE)
    parser.add_argument("--output", default=OUTPUT)
    parser.add_argument("--planting-lines", action="store_true")
    parser.add_argument("--check", action="store_true",
                        help="regenerate into a scratch file and compare with --output; "
                             "exit 77 when the source is missing")
    args = parser.parse_args()
    if not os.path.exists(args.source):
        print("%s: missing (Debian package debian-reference-ja)" % args.source, file=sys.stderr)
        sys.exit(77 if args.check else 1)
    chars = repertoire()
    derive_raw, plant_raw = read_blocks(args.source)
    if args.planting_lines:
        sys.stdout.write("".join(line + "\n" for line in text_lines(plant_raw, chars)))
        return
    weights, table, unseen_weights, pairs, counted = derive(text_lines(derive_raw, chars), chars)
    if args.check:
        with tempfile.TemporaryDirectory() as scratch:
            fresh = os.path.join(scratch, "text_stats_table.cpp")
            write(fresh, chars, weights, table, unseen_weights, pairs, counted)
            if not filecmp.cmp(fresh, args.output, shallow=False):
                print("%s differs from what the script generates" % args.output, file=sys.stderr)
                sys.exit(1)
        return
    count = write(args.output, chars, weights, table, unseen_weights, pairs, counted)
    print("%s: %d characters, %d pairs" % (args.output, count, len(pairs)), file=sys.stderr)


if __name__ == "__main__":
    main()
