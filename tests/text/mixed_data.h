// Input for the scan sweeps: characters of every kind in one encoding and
// random bytes between them.
#pragma once

#include <random>
#include <string>

#include "iconv_util.h"

namespace kurvane::test {

// Data made of characters of every kind in the encoding (Japanese text,
// ASCII, controls, zero padding) and random bytes.
inline Bytes mixed_data(const char* iconv_name, std::mt19937& rng) {
    const std::u32string pieces[] = {U"テキストの行", U"漢字", U"abc 12", U"\t\r\n", U"ｶﾀｶﾅ", U"丂", U"Ωж", U"𠀋😀"};
    test::Iconv encode(iconv_name, "UTF-32LE");
    Bytes out;
    for (int k = 0; k < 400; ++k) {
        const auto pick = static_cast<unsigned>(rng() % 11);
        if (pick < 8) {
            Bytes piece;
            encode.all(test::utf32le(pieces[pick]), piece);
            out.insert(out.end(), piece.begin(), piece.end());
        } else if (pick == 8) {
            out.insert(out.end(), rng() % 5, 0);
        } else {
            for (auto n = rng() % 4; n > 0; --n) out.push_back(static_cast<unsigned char>(rng()));
        }
    }
    return out;
}

}  // namespace kurvane::test
