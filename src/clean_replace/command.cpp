#include "command.hpp"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "byte_reader.hpp"
#include "link_filter.hpp"

namespace clean_replace {

namespace {

constexpr const char *kUsage =
    "Usage: %s <merge_link_file> <input_ref_fastq_file> <input_merge_fastq_file> "
    "<output_fastq_file\n";
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

std::filesystem::file_type fileType(const char *path) {
    std::error_code ec;
    return std::filesystem::status(path, ec).type();
}

std::FILE *openTable(const char *path) {
    std::FILE *f = std::fopen(path, "r");
    if (f != nullptr) std::setvbuf(f, nullptr, _IONBF, 0);
    return f;
}

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

int runCommand(int argc, char **argv) {
    if (argc < 2) {
        std::printf(kUsage, argc > 0 && argv[0] != nullptr ? argv[0] : "clean_replace");
        return 1;
    }
    Settings settings;
    const char *path = tablePath(argc, argv, settings);
    File table_file(path != nullptr ? openTable(path) : nullptr);
    std::filesystem::file_type type =
        table_file ? fileType(path) : std::filesystem::file_type::none;
    if (!table_file || type == std::filesystem::file_type::directory) {
        std::puts(kCannotOpenForCount);
        return 1;
    }
    // A pipe or device cannot be read twice: it is filtered in one pass, without column storage.
    bool two_passes = type == std::filesystem::file_type::regular;
    unsigned long long lines = 0;
    if (two_passes) {
        ByteReader counter(streamReader(table_file.get()));
        lines = countTableLines(counter);
        table_file.reset();
    }
    LinkTable table;
    if (const char *message = table.allocate(lines)) {
        std::puts(message);
        return 1;
    }
    if (two_passes) {
        table_file.reset(openTable(path));
        if (!table_file) {
            std::puts(kCannotOpenForFilter);
            return 1;
        }
    }
    ByteReader in(streamReader(table_file.get()));
    return runFilterPass(in, stdout, stderr);
}

}  // namespace clean_replace
