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

namespace {

// Bytes of the control character at `pos`: 1 for a C0 control or DEL, 2 for
// a C1 control in UTF-8, 0 for anything else.
std::size_t control_length(std::string_view text, std::size_t pos) {
    const auto c = static_cast<unsigned char>(text[pos]);
    if (c < 0x20 || c == 0x7F) return 1;
    if (c == 0xC2 && pos + 1 < text.size()) {
        const auto next = static_cast<unsigned char>(text[pos + 1]);
        if (next >= 0x80 && next <= 0x9F) return 2;
    }
    return 0;
}

// One byte inside $'...': its C escape, or three octal digits.
void append_escaped(std::string& out, unsigned char c) {
    constexpr std::string_view letters = "abtnvfr";  // \a is 7 ... \r is 13
    if (c >= 7 && c <= 13) {
        out += '\\';
        out += letters[c - 7];
        return;
    }
    out += '\\';
    out += static_cast<char>('0' + ((c >> 6) & 7));
    out += static_cast<char>('0' + ((c >> 3) & 7));
    out += static_cast<char>('0' + (c & 7));
}

}  // namespace

std::string quoted_name(std::string_view name) {
    bool has_control = false;
    for (std::size_t pos = 0; pos < name.size() && !has_control; ++pos) has_control = control_length(name, pos) > 0;
    if (!has_control) return std::string(name);
    // Runs of ordinary bytes in '...' (a quote as '\''), runs of control
    // characters in $'...'.
    std::string out;
    for (std::size_t pos = 0; pos < name.size();) {
        if (control_length(name, pos) > 0) {
            out += "$'";
            for (std::size_t n; pos < name.size() && (n = control_length(name, pos)) > 0; pos += n) {
                for (std::size_t k = 0; k < n; ++k) append_escaped(out, static_cast<unsigned char>(name[pos + k]));
            }
            out += '\'';
            continue;
        }
        out += '\'';
        for (; pos < name.size() && control_length(name, pos) == 0; ++pos) {
            if (name[pos] == '\'') {
                out += "'\\''";
            } else {
                out += name[pos];
            }
        }
        out += '\'';
    }
    return out;
}

std::string escaped_text(std::string_view text) {
    std::string out;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t n = control_length(text, pos);
        if (n == 0) {
            out += text[pos++];
            continue;
        }
        for (std::size_t k = 0; k < n; ++k) append_escaped(out, static_cast<unsigned char>(text[pos + k]));
        pos += n;
    }
    return out;
}

#ifndef _WIN32

namespace {

// Malformed UTF-8 as '?', so that iconv sees only whole characters.
std::string well_formed(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) {
        const text::Utf8Char c = text::next_utf8(utf8, pos);
        if (c.value == text::replacement_char && c.length == 1) {
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
        const std::size_t skip = text::next_utf8({in, in_left}, 0).length;
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
    const std::u16string text16 = text::utf8_to_utf16(text);
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
