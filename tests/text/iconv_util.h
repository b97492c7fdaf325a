// glibc's converter as the judge of the decoders.
#pragma once

#include <iconv.h>

#include <cerrno>
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "text/decoded.h"
#include "text/input_encoding.h"

namespace kurvane::test {

using Bytes = std::vector<unsigned char>;

inline std::string hex(const unsigned char* p, std::size_t n) {
    std::ostringstream out;
    for (std::size_t k = 0; k < n; ++k) out << (k ? " " : "") << std::hex << static_cast<unsigned>(p[k] >> 4) << (p[k] & 15u);
    return out.str();
}
inline std::string hex(const Bytes& b) { return hex(b.data(), b.size()); }

class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok()) iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // The first character of in[0, n) decoded to UTF-32 (the converter must
    // have been opened with "UTF-32LE" as its target), as the decoders report
    // one: length 0 when no character could be read from the start.
    text::Decoded first(const unsigned char* in, std::size_t n) {
        unsigned char out[4];
        char* in_p = reinterpret_cast<char*>(const_cast<unsigned char*>(in));
        char* out_p = reinterpret_cast<char*>(out);
        std::size_t in_left = n;
        std::size_t out_left = sizeof out;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        iconv(cd_, &in_p, &in_left, &out_p, &out_left);
        if (out_left != 0) return text::invalid_char;
        return {static_cast<char32_t>(out[0] | out[1] << 8 | out[2] << 16 | static_cast<std::uint32_t>(out[3]) << 24),
                static_cast<std::uint32_t>(n - in_left)};
    }

    // All of in converted; false when any of it does not convert.
    bool all(const Bytes& in, Bytes& out) {
        out.assign(in.size() * 4 + 16, 0);
        char* in_p = reinterpret_cast<char*>(const_cast<unsigned char*>(in.data()));
        char* out_p = reinterpret_cast<char*>(out.data());
        std::size_t in_left = in.size();
        std::size_t out_left = out.size();
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        const bool done = iconv(cd_, &in_p, &in_left, &out_p, &out_left) != static_cast<std::size_t>(-1);
        out.resize(out.size() - out_left);
        return done && in_left == 0;
    }

private:
    iconv_t cd_;
};

inline Bytes utf32le(const std::u32string& text) {
    Bytes out;
    for (const char32_t u : text)
        for (int k = 0; k < 4; ++k) out.push_back(static_cast<unsigned char>(u >> (8 * k)));
    return out;
}

// Whether a decoder reads the first character of in[0, n) as glibc does;
// a failure names the bytes and both answers.
inline bool same_first(Iconv& judge, text::Decoder decode, const unsigned char* in, std::size_t n) {
    const text::Decoded ours = decode(in, n);
    const text::Decoded theirs = judge.first(in, n);
    if (ours.length == theirs.length && ours.value == theirs.value) return true;
    ADD_FAILURE() << "bytes " << hex(in, n) << ": ours U+" << std::hex << static_cast<unsigned>(ours.value) << " length "
                  << ours.length << ", iconv U+" << static_cast<unsigned>(theirs.value) << " length " << theirs.length;
    return false;
}

// Decodes every character of a text glibc wrote in one go from UTF-32 and
// compares each with the text; false after the first difference.
inline bool decodes_back(text::Decoder decode, const Bytes& encoded, const std::u32string& text) {
    std::size_t pos = 0;
    for (const char32_t u : text) {
        const text::Decoded d = pos < encoded.size() ? decode(encoded.data() + pos, encoded.size() - pos) : text::invalid_char;
        if (d.value != u || d.length == 0) {
            ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned>(u) << " at byte " << std::dec << pos << " ("
                          << hex(encoded.data() + pos, std::min<std::size_t>(4, encoded.size() - pos)) << ") read as U+"
                          << std::hex << static_cast<unsigned>(d.value) << " length " << d.length;
            return false;
        }
        pos += d.length;
    }
    EXPECT_EQ(pos, encoded.size());
    return true;
}

}  // namespace kurvane::test
