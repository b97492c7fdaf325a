#include "app/terminal_text.h"

#include "text/text_encoding.h"

#ifndef _WIN32
#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <clocale>
#include <cstring>
#else
#include <io.h>
#include <windows.h>
#endif

namespace kurvane::cli {

#ifndef _WIN32

namespace {

// Malformed UTF-8 as '?', so that iconv sees only whole characters.
std::string well_formed(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) {
        const detail::Utf8Char c = detail::next_utf8(utf8, pos);
        if (c.value == detail::replacement_char && c.length == 1) {
            out += '?';
        } else {
            out.append(utf8.substr(pos, c.length));
        }
        pos += c.length;
    }
    return out;
}

bool is_utf8_codeset(std::string_view codeset) { return codeset == "UTF-8" || codeset == "utf8"; }

}  // namespace

std::string convert_utf8_to(std::string_view utf8, const char* to_codeset) {
    const std::string text = well_formed(utf8);
    if (is_utf8_codeset(to_codeset)) return text;
    const std::string target = std::string(to_codeset) + "//TRANSLIT";
    const iconv_t cd = iconv_open(target.c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return text;

    std::string out;
    char buffer[256];
    // iconv takes a non-const input pointer but does not write through it.
    char* in = const_cast<char*>(text.data());
    std::size_t in_left = text.size();
    while (in_left > 0) {
        char* next = buffer;
        std::size_t out_left = sizeof buffer;
        const std::size_t done = iconv(cd, &in, &in_left, &next, &out_left);
        out.append(buffer, static_cast<std::size_t>(next - buffer));
        if (done != static_cast<std::size_t>(-1)) continue;
        if (errno == E2BIG) continue;  // the buffer was full: go round again
        // EILSEQ: a character the target cannot show even transliterated.
        // Show it as '?' and go on after it.
        out += '?';
        const std::size_t skip = detail::next_utf8({in, in_left}, 0).length;
        in += skip;
        in_left -= skip;
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

std::string utf8_to_terminal(std::string_view utf8) {
    return convert_utf8_to(utf8, terminal_codeset().c_str());
}

bool terminal_to_utf8(std::string_view text, std::string& utf8) {
    utf8.clear();
    const std::string codeset = terminal_codeset();
    if (is_utf8_codeset(codeset)) {
        utf8.assign(text);
        return well_formed(text) == text;
    }
    const iconv_t cd = iconv_open("UTF-8", codeset.c_str());
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
        utf8.append(buffer, static_cast<std::size_t>(next - buffer));
        if (done == static_cast<std::size_t>(-1)) {
            ok = errno == E2BIG;
        } else if (in_left == 0 && next == buffer) {
            break;
        }
    }
    iconv_close(cd);
    return ok;
}

bool write_terminal(std::FILE* stream, std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
}

#else  // _WIN32: texts stay UTF-8 until write_terminal

std::string convert_utf8_to(std::string_view utf8, const char*) { return std::string(utf8); }

std::string terminal_codeset() { return "UTF-8"; }

std::string utf8_to_terminal(std::string_view utf8) { return std::string(utf8); }

bool terminal_to_utf8(std::string_view text, std::string& utf8) {
    // The arguments are read as UTF-16 and converted to UTF-8 by the entry point.
    utf8.assign(text);
    return true;
}

bool write_terminal(std::FILE* stream, std::string_view text) {
    const std::u16string text16 = detail::utf8_to_utf16(text);
    const std::wstring utf16(text16.begin(), text16.end());
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        std::fflush(stream);  // what was written before comes first
        DWORD written = 0;
        return WriteConsoleW(handle, utf16.data(), static_cast<DWORD>(utf16.size()), &written, nullptr) != 0;
    }
    UINT code_page = GetConsoleOutputCP();
    if (code_page == 0) code_page = GetACP();
    std::string bytes;
    if (!utf16.empty()) {
        const int n = WideCharToMultiByte(code_page, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr,
                                          0, nullptr, nullptr);
        bytes.resize(static_cast<std::size_t>(n));
        WideCharToMultiByte(code_page, 0, utf16.data(), static_cast<int>(utf16.size()), bytes.data(), n,
                            nullptr, nullptr);
    }
    return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
}

#endif

}  // namespace kurvane::cli
