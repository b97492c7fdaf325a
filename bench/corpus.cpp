#include "corpus.h"

#include <cstdio>
#include <cstring>
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
    if (name == "mixed") return CorpusKind::mixed;
    if (name == "text") return CorpusKind::text;
    return std::nullopt;
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
    // a fifth text; the text corpus is about nine tenths text.
    const std::size_t roll = below(1000);
    if (kind_ == CorpusKind::mixed) {
        if (roll < 80) random_blob(out);
        else if (roll < 270) zero_padding(out);
        else if (roll < 600) record_table(out);
        else if (roll < 840) message_table(out);
        else script_text(out);
    } else {
        if (roll < 460) message_table(out);
        else if (roll < 920) script_text(out);
        else if (roll < 980) record_table(out);
        else zero_padding(out);
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
