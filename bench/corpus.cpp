#include "corpus.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "cp932.h"

namespace kurvane::bench {
namespace {

// Vocabulary of a role-playing game's messages. The literals are code page
// 932 bytes (see cp932.h), exactly as such a game would store them.
constexpr std::string_view names[] = {"アレン", "リナ", "ガルド", "長老", "王様", "村人",
                                      "商人", "兵士", "魔女", "少年"};
constexpr std::string_view nouns[] = {
    "勇者", "魔王", "城", "森", "洞窟", "剣", "盾", "宝箱", "鍵", "扉", "船", "港町", "神殿",
    "仲間", "魔法", "薬草", "手紙", "地図", "宿屋", "武器屋", "ポーション", "エーテル",
    "ゴールド", "アイテム", "スキル", "ダンジョン", "モンスター", "クエスト", "ギルド",
    "ドラゴン", "北の山", "古い塔", "星の欠片", "水晶"};
constexpr std::string_view particles[] = {"は", "が", "を", "に", "で", "と", "の", "へ", "も"};
constexpr std::string_view endings[] = {
    "見つけた", "手に入れた", "開けた", "倒した", "待っている", "知っていますか",
    "行きましょう", "ありがとう", "助けてください", "使いますか", "売っています",
    "探しています", "守らなければならない", "どこにあるのだろう", "気をつけて",
    "覚えておこう", "眠っている", "聞いたことがある"};
constexpr std::string_view openers[] = {"", "", "", "ええと、", "よし、", "さあ、", "おお、",
                                        "うーん……", "実は、", "そういえば、"};
constexpr std::string_view closers[] = {"。", "。", "！", "？", "……", "！？"};
constexpr std::string_view digits[] = {"０", "１", "２", "３", "４", "５", "６", "７", "８", "９"};
constexpr std::string_view commands[] = {
    "@msg", "@wait", "@bgm play", "@se", "@face", "@jump label_", "@flag set", "@if flag"};
constexpr std::string_view files[] = {"data/map01.bin", "bgm/town.ogg", "se/door.wav",
                                      "img/face_allen.png", "script/ev_0123.txt"};

// The long-runs corpus: single-byte words of script source and half-width
// katakana labels.
constexpr std::string_view script_words[] = {
    "if", "flag[", "]", "==", "goto", "label_", "call", "msg(", ")", ";", "HP", "MP", "Lv",
    "+=", "-", "x", "y", "\"", "'", "{", "}", "return", "Attack", "Defense", "#", ",", ".",
    "?", "!", " ", " ", "  "};
constexpr std::string_view halfwidth_words[] = {"ｱｲﾃﾑ", "ﾎﾟｰｼｮﾝ", "ｺﾞｰﾙﾄﾞ", "ｾｰﾌﾞ", "ﾛｰﾄﾞ",
                                                "ｽﾃｰﾀｽ", "ﾏｯﾌﾟ", "ｲﾍﾞﾝﾄ", "ｼｽﾃﾑ", "ﾒﾆｭｰ",
                                                "｢", "｣", "､", "｡"};
// Its settings' tables, which its data is made to hit: the double-byte space,
// the two characters of a line-break escape and the middle dot are excluded;
// answers and labels shorter than the minimum length are exempt.
constexpr std::string_view long_runs_excluded[] = {"　", "\\n", "・"};
constexpr std::string_view long_runs_exempt[] = {"はい", "いいえ", "ＯＫ", "HP", "ｾｰﾌﾞ"};
constexpr std::uint32_t long_runs_min_length = 8;

static_assert(std::size(long_runs_excluded) <= excluded_pair_count &&
              std::size(long_runs_exempt) <= exempt_string_count);
static_assert([] {
    for (std::string_view pair : long_runs_excluded)
        if (pair.size() != 2) return false;
    for (std::string_view text : long_runs_exempt)
        if (text.empty() || text.size() > exempt_string_max) return false;
    return true;
}());

void append(std::vector<unsigned char>& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
}

template <std::size_t N>
std::string_view pick(const std::string_view (&list)[N], std::size_t index) {
    return list[index % N];
}

void append_le(std::vector<unsigned char>& out, std::uint64_t value, int bytes) {
    for (int k = 0; k < bytes; ++k) out.push_back(static_cast<unsigned char>(value >> (8 * k)));
}

}  // namespace

std::optional<CorpusKind> corpus_kind_from_name(std::string_view name) {
    for (CorpusKind kind : all_corpus_kinds)
        if (name == corpus_kind_name(kind)) return kind;
    return std::nullopt;
}

std::string_view corpus_kind_name(CorpusKind kind) {
    switch (kind) {
    case CorpusKind::mixed: return "mixed";
    case CorpusKind::text: return "text";
    case CorpusKind::binary: return "binary";
    case CorpusKind::long_runs: return "long-runs";
    }
    return "?";
}

ExtractionSettings corpus_settings(CorpusKind kind) {
    ExtractionSettings settings;
    if (kind != CorpusKind::long_runs) return settings;
    settings.min_length = long_runs_min_length;
    settings.half_digits = 1;
    settings.half_upper = 1;
    settings.half_lower = 1;
    settings.half_katakana = 1;
    settings.half_symbols = 1;
    for (std::size_t k = 0; k < std::size(long_runs_excluded); ++k)
        std::memcpy(settings.excluded_pairs[k], long_runs_excluded[k].data(), 2);
    for (std::size_t k = 0; k < std::size(long_runs_exempt); ++k)
        std::memcpy(settings.exempt_strings[k], long_runs_exempt[k].data(),
                    long_runs_exempt[k].size());
    return settings;
}

CorpusGenerator::CorpusGenerator(CorpusKind kind, std::uint64_t seed)
    : kind_(kind), state_(seed * 0x9E3779B97F4A7C15ull + 1) {}

// splitmix64: fixed output on every platform, unlike the standard distributions.
std::uint64_t CorpusGenerator::next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void CorpusGenerator::next_block(std::vector<unsigned char>& out) {
    const std::size_t before = out.size();
    block_start_ = before;
    // Chances per mille, chosen so that by bytes the mixed corpus is about a
    // third compressed blobs, a fifth padding, a quarter record tables and
    // a fifth text; the text corpus is about nine tenths text; the binary
    // corpus is under a hundredth text. The long-runs corpus is about a
    // third each double-byte, single-byte and mixed runs, with a few label
    // and record tables between them.
    const std::size_t roll = below(1000);
    switch (kind_) {
    case CorpusKind::mixed:
        if (roll < 80) random_blob(out);
        else if (roll < 270) zero_padding(out);
        else if (roll < 600) record_table(out);
        else if (roll < 840) message_table(out);
        else script_text(out);
        break;
    case CorpusKind::text:
        if (roll < 460) message_table(out);
        else if (roll < 920) script_text(out);
        else if (roll < 980) record_table(out);
        else zero_padding(out);
        break;
    case CorpusKind::binary:
        if (roll < 400) random_blob(out);
        else if (roll < 650) zero_padding(out);
        else if (roll < 990) record_table(out);
        else message_table(out);
        break;
    case CorpusKind::long_runs:
        if (roll < 300) double_byte_run(out);
        else if (roll < 550) single_byte_run(out);
        else if (roll < 800) mixed_width_run(out);
        else if (roll < 930) label_table(out);
        else record_table(out);
        break;
    }
    emitted_ += out.size() - before;
}

void CorpusGenerator::random_blob(std::vector<unsigned char>& out) {
    const std::size_t n = 1024 + below(40 * 1024);
    for (std::size_t k = 0; k < n; k += 8) append_le(out, next(), 8);
}

void CorpusGenerator::zero_padding(std::vector<unsigned char>& out) {
    // Archives pad their members to 2 KiB sectors.
    const std::size_t n = 2048 - (emitted_ + out.size() - block_start_) % 2048 + 2048 * below(4);
    out.insert(out.end(), n, 0);
}

void CorpusGenerator::record_table(std::vector<unsigned char>& out) {
    // uint32 count, then records: uint32 id, int16 x, y, uint8 kind, flags,
    // uint16 hit points, float scale.
    const std::size_t count = 16 + below(400);
    append_le(out, count, 4);
    const float scales[] = {0.5f, 1.0f, 1.25f, 2.0f, 0.75f};
    for (std::size_t k = 0; k < count; ++k) {
        append_le(out, 1000 + k, 4);
        append_le(out, below(640), 2);
        append_le(out, static_cast<std::uint16_t>(below(960) - 480), 2);
        out.push_back(static_cast<unsigned char>(below(12)));
        out.push_back(static_cast<unsigned char>(below(256) & 0x0F));
        append_le(out, 50 + below(9950), 2);
        std::uint32_t bits = 0;
        std::memcpy(&bits, &scales[below(5)], 4);
        append_le(out, bits, 4);
    }
}

void CorpusGenerator::sentence(std::vector<unsigned char>& out) {
    const std::size_t clauses = 1 + below(3);
    append(out, pick(openers, below(100)));
    for (std::size_t c = 0; c < clauses; ++c) {
        append(out, pick(nouns, below(1000)));
        append(out, pick(particles, below(100)));
        if (below(4) == 0) {
            append(out, pick(digits, 1 + below(9)));
            append(out, pick(digits, below(10)));
            append(out, "０枚の");
        }
        append(out, pick(nouns, below(1000)));
        append(out, pick(particles, below(100)));
        append(out, pick(endings, below(1000)));
        append(out, c + 1 < clauses ? "、" : pick(closers, below(100)));
    }
}

void CorpusGenerator::message_table(std::vector<unsigned char>& out) {
    // uint32 count, uint32 offsets, then zero-terminated speaker and line.
    const std::size_t count = 8 + below(56);
    append_le(out, count, 4);
    const std::size_t offsets_at = out.size();
    out.insert(out.end(), 4 * count, 0);
    for (std::size_t k = 0; k < count; ++k) {
        const auto offset = out.size() - offsets_at;
        for (int b = 0; b < 4; ++b)
            out[offsets_at + 4 * k + static_cast<std::size_t>(b)] =
                static_cast<unsigned char>(offset >> (8 * b));
        append(out, pick(names, below(100)));
        out.push_back(0);
        append(out, "「");
        sentence(out);
        append(out, "」");
        out.push_back(0);
        while (out.size() % 4 != 0) out.push_back(0);
    }
}

void CorpusGenerator::script_text(std::vector<unsigned char>& out) {
    const std::size_t lines = 10 + below(60);
    for (std::size_t k = 0; k < lines; ++k) {
        switch (below(5)) {
        case 0:
            append(out, pick(commands, below(100)));
            append(out, " ");
            append(out, std::to_string(below(300)));
            break;
        case 1:
            append(out, "@load \"");
            append(out, pick(files, below(100)));
            append(out, "\"");
            break;
        default:
            append(out, "#");
            append(out, pick(names, below(100)));
            append(out, "\r\n");
            sentence(out);
            break;
        }
        append(out, "\r\n");
    }
}

// The long-runs pieces. Run lengths of 500 to 5,000 bytes straddle the
// pass's 1,000-byte piece limit several times over; a run is cut to its
// drawn length wherever that falls, so half of the double-byte runs end in a
// lead byte without its trail.

void CorpusGenerator::separator(std::vector<unsigned char>& out) {
    // Bytes that are text under no settings and never the trail of a
    // double-byte character, so the run before ends where it was cut.
    constexpr unsigned char bytes[] = {0x00, 0x00, 0x00, 0x01, 0x0A, 0x0D, 0x1F, 0x7F, 0xFD, 0xFF};
    const std::size_t n = 1 + below(8);
    for (std::size_t k = 0; k < n; ++k) out.push_back(bytes[below(std::size(bytes))]);
}

void CorpusGenerator::double_byte_run(std::vector<unsigned char>& out) {
    // A chapter of dialogue with no line breaks; double-byte spaces and
    // middle dots (both excluded) between and inside its sentences.
    const std::size_t length = 500 + below(4501);
    const std::size_t start = out.size();
    while (out.size() - start < length) {
        sentence(out);
        if (below(3) == 0) append(out, "　");
        if (below(6) == 0) {
            append(out, pick(nouns, below(1000)));
            append(out, "・");
            append(out, pick(nouns, below(1000)));
        }
    }
    out.resize(start + length);
    separator(out);
}

void CorpusGenerator::single_byte_run(std::vector<unsigned char>& out) {
    // Script source and half-width katakana labels on one line, with the
    // excluded two-character escape \n in it.
    const std::size_t length = 300 + below(4701);
    const std::size_t start = out.size();
    while (out.size() - start < length) {
        const std::size_t roll = below(10);
        if (roll < 5) append(out, pick(script_words, below(1000)));
        else if (roll < 8) append(out, pick(halfwidth_words, below(1000)));
        else if (roll < 9) append(out, "\\n");
        else append(out, std::to_string(below(100000)));
    }
    out.resize(start + length);
    separator(out);
}

void CorpusGenerator::mixed_width_run(std::vector<unsigned char>& out) {
    // Single- and double-byte characters interleaved, so pieces end on both
    // parities; the exempt strings and excluded pairs occur inside.
    const std::size_t length = 500 + below(4501);
    const std::size_t start = out.size();
    while (out.size() - start < length) {
        switch (below(8)) {
        case 0: append(out, pick(script_words, below(1000))); break;
        case 1: append(out, pick(halfwidth_words, below(1000))); break;
        case 2: append(out, pick(nouns, below(1000))); break;
        case 3: append(out, pick(particles, below(1000))); break;
        case 4: append(out, pick(endings, below(1000))); break;
        case 5: append(out, std::to_string(below(10000))); break;
        case 6: append(out, pick(long_runs_exempt, below(1000))); break;
        default: append(out, pick(long_runs_excluded, below(1000))); break;
        }
    }
    out.resize(start + length);
    separator(out);
}

void CorpusGenerator::label_table(std::vector<unsigned char>& out) {
    // uint32 count, then zero-terminated menu labels padded to 4 bytes: the
    // exempt strings alone, inside a short label, split by an excluded pair;
    // plain labels below, at and just over the minimum length.
    const std::size_t count = 8 + below(56);
    append_le(out, count, 4);
    for (std::size_t k = 0; k < count; ++k) {
        const std::string_view exempt = pick(long_runs_exempt, below(1000));
        switch (below(6)) {
        case 0: append(out, exempt); break;
        case 1:
            out.push_back('*');
            append(out, exempt);
            break;
        case 2:
            // Every exempt string starts with one double-byte or two
            // single-byte characters.
            append(out, exempt.substr(0, 2));
            append(out, pick(long_runs_excluded, below(1000)));
            append(out, exempt.substr(2));
            break;
        case 3: append(out, pick(nouns, below(1000))); break;
        case 4: {
            const std::size_t n = long_runs_min_length - 1 + below(3);
            for (std::size_t c = 0; c < n; ++c)
                out.push_back(static_cast<unsigned char>('A' + below(26)));
            break;
        }
        default:
            append(out, pick(halfwidth_words, below(1000)));
            append(out, pick(particles, below(1000)));
            break;
        }
        out.push_back(0);
        while (out.size() % 4 != 0) out.push_back(0);
    }
}

std::vector<unsigned char> make_corpus(CorpusKind kind, std::size_t size, std::uint64_t seed) {
    CorpusGenerator gen(kind, seed);
    std::vector<unsigned char> out;
    out.reserve(size + 64 * 1024);
    while (out.size() < size) gen.next_block(out);
    out.resize(size);
    return out;
}

bool write_corpus(CorpusKind kind, std::uint64_t size, const char* path, std::uint64_t seed) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "wb"), std::fclose);
    if (!file) return false;
    CorpusGenerator gen(kind, seed);
    std::vector<unsigned char> block;
    std::uint64_t left = size;
    while (left > 0) {
        block.clear();
        while (block.size() < (std::size_t{1} << 20)) gen.next_block(block);
        const std::size_t n = left < block.size() ? static_cast<std::size_t>(left) : block.size();
        if (std::fwrite(block.data(), 1, n, file.get()) != n) return false;
        left -= n;
    }
    return std::fclose(file.release()) == 0;
}

}  // namespace kurvane::bench
