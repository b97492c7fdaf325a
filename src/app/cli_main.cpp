// Entry point of the kurvane command.
#include <clocale>
#include <cstdio>
#include <span>

#include "app/cli_options.h"
#include "app/cli_run.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
    // The locale decides the encoding the Japanese messages are printed in.
    std::setlocale(LC_ALL, "");
    const std::span<const char* const> args(argv + 1, static_cast<std::size_t>(argc > 0 ? argc - 1 : 0));
    const kurvane::cli::Options options = kurvane::cli::parse_options(args);
#ifdef _WIN32
    // Extracted text on standard output must keep its CR LF bytes as they are.
    if (options.output && *options.output == kurvane::cli::standard_output_name) {
        _setmode(_fileno(stdout), _O_BINARY);
    }
#endif
    return kurvane::cli::run(options, stdout, stderr);
}
