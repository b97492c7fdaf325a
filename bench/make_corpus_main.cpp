// kurvane_make_corpus [--settings SETTINGS] KIND SIZE OUTPUT: writes a
// generated sample data file, and optionally the settings file it is meant
// to be extracted with.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "corpus.h"
#include "settings/settings_file.h"

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

// The settings record in setting.dat's layout, with an empty extension field.
bool write_settings(const kurvane::ExtractionSettings& settings, const char* path) {
    const std::vector<unsigned char> bytes = kurvane::encode_settings("", settings);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "wb"), std::fclose);
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
        return false;
    return std::fclose(file.release()) == 0;
}

int fail(const char* path) {
    std::perror(("kurvane_make_corpus: " + std::string(path)).c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* settings_path = nullptr;
    if (argc >= 3 && std::strcmp(argv[1], "--settings") == 0) {
        settings_path = argv[2];
        argc -= 2;
        argv += 2;
    }
    unsigned long long size = 0;
    const auto kind = argc == 4 ? kurvane::bench::corpus_kind_from_name(argv[1]) : std::nullopt;
    if (!kind || !parse_size(argv[2], size)) {
        std::fprintf(stderr,
                     "usage: kurvane_make_corpus [--settings SETTINGS]\n"
                     "                           mixed|text|binary|long-runs SIZE OUTPUT\n"
                     "  writes SIZE bytes (suffix K, M or G allowed) of generated game-like\n"
                     "  data with embedded Shift-JIS text to OUTPUT; same arguments, same bytes;\n"
                     "  with --settings, also the settings file (setting.dat layout) the kind\n"
                     "  is meant to be extracted with\n");
        return 2;
    }
    if (!kurvane::bench::write_corpus(*kind, size, argv[3])) return fail(argv[3]);
    if (settings_path && !write_settings(kurvane::bench::corpus_settings(*kind), settings_path))
        return fail(settings_path);
    return 0;
}
