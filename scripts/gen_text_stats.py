#!/usr/bin/env python3
"""Writes src/engine/classes/text_stats_table.cpp: the statistics the text
score weighs a run with, derived from real Japanese prose.

The source is the Japanese edition of the Debian reference manual, shipped by
the Debian package debian-reference-ja as
/usr/share/debian-reference/debian-reference.ja.txt.gz. Its lines are split
into 16 equal blocks; blocks 3, 7, 11 and 15 are kept out of the statistics
and serve as the planted text of the quality benchmark (--planting-lines
prints them), so the benchmark never scores text the model was built from.

Its derivation blocks are counted together with the whole Japanese edition
of the Debian developers' reference (package developers-reference-ja), and
the words of the SKK large dictionary (package skkdic,
/usr/share/skk/SKK-JISYO.L) tell which kanji real words use and which pairs
of kanji they hold side by side; see kanji_prior and kanji_pair_feature.

The score compares two models of a run of characters:
- text: a first-order Markov chain over character classes (hiragana, level-1
  kanji, ASCII letters, ...) from the start of a line, and within a class the
  character's frequency, both counted in the prose (add-half smoothing);
- noise: independent uniformly random bytes read as code page 932, where a
  class comes up in proportion to its number of codes times 256 per byte and
  every character of a class equally often.
Each character then carries a log-likelihood ratio in nats, split into
  weight(c)          = ln P_text(c | class) + ln size(class)
  (for a kanji, P_text backs off to the word list's counts)
  transition(p, cls) = ln P_text(cls | p) - ln P_noise(cls)
and a run's evidence is the sum over its characters, plus for two kanji side
by side what being a pair of the word list (or not) says.

The values are the models' own; the score (src/engine/classes/text_score.cpp)
decides how it counts those of single-byte characters.

Values are written in 1/32 nat, rounded.

Run from the repository root: python3 scripts/gen_text_stats.py
(--source FILE reads another copy of the manual, --output FILE writes
elsewhere, --planting-lines prints the benchmark's lines as UTF-8;
--planting-source FILE makes them the prose lines of all of FILE instead, a
text file, gzipped or not: another document the statistics never saw.)
"""

import argparse
import filecmp
import gzip
import math
import os
import sys
import tempfile

SOURCE = "/usr/share/debian-reference/debian-reference.ja.txt.gz"
# More prose of another document (debian package developers-reference-ja),
# all of it counted; and a word list (package skkdic) whose compounds tell
# which kanji and which pairs of kanji real words are made of.
MORE_PROSE = "/usr/share/developers-reference/ja/developers-reference.txt.gz"
WORDS = "/usr/share/skk/SKK-JISYO.L"
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


KANJI_FIRST = C["kanji1"]
KANJI = [C["kanji1"], C["kanji2"], C["rare_kanji"]]
assert KANJI == list(range(KANJI_FIRST, KANJI_FIRST + 3))


def read_words(path, chars):
    """The words of the word list: every candidate of every entry, without
    annotations (after ';') and computed candidates (in parentheses), that
    the scan can report whole."""
    words = []
    with open(path, "rb") as f:
        for raw in f:
            try:
                line = raw.decode("euc_jis_2004")
            except UnicodeDecodeError:
                continue
            if line.startswith(";"):
                continue
            parts = line.rstrip("\n").split(" /", 1)
            if len(parts) != 2:
                continue
            for cand in parts[1].rstrip("/").split("/"):
                cand = cand.split(";")[0]
                if cand and not cand.startswith("(") and all(ord(ch) in chars for ch in cand):
                    words.append(cand)
    return words


def char_estimate(count, total, prior_p, alpha):
    """A character's share of its class: its count in the prose, backed off
    to the word list's share with the weight of `alpha` characters."""
    return (count + alpha * prior_p) / (total + alpha)


def kanji_prior(documents, chars, words, size):
    """A kanji's share of its class in the words of the word list (add-half),
    and the weight the prose's counts fall back on it with.

    The prose of a few hundred thousand characters has never seen many
    kanji that any text may use (宝, 箱); add-half smoothing would weigh
    them all as the rarest. The word list has seen nearly every kanji in
    use, in proportion to how many words it makes. The weight of that prior,
    in characters, is the one under which the counts of one document best
    predict the kanji of the other (the held-out likelihood, both ways
    round, over a doubling grid): text of another subject than the prose
    the counts come from is what the score meets."""
    word_count = {}
    word_total = {cls: 0 for cls in KANJI}
    for w in words:
        for ch in w:
            cls = chars[ord(ch)][0]
            if cls in KANJI:
                word_count[ord(ch)] = word_count.get(ord(ch), 0) + 1
                word_total[cls] += 1
    def prior_p(u, cls):
        return (word_count.get(u, 0) + 0.5) / (word_total[cls] + 0.5 * size[cls])
    def kanji_of(lines):
        counts, totals, seq = {}, {cls: 0 for cls in KANJI}, []
        for line in lines:
            for ch in line:
                entry = chars.get(ord(ch))
                if entry is not None and entry[0] in KANJI:
                    counts[ord(ch)] = counts.get(ord(ch), 0) + 1
                    totals[entry[0]] += 1
                    seq.append((ord(ch), entry[0]))
        return counts, totals, seq
    parts = [kanji_of(d) for d in documents]
    def likelihood(alpha):
        total = 0.0
        for train, test in ((parts[0], parts[1]), (parts[1], parts[0])):
            total += sum(math.log(char_estimate(train[0].get(u, 0), train[1][cls], prior_p(u, cls), alpha))
                         for u, cls in test[2])
        return total
    alpha = max((2.0 ** k for k in range(0, 21)), key=likelihood)
    return lambda u, cls: (prior_p(u, cls), alpha)


def kanji_pair_feature(lines, chars, words, size):
    """Whether two kanji side by side make a pair the word list's words hold
    (宝箱, 勇者), and what that says, per pair of kanji classes.

    Of the kanji pairs of the prose, a share f_text is such a word pair; of
    the pairs of random codes of those classes, a share f_noise (the word
    pairs among all pairs of codes). A word pair then carries
    ln(f_text / f_noise) of evidence for text, any other kanji pair
    ln((1 - f_text) / (1 - f_noise)): machine code gives kanji side by side
    at random, prose as words."""
    pairs = set()
    for w in words:
        for a, b in zip(w, w[1:]):
            if chars[ord(a)][0] in KANJI and chars[ord(b)][0] in KANJI:
                pairs.add((ord(a), ord(b)))
    hits = [[0] * 3 for _ in KANJI]
    seen = [[0] * 3 for _ in KANJI]
    for line in lines:
        for a, b in zip(line, line[1:]):
            ea, eb = chars.get(ord(a)), chars.get(ord(b))
            if ea is None or eb is None or ea[0] not in KANJI or eb[0] not in KANJI:
                continue
            i, j = ea[0] - KANJI_FIRST, eb[0] - KANJI_FIRST
            seen[i][j] += 1
            hits[i][j] += (ord(a), ord(b)) in pairs
    listed = [[0] * 3 for _ in KANJI]
    for a, b in pairs:
        listed[chars[a][0] - KANJI_FIRST][chars[b][0] - KANJI_FIRST] += 1
    values = [[[0.0] * 3 for _ in KANJI] for _ in range(2)]
    for i, ci in enumerate(KANJI):
        for j, cj in enumerate(KANJI):
            f_text = (hits[i][j] + 0.5) / (seen[i][j] + 1.0)
            f_noise = listed[i][j] / (size[ci] * size[cj])
            if f_noise <= 0.0:
                continue  # no word pair of these classes: nothing to tell
            values[1][i][j] = math.log(f_text / f_noise)
            values[0][i][j] = math.log((1.0 - f_text) / (1.0 - f_noise))
    return pairs, values


def derive(documents, chars, words):
    lines = documents[0] + documents[1]
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
    prior = kanji_prior(documents, chars, words, size)
    weights = {}
    for u, (cls, _) in chars.items():
        if cls in KANJI:
            p = char_estimate(char_count.get(u, 0), class_count[cls], *prior(u, cls))
        else:
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
    word_pairs, word_pair_values = kanji_pair_feature(lines, chars, words, size)
    def model(c1, c2):
        cls1, cls2 = chars[c1][0], chars[c2][0]
        p = (trans[cls1][cls2] + TRANSITION_PRIOR * unigram[cls2]) / (sum(trans[cls1]) + TRANSITION_PRIOR)
        t = math.log(p) + weights[c2] - math.log(size[cls2])
        if cls1 in KANJI and cls2 in KANJI:
            t += word_pair_values[(c1, c2) in word_pairs][cls1 - KANJI_FIRST][cls2 - KANJI_FIRST]
        return t
    pairs = pair_bonuses(lines, chars, model)
    return weights, table, unseen_weights, pairs, sum(class_count), word_pairs, word_pair_values


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


def write(path, chars, weights, table, unseen_weights, pairs, counted, word_pairs, word_pair_values):
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
        out.write("// Rows: the first kanji's class (level 1, level 2, rare), columns the\n")
        out.write("// second's; [0] a pair no word holds, [1] a word pair.\n")
        out.write("const std::int16_t text_stats_kanji_pair[2][3][3] = {\n")
        for v in word_pair_values:
            out.write("    {%s},\n" % ", ".join("{%s}" % ", ".join("%d" % units(x) for x in row) for row in v))
        out.write("};\n\n")
        out.write("// Unsized here, as above.\n")
        out.write("const std::uint32_t text_stats_word_pairs[] = {\n")
        listed = sorted(a << 16 | b for a, b in word_pairs)
        for k in range(0, len(listed), 8):
            out.write("    " + " ".join("0x%08X," % v for v in listed[k:k + 8]) + "\n")
        out.write("};\n\n")
        out.write("}  // namespace kurvane::detail\n")
    return len(entries)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--source", default=SOURCE)
    parser.add_argument("--output", default=OUTPUT)
    parser.add_argument("--planting-lines", action="store_true")
    parser.add_argument("--planting-source")
    parser.add_argument("--check", action="store_true",
                        help="regenerate into a scratch file and compare with --output; "
                             "exit 77 when the source is missing")
    args = parser.parse_args()
    if not os.path.exists(args.source):
        print("%s: missing (Debian package debian-reference-ja)" % args.source, file=sys.stderr)
        sys.exit(77 if args.check else 1)
    for path, package in ((MORE_PROSE, "developers-reference-ja"), (WORDS, "skkdic")):
        if not os.path.exists(path):
            print("%s: missing (Debian package %s)" % (path, package), file=sys.stderr)
            sys.exit(77 if args.check else 1)
    chars = repertoire()
    if args.planting_lines and args.planting_source:
        opener = gzip.open if args.planting_source.endswith(".gz") else open
        with opener(args.planting_source, "rt", encoding="utf-8") as f:
            sys.stdout.write("".join(line + "\n" for line in text_lines(f.read().split("\n"), chars)))
        return
    derive_raw, plant_raw = read_blocks(args.source)
    with gzip.open(MORE_PROSE, "rt", encoding="utf-8") as f:
        more_raw = f.read().split("\n")
    if args.planting_lines:
        sys.stdout.write("".join(line + "\n" for line in text_lines(plant_raw, chars)))
        return
    stats = derive([text_lines(derive_raw, chars), text_lines(more_raw, chars)], chars, read_words(WORDS, chars))
    if args.check:
        with tempfile.TemporaryDirectory() as scratch:
            fresh = os.path.join(scratch, "text_stats_table.cpp")
            write(fresh, chars, *stats)
            if not filecmp.cmp(fresh, args.output, shallow=False):
                print("%s differs from what the script generates" % args.output, file=sys.stderr)
                sys.exit(1)
        return
    count = write(args.output, chars, *stats)
    print("%s: %d characters, %d pairs, %d word pairs" % (args.output, count, len(stats[3]), len(stats[5])),
          file=sys.stderr)


if __name__ == "__main__":
    main()
