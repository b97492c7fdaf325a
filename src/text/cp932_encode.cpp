#include "text/cp932_encode.h"

#include "text/text_encoding.h"

namespace kurvane::text {

std::size_t Cp932Encoder::put(char32_t u, unsigned char* dst) {
    // The engine's converter has the one inverse table of code page 932.
    const int code = kurvane::text::cp932_code(u);
    if (code < 0) {
        ++substituted_;
        dst[0] = cp932_substitute;
        return 1;
    }
    if (code <= 0xFF) {
        dst[0] = static_cast<unsigned char>(code);
        return 1;
    }
    dst[0] = static_cast<unsigned char>(code >> 8);
    dst[1] = static_cast<unsigned char>(code & 0xFF);
    return 2;
}

void Cp932Encoder::append(std::u32string_view text, std::string& out) {
    unsigned char bytes[cp932_max_char_bytes];
    for (const char32_t u : text) {
        const std::size_t n = put(u, bytes);
        out.append(reinterpret_cast<const char*>(bytes), n);
    }
}

}  // namespace kurvane::text
