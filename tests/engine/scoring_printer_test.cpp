// Narrow literals here are code page 932 bytes (see cp932.h).
#include "engine/print/scoring_printer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "cp932.h"
#include "engine/classes/text_score.h"
#include "engine/drive/pass.h"
#include "engine/scan/split_bytes.h"
#include "engine/classes/scan_table.h"
#include "pass_test_util.h"
#include "reference_extract.h"

namespace kurvane {
namespace {

using test::Bytes;
using test::bytes;
using test::ReferenceWrite;

// What the text filter writes, from the plain reference pass's writes (over
// an input without excluded pairs, so a write's bytes lie contiguous): each
// run is scored whole, with up to max_lead_in input bytes before it that
// follow the last byte no character holds and the last byte written, or a
// window of score_window bytes at a time; the kept part becomes a write of
// its own, on the line before when it starts where that one stopped.
class FilterReference {
public:
    FilterReference(std::span<const unsigned char> data, const ExtractionSettings& settings,
                    const OutputFormat& format)
        : data_(data), min_length_(settings.min_length), lines_(settings.auto_newline != 0),
          format_(format) {
        detail::ScanTable table;
        detail::build_scan_table(settings, table);
        detail::find_split_bytes(table, split_);
    }

    std::vector<ReferenceWrite> filter(const std::vector<ReferenceWrite>& writes) {
        for (std::size_t k = 0; k < writes.size(); ++k) {
            const ReferenceWrite& w = writes[k];
            EXPECT_EQ(w.bytes.size(), w.end - w.at);
            if (!w.continues) {
                std::uint64_t from = w.start;
                while (from > 0 && w.start - from < max_lead_in && from > printed_end_ &&
                       !split_[data_[from - 1]])
                    --from;
                window_.assign(data_.begin() + static_cast<std::ptrdiff_t>(from),
                               data_.begin() + static_cast<std::ptrdiff_t>(w.start));
                window_at_ = from;
                window_lead_ = static_cast<std::size_t>(w.start - from);
            }
            window_.insert(window_.end(), w.bytes.begin(), w.bytes.end());
            const bool run_ends = k + 1 == writes.size() || !writes[k + 1].continues;
            if (run_ends) {
                decide(true);
            } else if (window_.size() > detail::score_window) {
                decide(false);
            }
        }
        close_line();
        return std::move(out_);
    }

private:
    // A kept part leaves its line open for the next window or run to go on
    // with, when that starts where it stopped.
    void close_line() {
        if (open_) {
            out_.back().split = false;
            out_.back().line_break = lines_;
        }
        open_ = false;
    }

    void decide(bool run_ends) {
        const ScoredRun s = score_cp932(window_, window_lead_);
        const bool goes_on = open_ && s.keep_end > s.keep_begin && window_at_ + s.keep_begin == printed_end_;
        const auto part = std::span<const unsigned char>(window_).subspan(s.keep_begin, s.keep_end - s.keep_begin);
        const bool keep = s.kept(format_.text.min_score) &&
                          (goes_on || (s.keep_end - s.keep_begin >= min_length_ && cp932_holds_word(part)));
        if (!(keep && goes_on)) close_line();
        if (keep) {
            ReferenceWrite w;
            w.at = window_at_ + s.keep_begin;
            w.end = window_at_ + s.keep_end;
            w.start = w.at;  // with line breaks off every unit has its prefix
            w.continues = goes_on;
            std::string text;
            if (!goes_on && format_.text.show_score && !format_.json) {
                char prefix[8];
                std::snprintf(prefix, sizeof prefix, "%3d ", s.score);
                text = prefix;
            }
            w.score = goes_on ? -1 : s.score;
            text.append(reinterpret_cast<const char*>(window_.data()) + s.keep_begin,
                        s.keep_end - s.keep_begin);
            w.bytes.assign(text.begin(), text.end());
            open_ = true;
            w.split = true;
            w.line_break = false;
            printed_end_ = w.end;
            out_.push_back(std::move(w));
        }
        if (run_ends) return;
        // The window's last bytes lead in to the next.
        const std::uint64_t end = window_at_ + window_.size();
        const std::uint64_t from = std::max({printed_end_, end - std::min<std::uint64_t>(end, max_lead_in)});
        window_.assign(data_.begin() + static_cast<std::ptrdiff_t>(from),
                       data_.begin() + static_cast<std::ptrdiff_t>(end));
        window_at_ = from;
        window_lead_ = window_.size();
    }

    std::span<const unsigned char> data_;
    std::uint32_t min_length_;
    bool lines_;
    OutputFormat format_;
    std::array<bool, 256> split_{};
    std::vector<ReferenceWrite> out_;
    std::vector<unsigned char> window_;
    std::uint64_t window_at_ = 0;
    std::size_t window_lead_ = 0;  // bytes of the window before the run's
    std::uint64_t printed_end_ = 0;
    bool open_ = false;
};


Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes repeat(const Bytes& part, std::size_t times) {
    Bytes all;
    for (std::size_t k = 0; k < times; ++k) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Sentences among random bytes, as strings in a program's data lie, and
// runs long enough to be scored in windows.
Bytes mixed_input() {
    const Bytes sentences[] = {
        bytes("今日は天気がいいので、公園まで散歩に行きました。"),
        bytes("設定ファイル（%s）を読み込めませんでした。"),
        bytes("次のステージへ進みますか？"),
        bytes("Press START"),
        bytes("ＨＰが０になりました"),
    };
    std::mt19937 rng(7);
    Bytes d;
    for (int k = 0; k < 120; ++k) {
        for (std::size_t n = 1 + rng() % 60; n > 0; --n) d.push_back(static_cast<unsigned char>(rng()));
        const Bytes& s = sentences[rng() % std::size(sentences)];
        d.insert(d.end(), s.begin(), s.end());
    }
    d.push_back(0);
    d = cat({d, repeat(sentences[0], 400), bytes("\x01"), repeat(bytes("ab"), 9000), bytes("\x01"),
             // A run that ends right after a split, then data.
             repeat(bytes("日本語の"), 250), bytes("日本"), bytes("\x01\x02"), repeat(sentences[3], 10),
             // The same, ended by a byte that may be a trail, then more runs.
             repeat(bytes("日本語の"), 250), bytes("日本\x80\x88"), sentences[0], bytes("\x01"),
             bytes("\x01"),
             repeat(cat({sentences[1], bytes("\x88")}), 300)});
    return d;
}

struct Filtered {
    const char* name;
    ExtractionSettings settings;
};

std::vector<Filtered> filter_shapes() {
    ExtractionSettings text;  // the classes --text reads
    text.half_digits = text.half_upper = text.half_lower = text.half_symbols = 1;
    ExtractionSettings longer = text;
    longer.min_length = 20;
    ExtractionSettings joined = text;
    joined.auto_newline = 0;
    ExtractionSettings xored = text;
    xored.xor_value = 0xA5;
    return {{"text classes", text}, {"min_length 20", longer}, {"no line break", joined},
            {"xor", xored}};
}

// The filter writes what the reference says in every format, with every
// driver, thread count and piece size: the same bytes for every -j.
TEST(scoring_printer, every_format_and_thread_count_matches_the_reference) {
    const Bytes plain = mixed_input();
    std::vector<OutputFormat> formats(6);
    formats[1].encoding = TextEncoding::utf8;
    formats[1].eol = LineEnd::lf;
    formats[1].radix = OffsetRadix::decimal;
    formats[2].radix = OffsetRadix::hex;
    formats[2].file_name = "a.dat";
    formats[3].json = true;
    formats[4].text.show_score = true;
    formats[4].radix = OffsetRadix::octal;
    formats[5].text.min_score = 90;
    formats[5].json = true;
    formats[5].file_name = "b.dat";
    const std::size_t pieces[] = {1, 3, 64, 1001, detail::default_piece_size};
    const unsigned thread_counts[] = {1, 2, 3, 8};
    std::size_t case_number = 0;
    for (const Filtered& shape : filter_shapes()) {
        Bytes data = plain;
        for (auto& c : data) c = static_cast<unsigned char>(c ^ (shape.settings.xor_value & 0xFF));
        ExtractionSettings scan = shape.settings;
        scan.min_length = 1;
        std::vector<ReferenceWrite> writes;
        test::reference_extract(data, scan, &writes);
        for (OutputFormat format : formats) {
            format.text.on = true;
            FilterReference reference(plain, shape.settings, format);
            const Bytes want = test::formatted_reference(reference.filter(writes), format,
                                                         shape.settings.auto_newline != 0);
            ASSERT_FALSE(want.empty());
            for (const std::size_t piece : pieces) {
                ++case_number;
                detail::PassOptions options{piece, 1 + case_number * 37 % 3000};
                options.format = &format;
                options.threads = piece < 64 ? 1 : thread_counts[case_number % std::size(thread_counts)];
                const test::Input input = test::both_inputs[case_number % 2];
                ExtractStatus st;
                const Bytes got = test::run_pass_through(input, data, shape.settings, options, &st);
                const auto diff = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
                ASSERT_TRUE(st.ok() && got == want)
                    << shape.name << ", json " << format.json << ", score " << format.text.show_score
                    << ", input " << test::name_of(input) << ", threads " << options.threads
                    << ", piece " << piece << ": " << got.size()
                    << " bytes, want " << want.size() << ", first difference at "
                    << (diff.first - got.begin()) << ": " << test::hex({diff.first, got.end()}, 40)
                    << " want " << test::hex({diff.second, want.end()}, 40);
            }
        }
    }
}

std::string filtered(const Bytes& data, const ExtractionSettings& settings, int min_score,
                     OffsetRadix radix = OffsetRadix::none) {
    OutputFormat format;
    format.text.on = true;
    format.text.min_score = min_score;
    format.radix = radix;
    format.eol = LineEnd::lf;
    detail::PassOptions options;
    options.format = &format;
    const Bytes out = test::run_pass_through(test::Input::positional, data, settings, options);
    return std::string(out.begin(), out.end());
}

ExtractionSettings text_classes() { return filter_shapes().front().settings; }

// The noise beside a sentence is cut off, the offset is that of the first
// byte written, a sentence whose first character the scan read as the
// trail of a data byte comes back whole from the bytes before its run, a
// script's command before one is left out, and one the scan cut into two
// runs stays one line.
TEST(scoring_printer, trims_noise_and_takes_back_a_first_character) {
    const Bytes sentence = bytes("次のステージへ進みますか？");
    const Bytes cut = bytes("一部を入力として解釈した場合に、奇妙なことが起きるかもしれません");
    struct Case {
        const char* name;
        Bytes data;
        ExtractionSettings settings;
        std::string want;
    };
    ExtractionSettings double_only;
    ExtractionSettings long_min = text_classes();
    long_min.min_length = 100;
    const Case cases[] = {
        {"noise on both sides",
         cat({bytes("\x01" "L\x8bL$@\xe8\xa4"), sentence, bytes("\xfb\x40\xe0\xa3\x01")}),
         text_classes(), "      8 " + std::string(sentence.begin(), sentence.end()) + "\n"},
        // 0x88 0x8e is a kanji: the run the scan finds starts inside the
        // sentence's first character.
        {"a data lead byte before it", cat({bytes("\x01\x88"), sentence, bytes("\x01")}),
         double_only, "      2 " + std::string(sentence.begin(), sentence.end()) + "\n"},
        {"shorter than the minimum length", cat({bytes("\x01"), sentence, bytes("\x01")}), long_min,
         ""},
        {"a script command before it", cat({bytes("\x01\x10\x01" "@sel 263 "), sentence, bytes("\x01")}),
         text_classes(), "     12 " + std::string(sentence.begin(), sentence.end()) + "\n"},
        {"noise alone", bytes("\x01H\x8b\x4c$8H\x8b\x4c$@\x01\x90\x8b\x01"), text_classes(), ""},
        // 0x8d 0x88 and 0x94 0x82 are kanji: the scan reads the sentence
        // out of step and ends its run at 0xf0 (the trail of を), so the
        // sentence comes in two runs, and their kept parts meet.
        {"a sentence the scan cut in two", cat({bytes("\x01H\x8d"), cut, bytes("\x01")}), text_classes(),
         "      3 " + std::string(cut.begin(), cut.end()) + "\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(filtered(c.data, c.settings, default_min_score, OffsetRadix::decimal), c.want)
            << c.name;
}

// A run after a byte no character holds has no lead-in: whether it is
// kept or dropped, the line the run before left open ends there, and a run
// still being collected (a long one, or one that ended right after a
// split) is decided first.
TEST(scoring_printer, a_run_without_lead_in_ends_the_line_before) {
    const std::string first = "次のステージへ進みますか？";
    const std::string second = "設定ファイルを読み込めませんでした。";
    // Longer than a score window, so that it is scored in windows and is
    // still being collected when the next run starts.
    std::string long_run;
    while (long_run.size() <= detail::score_window) long_run += first;
    // Ends right after a split: a split takes the character that holds
    // its split_limit-th byte, so this run is one split and nothing after
    // it, and the printer still holds it when the next run starts.
    std::string split_run;
    while (split_run.size() < detail::split_limit) split_run += "日本語の";
    split_run += "日";
    const std::string noise = "H\x8bL$";
    struct Case {
        const char* name;
        std::string data;
        std::string want;
    };
    const auto at = [](std::size_t offset, const std::string& text) {
        char prefix[16];
        std::snprintf(prefix, sizeof prefix, "%7zu ", offset);
        return prefix + text + "\n";
    };
    const Case cases[] = {
        {"two kept runs", "\x01" + first + "\x01" + second, at(1, first) + at(2 + first.size(), second)},
        {"a dropped run between kept ones", "\x01" + first + "\x01" + noise + "\x01" + second,
         at(1, first) + at(3 + first.size() + noise.size(), second)},
        {"a long run before", "\x01" + long_run + "\x01" + second,
         at(1, long_run) + at(2 + long_run.size(), second)},
        {"a run that ended on a split before", split_run + "\x01" + second,
         at(0, split_run) + at(1 + split_run.size(), second)},
        {"a dropped run after a long one", long_run + "\x01" + noise, at(0, long_run)},
    };
    for (const Case& c : cases) {
        const Bytes data(c.data.begin(), c.data.end());
        for (const bool line_break : {true, false}) {
            ExtractionSettings settings = text_classes();
            settings.auto_newline = line_break ? 1 : 0;
            std::string want = c.want;
            if (!line_break) std::erase(want, '\n');
            EXPECT_EQ(filtered(data, settings, default_min_score, OffsetRadix::decimal), want)
                << c.name << ", line break " << line_break;
        }
    }
}

// Machine code with text among it: most runs are dismissed by a bound
// before they are read, and at every threshold the filter still writes
// just what scoring every run in full keeps. The pieces are instructions
// (ASCII and kanji side by side, as data reads), words, sentences and
// script lines, in random order.
TEST(scoring_printer, dismissing_runs_of_data_keeps_what_the_full_score_keeps) {
    const Bytes pieces[] = {
        bytes("H\x8bL$"), bytes("\x8b\x4c"), bytes("H\x89\xe5"), bytes("\xe8\xa4\x01"), bytes("@"),
        bytes("\x00"), bytes("\x01"), bytes("\x8b\x48\x8b\x4c\x8b\x50"), bytes("\x88\xea\x89\x5e"),
        bytes("宝箱"), bytes("設定"), bytes("@sel 12 "), bytes("[name=C2]"), bytes("次のステージへ進みますか？"),
        bytes("設定ファイル（%s）を読み込めませんでした。"), bytes("ｱｲｳ"), bytes("\x82"),
        // A word alone after a command, in a record of its own.
        bytes("\x01@sel 宝箱\x01"), bytes("\x00<w 40>設定\x00"),
    };
    std::mt19937 rng(11);
    Bytes data;
    for (int k = 0; k < 6000; ++k) {
        if (rng() % 4 == 0) {
            data.push_back(static_cast<unsigned char>(rng()));
        } else {
            const Bytes& p = pieces[rng() % std::size(pieces)];
            data.insert(data.end(), p.begin(), p.end());
        }
    }
    const ExtractionSettings settings = text_classes();
    std::vector<ReferenceWrite> writes;
    test::reference_extract(data, settings, &writes);
    for (const int min_score : {1, 20, default_min_score, 80, 100}) {
        OutputFormat format;
        format.text.on = true;
        format.text.min_score = min_score;
        format.text.show_score = true;
        format.radix = OffsetRadix::hex;
        FilterReference reference(data, settings, format);
        const Bytes want = test::formatted_reference(reference.filter(writes), format, true);
        detail::PassOptions options;
        options.format = &format;
        const Bytes got = test::run_pass_through(test::Input::positional, data, settings, options);
        const auto diff = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
        EXPECT_TRUE(got == want) << "min " << min_score << ": first difference at " << (diff.first - got.begin())
                                 << ": " << test::hex({diff.first, got.end()}, 40) << " want "
                                 << test::hex({diff.second, want.end()}, 40);
        if (min_score == default_min_score) {
            EXPECT_NE(std::count(want.begin(), want.end(), '\n'), 0);
        }
    }
}

// 0 keeps every run that has a part to keep, 100 only the surest text, and
// a higher threshold never keeps a line a lower one drops.
TEST(scoring_printer, min_score_edges) {
    const Bytes data = mixed_input();
    const auto lines = [&](int min_score) {
        const std::string out = filtered(data, text_classes(), min_score);
        return static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n'));
    };
    const std::size_t all = lines(0);
    const std::size_t by_default = lines(default_min_score);
    const std::size_t surest = lines(100);
    EXPECT_GT(all, by_default);
    EXPECT_GE(by_default, surest);
    EXPECT_GT(surest, 0u);
    std::vector<ReferenceWrite> writes;
    test::reference_extract(data, text_classes(), &writes);
    EXPECT_LE(all, writes.size());
}

}  // namespace
}  // namespace kurvane
