// kurvane_make_corpus KIND SIZE OUTPUT: writes a generated sample data file.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "corpus.h"

namespace {

// "65536", "64K", "256M" or "1G".
bool parse_size(const char* text, unsigned long long& size) {
    char* end = nullptr;
    size = std::strtoull(text, &end, 10);
    if (end == text) return false;
    const std::string suffix(end);
    if (suffix == "K" || suffix == "k") size <<= 10;
    else if (suffix == "M" || suffix == "m") size <<= 20;
    else if (suffix == "G" || suffix == "g") size <<= 30;
    else if (!suffix.empty()) return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long long size = 0;
    const auto kind = argc == 4 ? kurvane::bench::corpus_kind_from_name(argv[1]) : std::nullopt;
    if (!kind || !parse_size(argv[2], size)) {
        std::fprintf(stderr,
                     "usage: kurvane_make_corpus mixed|text SIZE OUTPUT\n"
                     "  writes SIZE bytes (suffix K, M or G allowed) of generated game-like\n"
                     "  data with embedded Shift-JIS text to OUTPUT; same arguments, same bytes\n");
        return 2;
    }
    if (!kurvane::bench::write_corpus(*kind, size, argv[3])) {
        std::perror(("kurvane_make_corpus: " + std::string(argv[3])).c_str());
        return 1;
    }
    return 0;
}
