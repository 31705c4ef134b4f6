// extractFastq and decodeFastq: the layout count and its messages, records decoded into the
// caller's storage, and what reaches each stream.
#include <cstring>
#include <memory>

#include "toolkit_support.hpp"

using toolkit::capture;
using toolkit::show;
using toolkit::TextFile;
using namespace std::string_literals;

namespace {

struct LayoutCase {
    std::string text;
    int32_t count;
    std::string out;
};

TEST(ExtractFastq, CountsSegmentsAndReportsLayoutFaults) {
    const LayoutCase cases[] = {
        {"@a\nAC\n+\nII\n@b\nA\n+\nI\n", 2, ""},
        {">a\nACGT\nac\n>b\nGG\n", 2, ""},
        {">a\n>b\n>c\nAC\n", 2, ""},
        {"@a x>y@z\nAC\n+\nII\n", 3, ""},
        {"@a\nAC\n+\n@I\n@b\nA\n", 2, ""},
        {"@a\nACGT\n+\nII\n@II\nAC\n", 2, ""},
        {"@a\nAC\n+\n", 1, "Corrupt input file [3].\n"},
        {"@a\nAC\n+", 1, ""},
        {"@a\nAC\n+\nII\n@b\n", 2, "Corrupt input file [2].\n"},
        {"@a\nAC\n+\nII\n@b", 2, ""},
        {"@a\r\nAC\r\n+\r\nII\r\n@b\r\nA\r\n+\r\nI\r\n", 2, ""},
        {"@a\nAC\n+\nII\n+\n@b\n+\nx\n", 2, ""},
        {"", 0, "error: no data in file\n"},
    };
    for (const LayoutCase &c : cases) {
        SCOPED_TRACE(c.text);
        TextFile file(c.text);
        // Larger than the text and not cleared beyond clear_len, so both limits show.
        std::vector<char> buffer(c.text.size() + 8, 'Z');
        int32_t n = -1;
        const auto o =
            capture([&] { n = extractFastq(file.path(), buffer.data(), c.text.size() + 4); });
        EXPECT_EQ(c.count, n);
        EXPECT_EQ(c.out, o.out);
        EXPECT_EQ("", o.err);
        EXPECT_EQ(c.text, std::string(buffer.data(), c.text.size()));
        EXPECT_EQ(std::string(4, '\0') + "ZZZZ", std::string(buffer.data() + c.text.size(), 8));
    }
}

TEST(ExtractFastq, FirstByteMessageGoesToStandardErrorFirst) {
    TextFile file("xy\nAC\n");
    std::vector<char> buffer(7);
    int32_t n = -1;
    const auto merged = capture([&] { n = extractFastq(file.path(), buffer.data(), 0); }, true);
    EXPECT_EQ(0, n);
    EXPECT_EQ("Corrupt input file "s + file.path() + " *dp=>x< [1].\nerror: no segments found\n",
              merged.out);
    const auto split = capture([&] { n = extractFastq(file.path(), buffer.data(), 0); });
    EXPECT_EQ("error: no segments found\n", split.out);
    EXPECT_EQ("Corrupt input file "s + file.path() + " *dp=>x< [1].\n", split.err);
}

// Paths that cannot be decoded: missing, a directory, and a pipe (no size by seeking).
TEST(ExtractFastq, UnreadablePathsGiveZero) {
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    ASSERT_EQ(3, write(fds[1], "@a\n", 3));
    const std::string pipe_path = "/proc/self/fd/" + std::to_string(fds[0]);
    struct Case {
        std::string path, out;
    };
    std::vector<Case> cases = {
        {testing::TempDir() + "toolkit_missing", "error: file not found\n"},
        {testing::TempDir(), "error: file not found\n"},
        {pipe_path, "error: file size unknown (not a seekable file)\n"},
    };
    std::vector<std::unique_ptr<TextFile>> compressed;
    for (const fast::Format format : toolkit::kFormats) {
        compressed.emplace_back(new TextFile(fast_test::compressed(format, "@a\nA\n+\nI\n")));
        cases.push_back(
            {compressed.back()->path(), toolkit::pairRefusal(compressed.back()->path(), format)});
    }
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        char buffer[16] = {};
        int32_t n = -1;
        const auto o = capture([&] { n = extractFastq(c.path.c_str(), buffer, sizeof buffer); });
        EXPECT_EQ(0, n);
        EXPECT_EQ(c.out, o.out);
    }
    close(fds[0]);
    close(fds[1]);
}

struct DecodeCase {
    const char *what;
    std::string text;
    std::vector<std::string> records;
    std::string out = "";
    std::string err = "";
};

std::string warning(const char *name, int bases, int quals) {
    char s[200];
    std::snprintf(s, sizeof s, "Warning: %-20.20s has %d bases and %d quals, skipping entry\n",
                  name, bases, quals);
    return s;
}

const std::vector<DecodeCase> kDecodeCases = {
    {"two fastq entries, the second over two lines",
     "@r1 c1\nACGT\n+\nIIII\n@r2\nAC\nGT\n+r2\n!#%'\n",
     {"r1|c1|ACGT|40,40,40,40", "r2|-|ACGT|0,2,4,6"}},
    {"fasta file; lines after + are passed over",
     ">s1 desc x\nACGT\nac\n>s2\n@GG\n+\nTT\n>s3\nA",
     {"s1|desc x|ACGTac|-", "s2|-|@GG|-", "s3|-|A|-"}},
    {"a tab ends the name; a trailing blank gives an empty comment",
     "@r1\tx y\nA\n+\nI\n@r2 \nA\n+\nI\n",
     {"r1|x y|A|40", "r2||A|40"}},
    {"numeric values keep two digits", "@a\nAC\n+\n0123 100 \n", {"a|-|AC|12,10"}},
    {"numeric values beyond the bases are not read", "@a\nAC\n+\n10 20 30\n", {"a|-|AC|10,20"}},
    {"the last number of a line counts",
     "@a\nACG\n+\n40 40 40\n@b\nA\n+\nI\n",
     {"a|-|ACG|40,40,40", "b|-|A|40"}},
    {"the last number before a > header counts; > is fastq here",
     "@a\nACG\n+\n40 7 123\n>b\nA\n+\n#\n",
     {"a|-|ACG|40,7,12", "b|-|A|2"}},
    {"phred too short before @",
     "@a\nACGT\n+\nII\n@b\nA\n+\nI\n",
     {"b|-|A|40"},
     "",
     warning("a", 4, 2)},
    {"phred too short before >",
     "@a\nACGT\n+\nII\n>b\nA\n+\nI\n",
     {"b|-|A|40"},
     "",
     warning("a", 4, 2)},
    {"one quality line per entry",
     "@a\nACGT\n+\nII\nII\n@b\nA\n+\nI\n",
     {"b|-|A|40"},
     "",
     warning("a", 4, 2)},
    {"empty quality line", "@a\nAC\n+\n\n@b\nA\n+\nI\n", {"b|-|A|40"}, "", warning("a", 2, 0)},
    {"window ends with the first quality line",
     "@a\nAC\n+\nII\n@b x\nA\n+\nI\n",
     {"a|-|AC|40,40", "b|x|A|40"}},
    {"the last counted entry is checked too",
     "@a\nACGT\n+\nIIII\n@b\nAC\n",
     {"a|-|ACGT|40,40,40,40"},
     "",
     warning("b", 2, 0)},
    {"an entry without + takes the next header as bases",
     "@a\nACGT\n@b\nAC\n+\nII\n@c\nA\n+\nI\n",
     {"c|-|A|40"},
     "",
     warning("a", 8, 2)},
    {"header line feed as the last byte",
     "@a\nAC\n+\nII\n@b\n",
     {"a|-|AC|40,40", "b|-||"},
     "Corrupt input file [6].\n"},
    {"+ line feed as the last byte",
     "@a\nAC\n+\n",
     {},
     "Corrupt input file [7].\n",
     warning("a", 2, 0)},
    {"+ line without line feed", "@a\nAC\n+", {}, "", warning("a", 2, 0)},
    {"header without line feed", "@a\nAC\n+\nII\n@b partial", {"a|-|AC|40,40", "b|partial||"}},
    {"mark as the last byte", "@a\nA\n+\nI\n@", {"a|-|A|40", "|-||"}},
    {"the segment count limits the records", ">a\n>b\nACGT\n", {"a|-||-"}},
    {"@ headers in a fasta file are bases", ">a\nAC\n@b\nGG\n", {"a|-|AC@bGG|-"}},
    {"no segment", "xx\n@a\nAC\n+\nII\n", {}, "Corrupt input file [5].\nno segments found\n"},
    {"crlf line ends",
     "@r1\r\nAC\r\n+\r\nII\r\n@r2 c\r\nA\r\n+\r\nI\r\n",
     {"r1\r|-|AC\r|40,40,-20", "r2|c\r|A\r|40,-20"}},
    {"a zero byte ends the bases",
     "@a\nAC\0G\n+\nII\n@b\nA\n+\nI\n"s,
     {"b|-|A|40"},
     "",
     warning("a", 2, 0)},
    {"empty file", "", {}, "error decodeFastq: no data in file\n"},
};

TEST(DecodeFastq, RecordsAndMessages) {
    for (const DecodeCase &c : kDecodeCases) {
        SCOPED_TRACE(c.what);
        TextFile file(c.text);
        std::vector<char> buffer(c.text.size() + 1, 'Z');
        std::vector<SeqEntry> records(4);
        for (SeqEntry &r : records) r.aux = 99;
        int32_t count = -1;
        int64_t total = -1;
        SeqEntry *result = nullptr;
        const auto o = capture([&] {
            result = decodeFastq(file.path(), &count, &total, buffer.data(), buffer.size(),
                                 records.data());
        });
        EXPECT_EQ(records.data(), result);
        EXPECT_EQ(c.records, show(records.data(), count));
        EXPECT_EQ(c.out, o.out);
        EXPECT_EQ(c.err, o.err);
        int64_t bases = 0;
        for (int32_t i = 0; i < count; ++i) {
            bases += records[i].length;
            EXPECT_EQ(records[i].is_fasta, c.text[0] == '>');
        }
        EXPECT_EQ(bases, total);
        for (const SeqEntry &r : records) EXPECT_EQ(99, r.aux);
        if (count > 0) {
            EXPECT_EQ(buffer.data(), records[0].name);
        }
    }
}

TEST(DecodeFastq, EntryWithoutPlusLineHasValuesAtBufferStart) {
    TextFile file("@a\nAC\n+\nII\n@b\n");
    std::vector<char> buffer(16);
    SeqEntry records[2] = {};
    int32_t count = 0;
    int64_t total = 0;
    capture([&] { decodeFastq(file.path(), &count, &total, buffer.data(), 0, records); });
    ASSERT_EQ(2, count);
    EXPECT_EQ(reinterpret_cast<int8_t *>(buffer.data()), records[1].quals);
    EXPECT_EQ(records[0].bases + 2, reinterpret_cast<char *>(records[0].quals));
    EXPECT_EQ(records[0].bases + 4, records[1].name);
}

TEST(DecodeFastq, StandardOutputComesBeforeLaterWarnings) {
    TextFile file("x\n@a\nAC\n+\nI\n@b\nA\n+\nI\n");
    std::vector<char> buffer(32);
    SeqEntry records[1] = {};
    int32_t count = 0;
    int64_t total = 0;
    const auto o =
        capture([&] { decodeFastq(file.path(), &count, &total, buffer.data(), 0, records); }, true);
    EXPECT_EQ("Corrupt input file [5].\n" + warning("a", 2, 1), o.out);
    EXPECT_EQ(1, count);
    EXPECT_EQ("b|-|A|40", show(records[0]));
}

TEST(DecodeFastq, UnreadablePathsFillNothing) {
    const std::string missing = testing::TempDir() + "toolkit_missing";
    struct Case {
        std::string path, out;
    };
    std::vector<Case> cases = {{missing, "error: file not found\n"}};
    std::vector<std::unique_ptr<TextFile>> compressed;
    for (const fast::Format format : toolkit::kFormats) {
        compressed.emplace_back(new TextFile(fast_test::compressed(format, "@a\nA\n+\nI\n")));
        cases.push_back(
            {compressed.back()->path(), toolkit::pairRefusal(compressed.back()->path(), format)});
    }
    for (const auto &c : cases) {
        SeqEntry records[1] = {};
        char buffer[8];
        std::memset(buffer, 'x', sizeof buffer);
        int32_t count = -1;
        int64_t total = -1;
        const auto o = capture([&] {
            EXPECT_EQ(records, decodeFastq(c.path.c_str(), &count, &total, buffer, 8, records));
        });
        EXPECT_EQ(c.out, o.out);
        EXPECT_EQ(0, count);
        EXPECT_EQ(0, total);
        EXPECT_EQ(std::string(8, 'x'), std::string(buffer, 8)) << "the buffer is not written";
        EXPECT_EQ(nullptr, records[0].name);
    }
}

// A kernel file that reports more bytes by seeking than it delivers gives a short read.
TEST(Decoders, ShortReadEndsTheCall) {
    const char *path = nullptr;
    long size = 0;
    for (const char *p : {"/sys/kernel/mm/transparent_hugepage/enabled", "/sys/kernel/profiling",
                          "/sys/devices/system/cpu/online"}) {
        std::FILE *f = std::fopen(p, "r");
        if (!f) continue;
        char probe[64];
        std::fseek(f, 0, SEEK_END);
        size = std::ftell(f);
        std::rewind(f);
        const size_t got = std::fread(probe, 1, sizeof probe, f);
        std::fclose(f);
        if (size > static_cast<long>(sizeof probe) && got < sizeof probe) {
            path = p;
            break;
        }
    }
    if (!path) GTEST_SKIP() << "no file here reports a size it does not deliver";
    std::vector<char> buffer(static_cast<size_t>(size) + 1);
    std::vector<SeqEntry> records(1);
    int32_t n = -1, count = -1;
    int64_t total = -1;
    SeqEntry *e = nullptr;
    EXPECT_EQ("error: file is too small\n",
              capture([&] { n = extractFastq(path, buffer.data(), 0); }).out);
    EXPECT_EQ(0, n);
    EXPECT_EQ(
        path + "\nerror: file is too small\n"s,
        capture([&] { decodeFastq(path, &count, &total, buffer.data(), 0, records.data()); }).out);
    EXPECT_EQ(0, count);
    EXPECT_EQ(0, total);
    EXPECT_EQ("error decodeFastq: "s + path + " is too small\n",
              capture([&] { e = decodeFastq2(path, &count, &total, 20); }).out);
    EXPECT_EQ(nullptr, e);
}

}  // namespace

namespace {

// Files are read and checked a piece of 1 MiB at a time: line ends, header marks and "+"
// lines that fall on either side of a piece boundary count as anywhere else.
TEST(Decoders, PieceBoundariesChangeNothing) {
    const std::string entry = "@r2 x@y>z\nACGT\n+\nIIII\n", last = "@r3\nA\n+\nI\n";
    const long boundary = 1L << 20;
    // Where the boundary falls: the header of r2, its sequence line, its "+" line.
    for (long inside : {0L, 10L, 15L, 17L}) {
        for (long d = -2; d <= 1; ++d) {
            // A first entry "@f ccc / A..A / + / I..I" that ends where r2 must begin.
            const long start = boundary + d - inside;
            const long c = 2 + (start - 8) % 2, l = (start - 8 - c) / 2;
            const std::string text = "@f " + std::string(c, 'c') + "\n" + std::string(l, 'A') +
                                     "\n+\n" + std::string(l, 'I') + "\n" + entry + last;
            ASSERT_EQ(start, static_cast<long>(text.find("@r2")));
            SCOPED_TRACE("boundary at " + std::to_string(inside + d) + " in r2");
            TextFile file(text);
            std::vector<char> buffer(text.size() + 1);
            int32_t segments = 0, count = 0;
            int64_t total = 0;
            const auto o = capture([&] { segments = extractFastq(file.path(), buffer.data(), 0); });
            EXPECT_EQ(5, segments);
            EXPECT_EQ("", o.out + o.err);
            std::vector<SeqEntry> records(5);
            capture([&] {
                decodeFastq(file.path(), &count, &total, buffer.data(), 0, records.data());
            });
            EXPECT_EQ(3, count);
            SeqEntry *e = nullptr;
            capture([&] { e = decodeFastq2(file.path(), &count, &total, 20); });
            ASSERT_NE(nullptr, e);
            ASSERT_EQ(3, count);
            EXPECT_EQ("r3|-|A|40", show(e[2]));
            free(e[0].name);
            free(e);
        }
    }
}

}  // namespace
