#include "command.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "byte_reader.hpp"
#include "fast.h"
#include "input/input.hpp"
#include "link_filter.hpp"

namespace clean_replace {

namespace {

constexpr const char *kUsage =
    "Usage: %s <merge_link_file> <input_ref_fastq_file> <input_merge_fastq_file> "
    "<output_fastq_file\n";
constexpr const char *kVersion = "clean_replace " FAST_VERSION_STRING "\n";
constexpr const char *kCannotOpenForCount = "ERROR main:: reads group file ";
constexpr const char *kCannotOpenForFilter = "ERROR Memory_Allocate:: reads group file ";

// Read by no one, but set by their options as the command always has.
struct Settings {
    int fastq_flag = 1;
    int name_flag = 0;
};

// The table path: the argument after the options and their values, or nullptr when it lies
// beyond the arguments or an option lacks its value.
const char *tablePath(int argc, char **argv, Settings &settings) {
    int options = 0;
    for (int i = 1; i < argc; ++i) {
        int *setting = std::strcmp(argv[i], "-fastq") == 0  ? &settings.fastq_flag
                       : std::strcmp(argv[i], "-name") == 0 ? &settings.name_flag
                                                            : nullptr;
        if (setting == nullptr) continue;
        if (i + 1 >= argc) return nullptr;
        std::sscanf(argv[i + 1], "%d", setting);
        ++options;
        ++i;
    }
    int position = 1 + 2 * options;
    return position < argc ? argv[position] : nullptr;
}

// "--help" or "--version", whichever comes first anywhere on the command line, or nullptr.
const char *infoRequest(int argc, char **argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "--version") == 0)
            return argv[i];
    return nullptr;
}

// Prints the help or the version text; status 1 when standard output cannot take it.
int printInfo(const char *request, const char *program) {
    errno = 0;
    if (std::strcmp(request, "--help") == 0)
        std::printf(kHelpText, program);
    else
        std::fputs(kVersion, stdout);
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
    std::fprintf(stderr, "ERROR main:: cannot write output: %s\n",
                 std::strerror(errno != 0 ? errno : EIO));
    return 1;
}

}  // namespace

const char *const kHelpText =
    "Usage: %s [-fastq N] [-name N] <merge_link_file> [file ...]\n"
    "Prints every record of a merge-link table (a name and nine integers per record), but the\n"
    "first, that does not overlap the record before it in the same group.\n"
    "\n"
    "  -fastq N   sets the FASTQ setting (default 1); changes no output\n"
    "  -name N    sets the name setting (default 0); changes no output\n"
    "  --help     prints this help and exits\n"
    "  --version  prints the version and exits\n"
    "\n"
    "The table follows the options; \"-\" reads standard input. A table may be compressed with\n"
    "gzip, zstd, xz or bzip2, in a file or in a pipe. Arguments after the table are ignored.\n"
    "Output: each surviving record on standard output, one per line, as the name and nine\n"
    "integers with single blanks between them.\n"
    "Exit status: 0 when the whole table was read and the output written; 1 on any error\n"
    "(no argument, a table that cannot be opened or read, memory that cannot be had, a value\n"
    "out of range, output that cannot be written).\n";

int runCommand(int argc, char **argv) {
    const char *program = argc > 0 && argv[0] != nullptr ? argv[0] : "clean_replace";
    if (argc < 2) {
        std::printf(kUsage, program);
        return 1;
    }
    if (const char *request = infoRequest(argc, argv)) return printInfo(request, program);
    Settings settings;
    const char *path = tablePath(argc, argv, settings);
    auto table = std::make_unique<fast::Input>();
    if (path == nullptr || !table->open(path, true)) {
        std::puts(kCannotOpenForCount);
        return 1;
    }
    // A plain regular file is counted first, for the column storage. Anything else (standard
    // input as "-", a pipe, a device, compressed) is filtered in one pass, without column
    // storage.
    const bool two_passes = table->regular() && !table->compressed() && std::strcmp(path, "-") != 0;
    unsigned long long lines = 0;
    if (two_passes) {
        ByteReader counter(inputReader(*table));
        lines = countTableLines(counter);
        table.reset();
    }
    LinkTable storage;
    if (const char *message = storage.allocate(lines)) {
        std::puts(message);
        return 1;
    }
    if (two_passes) {
        table = std::make_unique<fast::Input>();
        if (!table->open(path)) {
            std::puts(kCannotOpenForFilter);
            return 1;
        }
    }
    // Decompressing then runs beside the filter, a few MiB ahead of it; BGZF blocks inflate on
    // a helper for each core the filter leaves.
    if (table->compressed()) table->readAhead(table->aheadFor(0, true));
    ByteReader in(inputReader(*table));
    return runFilterPass(in, stdout, stderr);
}

}  // namespace clean_replace
