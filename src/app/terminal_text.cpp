#include "app/terminal_text.h"

#ifndef _WIN32
#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <clocale>
#include <cstring>
#endif

namespace kurvane::cli {

#ifndef _WIN32

std::string convert_cp932_to(std::string_view cp932, const char* to_codeset) {
    const std::string target = std::string(to_codeset) + "//TRANSLIT";
    const iconv_t cd = iconv_open(target.c_str(), "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(cp932);

    std::string out;
    char buffer[256];
    // iconv takes a non-const input pointer but does not write through it.
    char* in = const_cast<char*>(cp932.data());
    std::size_t in_left = cp932.size();
    while (in_left > 0) {
        char* next = buffer;
        std::size_t out_left = sizeof buffer;
        const std::size_t done = iconv(cd, &in, &in_left, &next, &out_left);
        out.append(buffer, static_cast<std::size_t>(next - buffer));
        if (done != static_cast<std::size_t>(-1)) continue;
        if (errno == E2BIG) continue;  // the buffer was full: go round again
        // EILSEQ or EINVAL: a byte that does not begin a valid character (or a
        // lead byte at the very end). Show it as '?' and go on after it.
        out += '?';
        ++in;
        --in_left;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    char* next = buffer;
    std::size_t out_left = sizeof buffer;
    iconv(cd, nullptr, nullptr, &next, &out_left);  // flush any shift state
    out.append(buffer, static_cast<std::size_t>(next - buffer));
    iconv_close(cd);
    return out;
}

std::string terminal_codeset() {
    const char* locale = std::setlocale(LC_CTYPE, nullptr);
    const char* codeset = nl_langinfo(CODESET);
    const bool plain_c = locale == nullptr || std::strcmp(locale, "C") == 0 || std::strcmp(locale, "POSIX") == 0;
    if (plain_c || codeset == nullptr || *codeset == '\0' || std::strcmp(codeset, "ANSI_X3.4-1968") == 0) {
        return "UTF-8";
    }
    return codeset;
}

std::string cp932_to_terminal(std::string_view cp932) {
    return convert_cp932_to(cp932, terminal_codeset().c_str());
}

bool terminal_to_cp932(std::string_view text, std::string& cp932) {
    cp932.clear();
    const iconv_t cd = iconv_open("CP932", terminal_codeset().c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    char buffer[256];
    char* in = const_cast<char*>(text.data());  // iconv does not write through it
    std::size_t in_left = text.size();
    bool ok = true;
    while (ok) {
        char* next = buffer;
        std::size_t out_left = sizeof buffer;
        // A null input flushes the shift state once the text is used up.
        const std::size_t done = in_left > 0 ? iconv(cd, &in, &in_left, &next, &out_left)
                                             : iconv(cd, nullptr, nullptr, &next, &out_left);
        cp932.append(buffer, static_cast<std::size_t>(next - buffer));
        if (done == static_cast<std::size_t>(-1)) {
            ok = errno == E2BIG;
        } else if (in_left == 0 && next == buffer) {
            break;
        }
    }
    iconv_close(cd);
    return ok;
}

#else  // _WIN32: the console shows code page 932 as it is

std::string convert_cp932_to(std::string_view cp932, const char*) { return std::string(cp932); }

std::string terminal_codeset() { return "CP932"; }

std::string cp932_to_terminal(std::string_view cp932) { return std::string(cp932); }

bool terminal_to_cp932(std::string_view text, std::string& cp932) {
    cp932.assign(text);
    return true;
}

#endif

}  // namespace kurvane::cli
