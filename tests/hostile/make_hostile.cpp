// Writes the hostile input files shared by the command's and the decoders' tests into the
// directory named by argv[1]. Large files are made here rather than stored in the repository.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Hostile {
    const char *name;
    std::string bytes;
};

std::string repeat(const std::string &s, size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

// A literal with its embedded zero bytes.
template <size_t N>
std::string bytes(const char (&s)[N]) {
    return std::string(s, N - 1);
}

// A line of exactly `total` bytes including its line feed.
std::string lineOf(size_t total, char fill) {
    return std::string(total - 1, fill) + "\n";
}

std::vector<Hostile> hostileFiles() {
    std::vector<Hostile> v;
    std::string junk;
    unsigned x = 12345u;
    for (int i = 0; i < 65536; ++i) {
        x = x * 1103515245u + 12345u;
        junk += static_cast<char>((x >> 16) & 0xff);
    }
    v.push_back({"binary_junk", junk});
    v.push_back(
        {"nul_in_names_and_bases", bytes("@r\0a x\nAC\0GT\n+\nIIIII\n>f\0\nAC\0\n") +
                                       bytes("a\0b 1 2 3 4 5 6 7 8 9\nc 1 2 3 4\0 5 6 7 8 9\n")});
    v.push_back({"single_line_50mb", std::string(50u << 20, 'A')});
    v.push_back(
        {"line_1998", "a 1 7 3 4 5 10 20 8 9\n" + lineOf(1998, 'x') + "b 1 7 3 4 5 30 40 8 9\n"});
    v.push_back(
        {"line_1999", "a 1 7 3 4 5 10 20 8 9\n" + lineOf(1999, 'x') + "b 1 7 3 4 5 30 40 8 9\n"});
    v.push_back(
        {"line_2000", "a 1 7 3 4 5 10 20 8 9\n" + lineOf(2000, 'x') + "b 1 7 3 4 5 30 40 8 9\n"});
    v.push_back({"fastq_line_2000", "@r1\n" + lineOf(2000, 'A') + "+\n" + lineOf(2000, 'I')});
    v.push_back({"only_headers", repeat("@r1 c\n>f2\n", 1000)});
    v.push_back({"only_plus_lines", repeat("+\n", 1000)});
    v.push_back({"cr_only_line_ends",
                 "@r1\rACGT\r+\rIIII\r@r2\rAC\r+\rII\r"
                 "a 1 7 3 4 5 10 20 8 9\rb 1 7 3 4 5 15 40 8 9\r"});
    v.push_back({"ends_mid_header", "@r1 x\nACGT\n+\nIIII\n@r2 partial-hea"});
    v.push_back({"ends_on_marker", "@r1\nACGT\n+\nIIII\n@"});
    v.push_back({"ends_mid_plus_line", "@r1\nACGT\n+r1 and m"});
    v.push_back({"name_10000", "@" + std::string(10000, 'n') + " c\nACGT\n+\nIIII\n" +
                                   std::string(10000, 't') + " 1 7 3 4 5 10 20 8 9\n" +
                                   std::string(10000, 'u') + " 2 7 3 4 5 30 40 8 9\n"});
    v.push_back({"empty_lines_10m", std::string(10000000, '\n')});
    v.push_back({"empty_file", ""});
    return v;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output-directory>\n", argv[0]);
        return 2;
    }
    for (const Hostile &h : hostileFiles()) {
        std::string path = std::string(argv[1]) + "/" + h.name;
        std::FILE *f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(h.bytes.data(), 1, h.bytes.size(), f) != h.bytes.size() ||
            std::fclose(f) != 0) {
            std::fprintf(stderr, "make_hostile: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
