#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/print/format_printers.h"
#include "engine/print/utf8_kernel.h"
#include "pass_test_util.h"
#include "text/text_encoding.h"

namespace kurvane {
namespace {

using test::Bytes;
using test::hex;

// A kernel's UTF-8 for src as the printers call it, the bytes behind src
// holding double-byte characters, which must never be taken for text; with
// a guard behind the room the kernel may store into.
Bytes kernel_utf8(const detail::Utf8Kernel& kernel, const Bytes& src) {
    constexpr unsigned char guard = 0xA5;
    Bytes in = src;
    for (std::size_t k = 0; k < detail::utf8_block; ++k) in.push_back(k % 2 == 0 ? 0x82 : 0xA0);
    const std::size_t room = text::utf8_per_cp932_byte * src.size() + detail::utf8_store_overrun;
    Bytes out(room + 16, guard);
    const std::size_t n = detail::print_utf8_run(kernel, detail::utf8_tables(), in.data(), src.size(), out.data());
    for (std::size_t k = room; k < out.size(); ++k)
        EXPECT_EQ(out[k], guard) << isa_name(kernel.isa) << " stored past its room for " << hex(src);
    out.resize(n);
    return out;
}

Bytes text_utf8(const Bytes& src) {
    Bytes out(text::utf8_per_cp932_byte * src.size());
    out.resize(text::cp932_to_utf8(src.data(), src.size(), out.data()));
    return out;
}

// The kernels this processor runs, the scalar one first.
std::vector<const detail::Utf8Kernel*> utf8_kernels() {
    std::vector<const detail::Utf8Kernel*> kernels;
    for (const Isa isa : all_isas)
        if (const detail::Utf8Kernel* k = detail::utf8_kernel_for(isa)) kernels.push_back(k);
    return kernels;
}

TEST(format_printers, utf8_is_the_text_librarys_on_every_pair_at_every_place) {
    // Every pair behind 0 to 17 bytes of text and before a few more, so it
    // is in every lane of a block of 16 and of the last, short block, and
    // behind a lone single byte that shifts the pairs the blocks see.
    const Bytes filler = test::bytes("aかなカナ漢字ひらがなＡＢＣ123");
    ASSERT_GE(filler.size(), 18u);
    for (const detail::Utf8Kernel* kernel : utf8_kernels()) {
        for (unsigned lead = 0; lead < 256; ++lead) {
            for (unsigned trail = 0; trail < 256; ++trail) {
                for (std::size_t before = 0; before <= 17; ++before) {
                    Bytes src(filler.begin(), filler.begin() + static_cast<long>(before));
                    src.insert(src.end(), {static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)});
                    const std::size_t after = (before * 7 + trail) % 17;
                    src.insert(src.end(), filler.begin() + 1, filler.begin() + 1 + static_cast<long>(after));
                    ASSERT_EQ(kernel_utf8(*kernel, src), text_utf8(src)) << isa_name(kernel->isa) << " " << hex(src);
                }
            }
        }
    }
}

TEST(format_printers, utf8_is_the_text_librarys_on_mixed_text_of_every_length) {
    // Mixes of the shapes the blocks take or fall back on: runs of
    // double-byte characters of 3 and of 2 bytes (Greek), ASCII, katakana
    // of both halves (EF BD A1-BF and EF BE 80-9F), lone leads, bytes no
    // character starts with, a lead whose trail is ASCII, and the longest
    // run the scan hands over.
    std::mt19937 rng(5);
    const Bytes pieces[] = {test::bytes("漢字かなカナ"), test::bytes("ASCII text 0123 and more"),
                            test::bytes("ｱｲｳｴｵ"), test::bytes("ﾀﾞﾁﾂﾃﾄﾟﾝ"), test::bytes("αβγδεζ"), test::bytes("×÷あ±"), {0x82},
                            {0x80, 0xA0, 0xFD}, {0x81, 0x7F}, {0x88, 0x41},
                            test::bytes("\x82\xA0\x82\xA2\x82\xA4\x82\xA6\x82\xA8\x82\xA9\x82\xAB\x82\xAD")};
    for (const detail::Utf8Kernel* kernel : utf8_kernels()) {
        for (int round = 0; round < 20000; ++round) {
            Bytes src;
            const std::size_t limit = round % 100 == 0 ? detail::max_split : 80;
            while (src.size() < limit && rng() % 12 != 0) {
                const Bytes& p = pieces[rng() % std::size(pieces)];
                src.insert(src.end(), p.begin(), p.begin() + static_cast<long>(1 + rng() % p.size()));
            }
            src.resize(std::min(src.size(), limit));
            ASSERT_EQ(kernel_utf8(*kernel, src), text_utf8(src)) << isa_name(kernel->isa) << " " << hex(src);
        }
    }
}

// One unit of `text` at input offset `at` through a printer of `format`.
template <class Printer, class... Args>
Bytes print_one(const Bytes& text, std::uint64_t at, Args&&... args) {
    test::MemorySink sink;
    Printer printer(sink, 4096, std::forward<Args>(args)...);
    Bytes src = text;
    src.resize(detail::copy_extent(text.size()) + 64);  // readable past the text
    printer.begin_stretch();
    printer.text(src.data(), text.size(), at, true);
    printer.end(detail::End::line);
    printer.end_stretch();
    EXPECT_TRUE(printer.flush());
    return sink.bytes;
}

std::string as_string(const Bytes& b) { return std::string(b.begin(), b.end()); }

TEST(format_printers, offsets_in_every_radix_at_every_digit_count) {
    // Where the count of digits changes, in each radix, up to the largest
    // offset: the prefix is printf's "%7" then a space.
    std::vector<std::uint64_t> offsets = {0, UINT64_MAX, UINT64_MAX - 1};
    for (std::uint64_t p = 1; p != 0 && p <= UINT64_MAX / 2; p *= 2) {
        offsets.insert(offsets.end(), {p - 1, p});
    }
    for (std::uint64_t p = 10; p <= UINT64_MAX / 10; p *= 10) offsets.insert(offsets.end(), {p - 1, p});
    offsets.push_back(10000000000000000000u);
    offsets.push_back(9999999999999999999u);
    // And digits of every value in every place, below 2^32 where the
    // digits are made a word at a time and above.
    std::mt19937_64 rng(11);
    for (int k = 0; k < 20000; ++k) offsets.push_back(rng() >> (rng() % 64));
    const struct {
        OffsetRadix radix;
        const char* conversion;
    } radixes[] = {{OffsetRadix::decimal, "%7" PRIu64 " A\r\n"},
                   {OffsetRadix::octal, "%7" PRIo64 " A\r\n"},
                   {OffsetRadix::hex, "%7" PRIx64 " A\r\n"}};
    for (const auto& r : radixes) {
        OutputFormat format;
        format.radix = r.radix;
        for (const std::uint64_t at : offsets) {
            char want[64];
            std::snprintf(want, sizeof want, r.conversion, at);
            EXPECT_EQ(as_string(print_one<detail::TextPrinter>(test::bytes("A"), at, format, true)), want)
                << "offset " << at << " radix " << static_cast<int>(r.radix);
        }
    }
    // JSON offsets are decimal numbers of any count of digits, made one or
    // two words at a time below 10^16.
    OutputFormat json;
    json.json = true;
    for (const std::uint64_t at : offsets) {
        const std::string want = "{\"offset\":" + std::to_string(at) + ",\"text\":\"A\",\"length\":1}\n";
        EXPECT_EQ(as_string(print_one<detail::JsonPrinter>(test::bytes("A"), at, json)), want) << "offset " << at;
    }
}

TEST(format_printers, name_and_offset_prefixes_around_the_fixed_copy) {
    // Names whose prefix is of every size up to just over the size stored
    // in fixed copies (across the edges of the 16- and 32-byte blocks a
    // short one is copied in), with and without offsets, into a buffer
    // that fills after every few bytes and one that never does: each line
    // is the name, ": ", the offset as printf's "%7x " and the text.
    for (const std::size_t capacity : {std::size_t{5}, std::size_t{4096}}) {
        for (std::size_t name_size = 3;
             name_size <= detail::TextPrinter::max_short_name + 2; ++name_size) {
            for (const OffsetRadix radix : {OffsetRadix::none, OffsetRadix::hex}) {
                OutputFormat format;
                format.file_name = std::string(name_size - 2, 'n');
                format.radix = radix;
                test::MemorySink sink;
                detail::TextPrinter printer(sink, capacity, format, true);
                std::string want;
                printer.begin_stretch();
                for (const std::uint64_t at : {std::uint64_t{0}, std::uint64_t{0xABCDEF12}}) {
                    Bytes src = test::bytes("AB");
                    src.resize(detail::copy_extent(src.size()));
                    printer.text(src.data(), 2, at, true);
                    printer.end(detail::End::line);
                    char offset[32] = "";
                    if (radix == OffsetRadix::hex) std::snprintf(offset, sizeof offset, "%7" PRIx64 " ", at);
                    want += format.file_name + ": " + offset + "AB\r\n";
                }
                printer.end_stretch();
                ASSERT_TRUE(printer.flush());
                EXPECT_EQ(as_string(sink.bytes), want) << "name of " << name_size - 2 << " bytes, capacity " << capacity;
            }
        }
    }
}

// The units of a stretch as the scan hands them: text at an input offset,
// whether it goes on from a split, and how it ends.
struct Unit {
    const char* text;
    std::uint64_t at;
    bool first;
    detail::End end;
};

// The output of `units` through a printer of `format`, each unit handed
// over by text() and end(), or, where the scan would (a unit that does not
// go on from a split), by one unit() call through the cursor; with what
// the stretch's output tells the in-order writer.
template <class Printer, class... Args>
std::pair<std::string, detail::StretchOutput> print_units(const std::vector<Unit>& units, bool whole,
                                                          std::size_t capacity, Args&&... args) {
    test::MemorySink sink;
    Printer printer(sink, capacity, std::forward<Args>(args)...);
    printer.begin_stretch();
    for (const Unit& u : units) {
        Bytes src = test::bytes(u.text);
        const std::size_t n = src.size();
        src.resize(detail::copy_extent(n) + 64);  // readable past the text
        if (whole && u.first) {
            detail::OutputCursor o = printer.cursor();
            printer.unit(o, src.data(), n, u.at, u.first, u.end);
            printer.set_cursor(o);
        } else {
            printer.text(src.data(), n, u.at, u.first);
            printer.end(u.end);
        }
    }
    const detail::StretchOutput stretch = printer.stretch_output();
    printer.end_stretch();
    EXPECT_TRUE(printer.flush());
    return {as_string(sink.bytes), stretch};
}

TEST(format_printers, a_whole_unit_writes_what_its_text_and_end_write) {
    // Lines, runs without line breaks, a split and the run that goes on
    // from it, one that starts right behind a split (its line is open),
    // an empty unit, and text of every kind the UTF-8 kernel and the
    // escapes take; in every format, with names just under, at and over
    // the size stored in one copy, into buffers that fill every few bytes
    // and one that never does.
    using detail::End;
    const std::string long_text(detail::split_limit, 'L');
    const std::vector<std::vector<Unit>> stretches = {
        {{"A", 3, true, End::line}, {"漢字", 10, true, End::line}, {"ｶﾅ\"\\", 0x1234567, true, End::line}},
        {{"あ", 5, true, End::run}, {"", 9, true, End::run}, {"x\ty", 12, true, End::run}},
        {{long_text.c_str(), 100, true, End::split}, {"続き", 1100, false, End::line}, {"次", 2000, true, End::line}},
        {{long_text.c_str(), 7, true, End::split}, {"後ろ", 1007, true, End::line}, {"B", 0xFFFFFFFFF, true, End::line}},
    };
    std::vector<OutputFormat> formats;
    for (const std::size_t name_size :
         {std::size_t{0}, std::size_t{8}, detail::TextPrinter::max_short_name - 3, detail::TextPrinter::max_short_name - 1}) {
        for (const OffsetRadix radix : {OffsetRadix::none, OffsetRadix::decimal, OffsetRadix::hex}) {
            for (const bool utf8 : {false, true}) {
                OutputFormat f;
                f.file_name = std::string(name_size, 'n');
                f.radix = radix;
                f.encoding = utf8 ? TextEncoding::utf8 : TextEncoding::cp932;
                f.eol = utf8 ? LineEnd::lf : LineEnd::crlf;
                formats.push_back(f);
            }
        }
        OutputFormat json;
        json.json = true;
        json.file_name = std::string(name_size, 'j');  // the last two past the one copy of its start
        formats.push_back(json);
    }
    for (const OutputFormat& f : formats) {
        for (std::size_t k = 0; k < stretches.size(); ++k) {
            for (const std::size_t capacity : {std::size_t{7}, std::size_t{1} << 16}) {
                const bool lines = k != 1;
                const auto print = [&](bool whole) {
                    return f.json ? print_units<detail::JsonPrinter>(stretches[k], whole, capacity, f)
                                  : print_units<detail::TextPrinter>(stretches[k], whole, capacity, f, lines);
                };
                const auto [want, want_stretch] = print(false);
                const auto [got, got_stretch] = print(true);
                const std::string where = "stretch " + std::to_string(k) + " name of " +
                                          std::to_string(f.file_name.size()) + " radix " +
                                          std::to_string(static_cast<int>(f.radix)) + (f.json ? " json" : "") +
                                          " capacity " + std::to_string(capacity);
                EXPECT_EQ(got, want) << where;
                EXPECT_EQ(got_stretch.lead_prefix, want_stretch.lead_prefix) << where;
                EXPECT_EQ(got_stretch.wrote, want_stretch.wrote) << where;
                EXPECT_EQ(got_stretch.line_open, want_stretch.line_open) << where;
            }
        }
    }
}

TEST(format_printers, offset_columns_as_one_printers_offsets_rise_and_fall) {
    // One printer keeps the mask of an offset's leading columns from one
    // line to the next: offsets across every count of digits in hex and
    // decimal, up to past the 7 columns, rising as runs do, then falling
    // back; whole and in pieces, as printf's "%7x " or "%7d " each.
    std::vector<std::uint64_t> edges = {0, UINT64_MAX};
    for (const std::uint64_t base : {std::uint64_t{10}, std::uint64_t{16}})
        for (std::uint64_t p = base; p <= std::uint64_t{1} << 32; p *= base) edges.insert(edges.end(), {p - 2, p - 1, p, p + 1});
    std::sort(edges.begin(), edges.end());
    std::vector<std::uint64_t> offsets = edges;
    offsets.insert(offsets.end(), edges.rbegin(), edges.rend());
    const struct {
        OffsetRadix radix;
        const char* conversion;
    } radixes[] = {{OffsetRadix::decimal, "%7" PRIu64 " A\r\n"}, {OffsetRadix::hex, "%7" PRIx64 " A\r\n"}};
    for (const auto& r : radixes) {
        OutputFormat format;
        format.radix = r.radix;
        std::vector<Unit> units;
        std::string want;
        for (const std::uint64_t at : offsets) {
            units.push_back({"A", at, true, detail::End::line});
            char line[64];
            std::snprintf(line, sizeof line, r.conversion, at);
            want += line;
        }
        for (const bool whole : {true, false}) {
            const std::string got = print_units<detail::TextPrinter>(units, whole, 1 << 16, format, true).first;
            const auto differ = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
            const std::size_t line = want.rfind('\n', static_cast<std::size_t>(differ.second - want.begin())) + 1;
            EXPECT_TRUE(got == want) << "radix " << static_cast<int>(r.radix) << (whole ? " whole" : " in pieces")
                                     << ": want " << want.substr(line, 40) << " got " << got.substr(line, 40);
        }
    }
}

TEST(format_printers, json_numbers_as_one_printers_offsets_rise_and_fall) {
    // One printer keeps an offset's digits above its last four from one
    // object to the next: offsets across every count of digits, the
    // multiples of 10^4 and the largest offset whose digits it keeps,
    // rising as runs do, then falling back; and units of every length a
    // unit has, laid behind each other from just under a multiple of 10^4
    // and of 10^8 and under that largest offset; whole and in pieces, into
    // a buffer that fills every few bytes and one that never does.
    std::vector<std::uint64_t> edges;
    for (std::uint64_t p = 10; p <= UINT64_MAX / 10; p *= 10) edges.insert(edges.end(), {p - 2, p - 1, p, p + 1});
    for (const std::uint64_t k : {std::uint64_t{1}, std::uint64_t{2}, std::uint64_t{9999}, std::uint64_t{10000},
                                  std::uint64_t{12345678}, detail::OffsetDecimal::limit / 10000 - 1})
        edges.insert(edges.end(), {k * 10000 - 1, k * 10000, k * 10000 + 1});
    edges.insert(edges.end(), {0, 1, detail::OffsetDecimal::limit, detail::OffsetDecimal::limit + 1, UINT64_MAX});
    std::sort(edges.begin(), edges.end());
    std::vector<std::pair<std::uint64_t, std::size_t>> objects;  // offset, length
    for (const std::uint64_t at : edges) objects.emplace_back(at, 1);
    for (auto at = edges.rbegin(); at != edges.rend(); ++at) objects.emplace_back(*at, 2);
    for (const std::uint64_t start :
         {std::uint64_t{9000}, std::uint64_t{99999000}, detail::OffsetDecimal::limit - 5000}) {
        std::uint64_t at = start;
        for (std::size_t n = 0; n <= detail::max_split; ++n) {
            objects.emplace_back(at, n);
            at += n + 1;
        }
    }
    const std::string text(detail::max_split, 'a');
    std::vector<Unit> units;
    std::string want;
    for (const auto& [at, n] : objects) {
        units.push_back({text.c_str() + (text.size() - n), at, true, detail::End::line});
        want += "{\"offset\":" + std::to_string(at) + ",\"text\":\"" + text.substr(0, n) +
                "\",\"length\":" + std::to_string(n) + "}\n";
    }
    OutputFormat json;
    json.json = true;
    for (const bool whole : {true, false}) {
        for (const std::size_t capacity : {std::size_t{7}, std::size_t{1} << 24}) {
            const std::string got = print_units<detail::JsonPrinter>(units, whole, capacity, json).first;
            // The object that differs first, rather than the whole output.
            const auto differ = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
            const std::size_t line = want.rfind('\n', static_cast<std::size_t>(differ.second - want.begin())) + 1;
            EXPECT_TRUE(got == want) << (whole ? "whole" : "in pieces") << ", capacity " << capacity
                                     << ": want " << want.substr(line, 64) << " got " << got.substr(line, 64);
        }
    }
}

// What JSON makes of one byte inside a string.
std::string json_of(unsigned char c) {
    switch (c) {
    case '"': return "\\\"";
    case '\\': return "\\\\";
    case '\b': return "\\b";
    case '\f': return "\\f";
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
    default: break;
    }
    if (c >= 0x20) return std::string(1, static_cast<char>(c));
    char e[8];
    std::snprintf(e, sizeof e, "\\u%04x", c);
    return e;
}

TEST(format_printers, utf8_of_no_multibyte_character_holds_ascii) {
    // The JSON printer tests the input for bytes that need an escape
    // before the UTF-8: only single-byte characters below 0x80 may become
    // bytes below 0x80.
    const detail::Utf8Tables& t = detail::utf8_tables();
    const auto all_high = [](text::Utf8Entry e) {
        for (unsigned b = 0; b < (e >> text::utf8_length_shift); ++b)
            if ((e >> 8 * b & 0xFF) < 0x80) return false;
        return true;
    };
    for (unsigned code = 0; code < 0x10000; ++code)
        ASSERT_TRUE(t.pair[code] == 0 || all_high(t.pair[code])) << "pair " << std::hex << code;
    for (unsigned c = 0x80; c < 0x100; ++c) ASSERT_TRUE(all_high(t.single[c])) << "byte " << std::hex << c;
}

TEST(format_printers, json_escapes_exactly_the_bytes_that_need_it) {
    // Every ASCII byte at every place of a text of up to 40 bytes: in each
    // lane of the 16-byte tests and in the last, partial one.
    OutputFormat format;
    format.json = true;
    for (unsigned c = 0; c < 0x80; ++c) {
        for (std::size_t size = 1; size <= 40; ++size) {
            for (std::size_t at = 0; at < size; ++at) {
                Bytes text(size, 'a');
                text[at] = static_cast<unsigned char>(c);
                std::string escaped;
                for (unsigned char t : text) escaped += json_of(t);
                const std::string want = "{\"offset\":7,\"text\":\"" + escaped +
                                         "\",\"length\":" + std::to_string(size) + "}\n";
                ASSERT_EQ(as_string(print_one<detail::JsonPrinter>(text, 7, format)), want) << "byte " << c << " at " << at << " of " << size;
            }
        }
    }
    // A trail byte that is a backslash in ASCII is no backslash; the one
    // behind it is.
    EXPECT_EQ(as_string(print_one<detail::JsonPrinter>(test::bytes("表\\"), 7, format)),
              "{\"offset\":7,\"text\":\"\xE8\xA1\xA8\\\\\",\"length\":3}\n");
}

}  // namespace
}  // namespace kurvane
