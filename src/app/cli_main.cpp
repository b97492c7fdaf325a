// Entry point of the kurvane command.
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cwchar>
#include <span>
#include <string>
#include <vector>

#include "app/cli_options.h"
#include "app/cli_dispatch.h"
#include "os/file_names.h"
#include "os/file_replacement.h"
#include "text/text_encoding.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

// The signals that end the program, each of which must take no half-written
// temporary file with it.
constexpr int stopping_signals[] = {
    SIGINT, SIGTERM,
#ifdef SIGHUP
    SIGHUP,
#endif
};

void remove_temporary_file(const char* path) {
#ifdef _WIN32
    kurvane::os::remove_file(path);  // the path is UTF-8
#else
    ::unlink(path);  // async-signal-safe, unlike remove()
#endif
}

void stop_on_signal(int signal_number) {
    kurvane::stop_writing_files(remove_temporary_file);
#ifdef _WIN32
    // Console Ctrl-C runs this on a thread of its own while the extraction
    // goes on, and a file that is open cannot be removed: the extraction
    // stops at its next read or write and removes its own temporary file.
    constexpr int wait_ms = 10;
    constexpr int wait_limit_ms = 5000;
    for (int waited = 0; waited < wait_limit_ms && kurvane::temporary_files_pending(); waited += wait_ms) {
        Sleep(wait_ms);
    }
#endif
    // Then the signal does what it would have done without this handler.
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

// A signal the program was started with ignored (nohup, a background job)
// stays ignored.
void handle_stopping_signals() {
    for (const int signal_number : stopping_signals) {
        if (std::signal(signal_number, stop_on_signal) == SIG_IGN) std::signal(signal_number, SIG_IGN);
    }
}

int run_program(std::span<const char* const> args) {
    // The locale decides the encoding the Japanese messages are printed in.
    std::setlocale(LC_ALL, "");
    const kurvane::cli::Language language = kurvane::cli::message_language();
    const kurvane::cli::Options options = kurvane::cli::parse_options(args, language);
#ifdef _WIN32
    // Extracted text on standard output must keep its CR LF bytes as they
    // are, and data read from standard input every byte.
    if (options.action == kurvane::cli::Action::extract_files) {
        _setmode(_fileno(stdout), _O_BINARY);
        _setmode(_fileno(stdin), _O_BINARY);
    }
#endif
    handle_stopping_signals();
    return kurvane::cli::run(options, stdout, stderr, language);
}

}  // namespace

#ifdef _WIN32
// The arguments as UTF-16 (linked with -municode), so that every file name
// arrives whole; the program takes them as UTF-8.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> texts;
    for (int i = 1; i < argc; ++i) {
        texts.push_back(kurvane::text::utf16_to_utf8(
            std::u16string_view(reinterpret_cast<const char16_t*>(argv[i]), std::wcslen(argv[i]))));
    }
    std::vector<const char*> args;
    for (const std::string& text : texts) args.push_back(text.c_str());
    return run_program(args);
}
#else
int main(int argc, char** argv) {
    return run_program(std::span<const char* const>(argv + 1, static_cast<std::size_t>(argc > 0 ? argc - 1 : 0)));
}
#endif
