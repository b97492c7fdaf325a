#include "app/cli_xor_auto.h"

#include <sys/stat.h>

#include <cstdint>
#include <span>
#include <vector>

#include "app/terminal_text.h"
#include "engine/classes/xor_key.h"
#include "os/file_names.h"

namespace kurvane::cli {
namespace {

int seek_to(std::FILE* file, std::uint64_t offset) {
#ifdef _WIN32
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET);
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET);
#endif
}

}  // namespace

void say(std::FILE* err, const std::string& line) { write_terminal(err, "kurvane: " + line + "\n"); }

bool read_samples(std::FILE* file, std::vector<std::vector<unsigned char>>& samples) {
#ifdef _WIN32
    struct _stat64 info;
    if (_fstat64(_fileno(file), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) return false;
#else
    struct stat info;
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return false;
#endif
    for (const XorSample& plan : plan_xor_samples(static_cast<std::uint64_t>(info.st_size))) {
        std::vector<unsigned char> bytes(plan.size);
        // A file that shrank since its size was read gives what it has.
        const std::size_t got =
            seek_to(file, plan.offset) == 0 ? std::fread(bytes.data(), 1, bytes.size(), file) : 0;
        bytes.resize(got);
        samples.push_back(std::move(bytes));
    }
    return true;
}

void say_key(std::FILE* err, const std::string& input, bool found, unsigned char key, Language language) {
    if (found) {
        static constexpr char hex[] = "0123456789ABCDEF";
        const std::string digits{hex[key >> 4], hex[key & 0xF]};
        say(err, format_message(language, msg::xor_key_found, {input, digits}));
    } else {
        say(err, format_message(language, msg::xor_key_none, {input}));
    }
}

ExtractionSettings search_settings(const Options& options, const ExtractionSettings& settings) {
    ExtractionSettings search = settings;
    if (options.changes.class_steps.empty()) {
        for (std::size_t i = 0; i < class_count; ++i) {
            if (ascii_classes & ClassSet{1u} << i) search.*character_classes[i].flag = 1;
        }
    }
    return search;
}

bool choose_xor_key(const Options& options, const std::string& input, ExtractionSettings& settings,
                    std::FILE* err, Language language) {
    settings.xor_value = 0;
    if (input == standard_input_name) {
        say(err, format_message(language, msg::xor_auto_needs_file, {input}));
        return false;
    }
    std::FILE* file = os::open_file(input, "rb");
    if (file == nullptr) return true;
    std::vector<std::vector<unsigned char>> samples;
    const bool regular = read_samples(file, samples);
    std::fclose(file);
    if (!regular) {
        say(err, format_message(language, msg::xor_auto_needs_file, {input}));
        return false;
    }
    const std::vector<std::span<const unsigned char>> spans(samples.begin(), samples.end());
    const XorKeyChoice choice =
        find_xor_key(spans, search_settings(options, settings), options.format.text.min_score);
    if (choice.found) settings.xor_value = choice.key;
    say_key(err, input, choice.found, choice.key, language);
    return true;
}

}  // namespace kurvane::cli
