// decodeFastq2: records, warnings and the summary line for small texts; failures; leaks and
// allocation failures.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

#include "toolkit_support.hpp"

using toolkit::capture;
using toolkit::show;
using toolkit::TextFile;

namespace {

struct Decode2Case {
    const char *what;
    std::string text;
    std::vector<std::string> records;
    std::string out;  // warnings, then the summary line
    int32_t threshold = 20;
    // Where the stream reads otherwise (a carriage return before a line feed is part of its line
    // end): its records and how many it drops; stream_skipped -1 when it reads as decodeFastq2.
    std::vector<std::string> stream_records = {};
    int64_t stream_skipped = -1;
};

std::string summary(long memory, long bases, long qbases, int segments, int threshold = 20) {
    char s[160];
    std::snprintf(s, sizeof s,
                  "Total memory = %ld, total bases = %ld, Qbases(%d) = %ld, segments = %d\n",
                  memory, bases, threshold, qbases, segments);
    return s;
}

std::string warning(const char *name, long name_len, int bases, int quals) {
    char s[200];
    std::snprintf(s, sizeof s,
                  "Warning: %-20.20s (%ld) has %d bases and %d quals, skipping entry\n", name,
                  name_len, bases, quals);
    return s;
}

using namespace std::string_literals;

const std::vector<Decode2Case> kCases = {
    {"comment keeps its blanks",
     "@r1 x y\nACGT\n+\nIIII\n",
     {"r1|x y|ACGT|40,40,40,40"},
     summary(15, 4, 4, 1)},
    {"no blank gives no comment",
     "@r1\nACGT\n+\nIIII\n",
     {"r1|-|ACGT|40,40,40,40"},
     summary(11, 4, 4, 1)},
    {"a trailing blank gives an empty comment",
     "@r1 \nAC\n+\nII\n",
     {"r1||AC|40,40"},
     summary(8, 2, 2, 1)},
    {"a tab is part of the name", "@r1\tx\nA\n+\nI\n", {"r1\tx|-|A|40"}, summary(7, 1, 1, 1)},
    {"sequence and quality over several lines",
     "@r1\nACGT\nAC\n+r1\nIIII\n!!\n",
     {"r1|-|ACGTAC|40,40,40,40,0,0"},
     summary(15, 6, 4, 1)},
    {"fasta entry", ">f1 x\nACGT\n", {"f1|x|ACGT|-"}, summary(9, 4, 4, 1)},
    {"qbases at threshold 30",
     "@r\nACGT\n+\nII5!\n",
     {"r|-|ACGT|40,40,20,0"},
     summary(10, 4, 2, 1, 30),
     30},
    {"numeric values",
     "@r\nACGT\n+\n40 40 40 40\n",
     {"r|-|ACGT|40,40,40,40"},
     summary(10, 4, 4, 1)},
    {"numeric keeps two significant digits",
     "@r\nAC\n+\n123 007\n",
     {"r|-|AC|12,7"},
     summary(6, 2, 0, 1)},
    {"a number that ends the text counts",
     "@r\nAC\n+\n10 20",
     {"r|-|AC|10,20"},
     summary(6, 2, 1, 1)},
    {"window stops at the end of the first quality line",
     "@r1\nACGT\n+\nIIII\n@r2 comment\nAC\n+\nII\n",
     {"r1|-|ACGT|40,40,40,40", "r2|comment|AC|40,40"},
     summary(11 + 11 + 4, 6, 6, 2)},
    {"short phred read before an illumina header",
     "@r1\nAC\n+\nII\n@r2 x\nAC\n+\nII\n",
     {"r1|-|AC|40,40", "r2|x|AC|40,40"},
     summary(7 + 9, 4, 4, 2)},
    {"quality may start with @",
     "@r1\nAC\n+\n@I\n@r2\nA\n+\nI\n",
     {"r1|-|AC|31,40", "r2|-|A|40"},
     summary(7 + 5, 3, 3, 2)},
    {"a too short quality reads on into the next entry",
     "@r1\nACGT\n+\nII\n@r2\nACGTACGTAC\n+\nIIIIIIIIII\n@r3\nA\n+\nI\n",
     {"r3|-|A|40"},
     warning("r1", 2, 4, 26) + summary(5, 1, 1, 1)},
    {"a fasta entry takes in a following fastq entry",
     ">f1\nACGT\n@r2\nACGT\n+\nIIII\n",
     {"f1|-|ACGT@r2ACGT|-"},
     summary(14, 11, 11, 1)},
    {"fasta lines after + are passed over",
     ">f1\nAC\n+\nxx\n>f2\nG\n",
     {"f1|-|AC|-", "f2|-|G|-"},
     summary(5 + 4, 3, 3, 2)},
    {"fastq entry ended by > has no values",
     "@r1\nACGT\n>f\nAC\n",
     {"f|-|AC|-"},
     warning("r1", 2, 4, 0) + summary(4, 2, 2, 1)},
    {"fastq entry of no bases ended by >",
     "@r1\n>f\nAC\n",
     {"r1|-||", "f|-|AC|-"},
     summary(3 + 4, 2, 2, 2)},
    {"lines of a > entry are quality of the @ entry before it",
     "@r1\nAC\n+\nII\n>f2\nAC\n",
     {},
     warning("r1", 2, 2, 7) + summary(0, 0, 0, 0)},
    {"text before the first header",
     "junk\nmore\n@r\nA\n+\nI\n",
     {"r|-|A|40"},
     summary(4, 1, 1, 1)},
    {"crlf phred passes with one extra value",
     "@r1\r\nACGT\r\n+\r\nIIII\r\n",
     {"r1\r|-|ACGT\r|40,40,40,40,-20"},
     summary(14, 5, 4, 1),
     20,
     {"r1|-|ACGT|40,40,40,40"},
     0},
    {"crlf numeric is one value short",
     "@r\r\nAC\r\n+\r\n1 2\r\n",
     {},
     warning("r\r", 2, 3, 2) + summary(0, 0, 0, 0),
     20,
     {"r|-|AC|1,2"},
     0},
    {"crlf, comment and a last line that ends in a carriage return alone",
     "@r1 c d\r\nAC\r\nGT\r\n+\r\nII\r\nII\r",
     {"r1|c d\r|AC\rGT\r|40,40,-20,40,40,-20"},
     summary(20, 6, 4, 1),
     20,
     {"r1|c d|ACGT|40,40,40,40"},
     0},
    {"warning cuts long names to 20 columns",
     "@averyveryverylongreadname_1\nACGT\n+\nII\n",
     {},
     warning("averyveryverylongreadname_1", 27, 4, 2) + summary(0, 0, 0, 0)},
    {"header without line feed ends the text",
     "@r1 x\nACGT\n+\nIIII\n@r2 partial",
     {"r1|x|ACGT|40,40,40,40", "r2|partial||"},
     summary(13 + 11, 4, 4, 2)},
    {"+ line without line feed",
     "@r1\nACGT\n+r1 and m",
     {},
     warning("r1", 2, 4, 0) + summary(0, 0, 0, 0)},
    {"mark as the last byte", "@r1\nA\n+\nI\n@", {"r1|-|A|40", "|-||"}, summary(5 + 1, 1, 1, 2)},
    {"a zero byte ends the bases",
     "@r\nAC\0GT\n+\nII\n@s\nA\n+\nI\n"s,
     {"s|-|A|40"},
     warning("r", 1, 2, 0) + summary(4, 1, 1, 1)},
};

TEST(Decode2, RecordsWarningsAndSummary) {
    for (const Decode2Case &c : kCases) {
        SCOPED_TRACE(c.what);
        TextFile file(c.text);
        int32_t count = -1;
        int64_t total = -1;
        SeqEntry *e = nullptr;
        const auto o = capture([&] { e = decodeFastq2(file.path(), &count, &total, c.threshold); });
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(c.records, show(e, count));
        EXPECT_TRUE(toolkit::kindsAgree(e, count));
        EXPECT_EQ(c.out, o.out);
        EXPECT_EQ("", o.err);
        int64_t bases = 0;
        for (int32_t i = 0; i < count; ++i) bases += e[i].length;
        EXPECT_EQ(bases, total);
        if (count == 0) {
            EXPECT_EQ(nullptr, e[0].name);
        }
        // The documented release; the sanitizer build checks it frees everything.
        free(e[0].name);
        free(e);
        // The stream gives the same entries, and counts the dropped ones, also when every
        // entry crosses the blocks read ahead.
        int64_t warnings = 0;
        for (size_t at = 0; (at = c.out.find("Warning: ", at)) != std::string::npos; ++at)
            ++warnings;
        for (const size_t block : {1, 3, 7, 0}) {
            const toolkit::Streamed st = toolkit::streamed(file.path(), block ? 1 : 0, 2, block);
            const bool same = c.stream_skipped < 0;
            EXPECT_EQ(same ? c.records : c.stream_records, st.records) << "block " << block;
            EXPECT_EQ(same ? warnings : c.stream_skipped, st.skipped) << "block " << block;
            EXPECT_EQ(0, st.end);
        }
    }
}

TEST(Decode2, SpareRecordsAreZero) {
    TextFile file(">f1\nAC\n@x\nGG\n");
    int32_t count = 0;
    int64_t total = 0;
    SeqEntry *e = nullptr;
    capture([&] { e = decodeFastq2(file.path(), &count, &total, 0); });
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(1, count);
    EXPECT_EQ("f1|-|AC@xGG|-", show(e[0]));
    const SeqEntry zero{};
    EXPECT_EQ(0, std::memcmp(&zero, &e[1], sizeof zero));
    free(e[0].name);
    free(e);
}

TEST(Decode2, FailuresReturnNullAndLeaveOutputsAlone) {
    TextFile empty(""), no_marks("abc\ndef\n");
    // Compressed data that does not inflate: cut short, a byte changed inside the deflate
    // data or the trailer's checksum, and a member followed by bytes that are not gzip.
    const std::string gz = toolkit::gzipped(std::string(3000, '@') + "\nAC\n+\nII\n", 6);
    std::string flipped = gz, bad_crc = gz;
    flipped[gz.size() / 2] ^= 0x55;
    bad_crc[gz.size() - 6] ^= 1;
    TextFile truncated(gz.substr(0, gz.size() - 9)), corrupt(flipped), wrong_crc(bad_crc),
        trailing(gz + "@a\nA\n+\nI\n"), empty_member(toolkit::gzipped("", 6)),
        magic_only("\x1f\x8b");
    // A pipe's text is decompressed by a helper thread: its fault must reach the caller too.
    toolkit::PipeFile empty_pipe(""), truncated_pipe(gz.substr(0, gz.size() - 9));
    const std::string missing = testing::TempDir() + "toolkit_no_such_file";
    // BGZF blocks, read in parallel by the stream: one changed inside, and one cut short.
    std::string text;
    for (int i = 0; i < 2000; ++i) text += "@r" + std::to_string(i) + "\nACGT\n+\nIIII\n";
    std::string bgzf = fast_test::bgzfBlocks(text.data(), text.size(), 1000);
    TextFile bgzf_cut(bgzf.substr(0, bgzf.size() / 2));
    // A bit of the checksum of the second block.
    const auto block_size = fast_test::bgzfBlockSize;
    const size_t second = block_size(bgzf, 0);
    // A large copy, inflated ahead into decodeFastq2's block on every core, with a block in its
    // middle changed the same way: the helpers still at work must not write into a freed block.
    std::string large;
    while (large.size() < (10u << 20)) large += text;
    std::string large_bgzf = fast_test::bgzfBlocks(large.data(), large.size());
    size_t middle = 0;
    while (middle < large_bgzf.size() / 2) middle += block_size(large_bgzf, middle);
    bgzf[second + block_size(bgzf, second) - 6] ^= 0x21;
    large_bgzf[middle + block_size(large_bgzf, middle) - 6] ^= 0x21;
    TextFile bgzf_corrupt(bgzf), large_corrupt(large_bgzf);
    const auto bad = [](const TextFile &f, const char *why) {
        return "error decodeFastq: " + std::string(f.path()) + ": compressed data is " + why + "\n";
    };
    // BAM data: decodeFastq2 refuses it by name, the stream reads its records and names the
    // damage. A header without references, and one record of three bases.
    const auto le32 = [](uint32_t v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8),
                           static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
    };
    const std::string bam_header = std::string("BAM\1") + le32(0) + le32(0);
    const std::string record = le32(0xFFFFFFFF) + le32(0xFFFFFFFF) + "\x02\0\0\0" +
                               std::string("\0\0\x04\0", 4) + le32(3) + le32(0xFFFFFFFF) +
                               le32(0xFFFFFFFF) + le32(0) + std::string("a\0", 2) + "\x12\x40" +
                               "III" + "XZZab" + std::string(1, '\0');
    const std::string bam = bam_header + le32(static_cast<uint32_t>(record.size())) + record;
    TextFile bam_cut(fast_test::bgzfBlocks(bam.data(), bam.size() - 3, 7)),
        bam_huge(bam_header + le32(0x7FFFFFFF) + record), bam_header_cut(bam.substr(0, 10));
    const auto refused = [](const TextFile &f) {
        return "error decodeFastq: " + std::string(f.path()) +
               ": BAM data: read it with the streaming reader\n";
    };
    // The stream's end: an errno when it does not open, or its error ("" when it ends with 0;
    // "-" for a pipe, which decodeFastq2 reads up).
    struct Case {
        std::string path, out, stream;
    };
    std::vector<Case> cases = {
        {missing, "error decodeFastq: " + missing + " not found\n", "ENOENT"},
        {testing::TempDir(), "error decodeFastq: " + testing::TempDir() + " not found\n", "EISDIR"},
        {empty.path(), "error decodeFastq: no data in " + std::string(empty.path()) + "\n", ""},
        {no_marks.path(), "error decodeFastq: no segments found\n", ""},
        {empty_member.path(),
         "error decodeFastq: no data in " + std::string(empty_member.path()) + "\n", ""},
        {empty_pipe.path(),
         "error decodeFastq: no data in " + std::string(empty_pipe.path()) + "\n", "-"},
        {truncated.path(), bad(truncated, "truncated"), "compressed data is truncated"},
        {truncated_pipe.path(),
         "error decodeFastq: " + std::string(truncated_pipe.path()) +
             ": compressed data is truncated\n",
         "-"},
        {magic_only.path(), bad(magic_only, "truncated"), "compressed data is truncated"},
        {corrupt.path(), bad(corrupt, "corrupt"), "compressed data is corrupt"},
        {wrong_crc.path(), bad(wrong_crc, "corrupt"), "compressed data is corrupt"},
        {trailing.path(), bad(trailing, "followed by bytes that are not gzip"),
         "compressed data is followed by bytes that are not gzip"},
        {bgzf_cut.path(), bad(bgzf_cut, "truncated"), "compressed data is truncated"},
        {bgzf_corrupt.path(), bad(bgzf_corrupt, "corrupt"), "compressed data is corrupt"},
        {large_corrupt.path(), bad(large_corrupt, "corrupt"), "compressed data is corrupt"},
        {bam_cut.path(), refused(bam_cut), "BAM data ends inside record 1"},
        {bam_huge.path(), refused(bam_huge),
         "BAM record 1 has an impossible length (2147483647 bytes)"},
        {bam_header_cut.path(), refused(bam_header_cut), "BAM data ends inside its header"},
    };
    // The same faults in each of the other formats, or its refusal where the build cannot
    // read it.
    std::vector<std::unique_ptr<TextFile>> files;
    for (const fast::Format format : {fast::Format::zstd, fast::Format::xz, fast::Format::bzip2}) {
        const std::string text = std::string(3000, '@') + "\nAC\n+\nII\n";
        // Several streams; one stream for the changed byte, which must land inside its data.
        const std::string data = fast_test::compressed(format, text, 1000);
        std::string changed = fast_test::compressed(format, text);
        changed[changed.size() / 2] ^= 0x55;
        const std::string name = fast_test::name(format);
        const std::string trailing = "followed by bytes that are not " + name;
        struct Fault {
            std::string bytes, why;
        };
        std::vector<Fault> faults = {
            {data.substr(0, data.size() - 9), "truncated"},
            {changed, "corrupt"},
            {data + "@a\nA\n+\nI\n", trailing},
        };
        // xz streams may be padded with zero bytes in fours, and only so.
        if (format == fast::Format::xz) {
            const std::string one = fast_test::compressed(format, text);
            faults.push_back({one + std::string(3, '\0') + one, trailing});
            faults.push_back({one + std::string(9, '\0'), trailing});
        }
        for (const auto &f : faults) {
            files.emplace_back(new TextFile(f.bytes));
            cases.push_back({files.back()->path(),
                             fast_test::reads(format)
                                 ? bad(*files.back(), f.why.c_str())
                                 : "error decodeFastq: " + std::string(files.back()->path()) +
                                       " is " + name + "-compressed; this build reads " +
                                       fast::readableFormats() + " text\n",
                             fast_test::reads(format)
                                 ? "compressed data is " + f.why
                                 : name + "-compressed data, not supported by this build"});
        }
    }
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        int32_t count = -5;
        int64_t total = -5;
        SeqEntry *e = reinterpret_cast<SeqEntry *>(&count);
        const auto o = capture([&] { e = decodeFastq2(c.path.c_str(), &count, &total, 20); });
        EXPECT_EQ(nullptr, e);
        EXPECT_EQ(c.out, o.out);
        EXPECT_EQ(-5, count);
        EXPECT_EQ(-5, total);
        if (c.stream == "-") continue;  // the pipe is read
        for (const int32_t threads : {1, 3}) {
            errno = 0;
            FastqStream *s = openFastqStream(c.path.c_str(), 0, threads);
            if (c.stream.rfind("E", 0) == 0) {
                EXPECT_EQ(nullptr, s);
                EXPECT_EQ(c.stream == "ENOENT" ? ENOENT : EISDIR, errno);
                continue;
            }
            closeFastqStream(s);
            // Nothing is lost silently: a damaged text never ends with 0.
            const toolkit::Streamed st = toolkit::streamed(c.path.c_str(), 0, threads);
            EXPECT_EQ(c.stream.empty() ? 0 : -1, st.end);
            EXPECT_EQ(c.stream, st.error);
        }
    }
    const int64_t batches[] = {-1, 0, 0};
    const int32_t threads[] = {0, -1, 0};
    for (int i = 0; i < 3; ++i) {
        errno = 0;
        EXPECT_EQ(nullptr, openFastqStream(i < 2 ? empty.path() : nullptr, batches[i], threads[i]));
        EXPECT_EQ(EINVAL, errno);
    }
}

TEST(Decode2, AllocationFailures) {
#ifdef FAST_UNDER_SANITIZER
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#else
    // A sparse file too large for the entry buffer, and a small one whose records are not.
    const std::string big = testing::TempDir() + "toolkit_sparse_" + std::to_string(getpid());
    {
        std::FILE *f = std::fopen(big.c_str(), "w");
        ASSERT_NE(nullptr, f);
        std::fseek(f, (1L << 30) - 1, SEEK_SET);
        std::fputc('\n', f);
        std::fclose(f);
    }
    std::string headers;
    for (int i = 0; i < (4 << 20); ++i) headers += "@\n";
    TextFile many(headers);
    const struct {
        std::string path, out;
    } cases[] = {
        {big, "error decodeFastq: malloc error\n"},
        {many.path(), "error decodeFastq: calloc error\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.out);
        const std::string out = toolkit::underAddressLimit(64 << 20, [&] {
            int32_t count = -5;
            int64_t total = -5;
            SeqEntry *e = decodeFastq2(c.path.c_str(), &count, &total, 20);
            if (e || count != -5 || total != -5) _exit(4);
        });
        EXPECT_EQ(c.out, out);
    }
    std::remove(big.c_str());
#endif
}

// Two streams read in step: the pairs delivered (as "first name|second name"), how the pairing
// ended and what fastqStreamError(first) says then.
TEST(Decode2, StreamsReadInStep) {
    const auto fq = [](std::initializer_list<const char *> headers) {
        std::string text;
        for (const char *h : headers) text += std::string("@") + h + "\nACGT\n+\nIIII\n";
        return text;
    };
    // Interleaved: `first` holds both mates in turn and `second` is empty. More than two files:
    // `more` holds the third and later, and each delivered tuple is joined by "|".
    const std::string interleaved = "interleaved";
    const struct {
        const char *what;
        std::string first, second;
        std::vector<std::string> pairs;
        std::string error;
        std::vector<std::string> more = {};
    } cases[] = {
        {"interleaved mates",
         fq({"a/1", "a/2", "b/1 x", "b/2", "c", "c"}),
         interleaved,
         {"a/1|a/2", "b/1|b/2", "c|c"},
         ""},
        {"interleaved, an odd count",
         fq({"a/1", "a/2", "b/1"}),
         interleaved,
         {"a/1|a/2"},
         "entry 3 (\"b/1\") has no mate: the file ends after it"},
        {"interleaved, mates that do not pair",
         fq({"a/1", "a/2", "b/1", "c/2", "d", "d"}),
         interleaved,
         {"a/1|a/2"},
         "entries 3 and 4 have unpaired names: \"b/1\" and \"c/2\""},
        {"four files in step",
         fq({"a/1", "b/1"}),
         fq({"a/2", "b/2"}),
         {"a/1|a/2|a|a", "b/1|b/2|b|b"},
         "",
         {fq({"a", "b"}), fq({"a", "b"})}},
        {"the fourth file names another read",
         fq({"a", "b"}),
         fq({"a", "b"}),
         {"a|a|a|a"},
         "entry 2 has unpaired names: \"b\" in the first file, \"x\" in the fourth",
         {fq({"a", "b"}), fq({"a", "x"})}},
        {"the third file shorter",
         fq({"a", "b"}),
         fq({"a", "b"}),
         {"a|a|a"},
         "the third file ended first, after 1 entries",
         {fq({"a"})}},
        {"the first of three files shorter",
         fq({"a"}),
         fq({"a", "b"}),
         {"a|a|a"},
         "the first file ended first, after 1 entries",
         {fq({"a", "b"})}},
        {"in step", fq({"a/1", "b/1 x"}), fq({"a/2 y", "b/2"}), {"a/1|a/2", "b/1|b/2"}, ""},
        {"names without a mate number, or with the same one",
         fq({"a", "b/1", "c/2"}),
         fq({"a/2", "b/1", "c"}),
         {"a|a/2", "b/1|b/1", "c/2|c"},
         ""},
        {"tab-separated tags that differ",
         fq({"HS25_09827:2:1201:1505:59795#49/1\tRG:Z:1#49\tBC:Z:NGTCTATC"}),
         fq({"HS25_09827:2:1201:1505:59795#49/2\tRG:Z:1#49"}),
         {"HS25_09827:2:1201:1505:59795#49/1\tRG:Z:1#49\tBC:Z:NGTCTATC|"
          "HS25_09827:2:1201:1505:59795#49/2\tRG:Z:1#49"},
         ""},
        {"a name that differs",
         fq({"a/1", "b/1", "c/1"}),
         fq({"a/2", "bb/2", "c/2"}),
         {"a/1|a/2"},
         "entry 2 has unpaired names: \"b/1\" in the first file, \"bb/2\" in the second"},
        {"mate numbers other than 1 and 2",
         fq({"a/3"}),
         fq({"a/4"}),
         {},
         "entry 1 has unpaired names: \"a/3\" in the first file, \"a/4\" in the second"},
        {"the second file shorter",
         fq({"a", "b", "c"}),
         fq({"a", "b"}),
         {"a|a", "b|b"},
         "the second file ended first, after 2 entries"},
        {"the first file shorter",
         fq({"a", "b"}),
         fq({"a", "b", "c"}),
         {"a|a", "b|b"},
         "the first file ended first, after 2 entries"},
        {"an empty second file", fq({"a"}), "", {}, "the second file ended first, after 0 entries"},
        {"both empty", "", "", {}, ""},
    };
    for (const auto &c : cases) {
        std::vector<std::unique_ptr<TextFile>> files;
        files.emplace_back(new TextFile(c.first));
        if (c.second != interleaved) files.emplace_back(new TextFile(c.second));
        for (const auto &text : c.more) files.emplace_back(new TextFile(text));
        for (const int64_t batch : {1, 0, 30}) {
            SCOPED_TRACE(std::string(c.what) + ", batch " + std::to_string(batch));
            std::vector<FastqStream *> streams;
            for (size_t i = 0; i < files.size(); ++i) {
                streams.push_back(
                    fast::openStream(files[i]->path(), batch, 2, batch ? 3 + 2 * (i % 2) : 0));
                ASSERT_TRUE(streams.back());
            }
            FastqStream *a = streams[0], *b = streams.size() > 1 ? streams[1] : a;
            std::vector<std::string> pairs;
            std::vector<SeqEntry *> got(std::max<size_t>(2, streams.size()));
            int32_t n;
            const auto read = [&] {
                return streams.size() > 2
                           ? readFastqBatches(streams.data(), static_cast<int32_t>(streams.size()),
                                              got.data())
                           : readFastqPairBatch(a, b, &got[0], &got[1]);
            };
            while ((n = read()) > 0)
                for (int32_t i = 0; i < n; ++i) {
                    std::string tuple = got[0][i].name;
                    for (size_t k = 1; k < got.size(); ++k)
                        tuple += "|" + std::string(got[k][i].name);
                    pairs.push_back(tuple);
                }
            EXPECT_EQ(c.pairs, pairs);
            EXPECT_EQ(c.error.empty() ? 0 : -1, n);
            EXPECT_EQ(c.error, fastqStreamError(a) ? fastqStreamError(a) : "");
            EXPECT_EQ(n, read());
            for (FastqStream *s : streams) closeFastqStream(s);
        }
    }
}

// An index is used only while it is sound and matches its file: one that is missing, damaged,
// truncated, of another version, stale or another file's is refused with the reason, by the
// loader and by a range read, and a text changed where the identity does not look (size, time
// and ends kept) fails the range read where an entry is not where the index records it. The
// stream without a range reads the file in order whatever its index.
TEST(Decode2, IndexesThatDoNotMatchAreRefused) {
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "@r" + std::to_string(i) + "\nACGT\n+\nIIII\n";
    const std::string gz = fast_test::gzipBlocks(text.data(), text.size(), 6, 1000);
    const auto slurp = [](const std::string &path) { return toolkit::slurp(path); };
    const auto put = [](const std::string &path, const std::string &bytes) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    };
    const struct {
        const char *what;
        // Changes the read set at `path` or its index beside it, given the index's bytes.
        std::function<void(const std::string &path, const std::string &ridx)> change;
        const char *error;  // what the loader's and the range's messages hold
        bool loads;         // the loader finds nothing wrong; the range read does
    } cases[] = {
        {"missing", [&](const std::string &, const std::string &r) { std::remove(r.c_str()); },
         "cannot be read: No such file or directory", false},
        {"truncated",
         [&](const std::string &, const std::string &r) {
             const std::string b = slurp(r);
             put(r, b.substr(0, b.size() / 2));
         },
         "is damaged or truncated", false},
        {"cut inside its header",
         [&](const std::string &, const std::string &r) { put(r, slurp(r).substr(0, 30)); },
         "is truncated", false},
        {"a byte changed",
         [&](const std::string &, const std::string &r) {
             std::string b = slurp(r);
             b[b.size() / 2] ^= 4;
             put(r, b);
         },
         "is damaged or truncated (its checksum does not match)", false},
        {"another version",
         [&](const std::string &, const std::string &r) {
             std::string b = slurp(r);
             b[8] = 2;
             put(r, b);
         },
         "has version 2, not 1", false},
        {"not an index",
         [&](const std::string &, const std::string &r) { put(r, "@r0\nACGT\n+\nIIII\n"); },
         "is not a record index", false},
        {"stale: the file touched",
         [&](const std::string &p, const std::string &) {
             const timespec times[2] = {{0, UTIME_OMIT}, {12345, 678}};
             ASSERT_EQ(0, utimensat(AT_FDCWD, p.c_str(), times, 0));
         },
         "does not match", false},
        {"stale: entries appended",
         [&](const std::string &p, const std::string &) {
             put(p, slurp(p) + fast_test::gzipMembers("@x\nA\n+\nI\n", 10, 6));
         },
         "(its size differs): it is stale or belongs to another file", false},
        {"another file's",
         [&](const std::string &p, const std::string &) {
             put(p, fast_test::gzipMembers(text.data(), text.size() / 2, 6));
         },
         "(its size differs): it is stale or belongs to another file", false},
        {"the same size and time, another first 64 KiB",
         [&](const std::string &p, const std::string &) {
             // The gzip header's own time field: the file is as sound as before.
             struct stat st;
             ASSERT_EQ(0, stat(p.c_str(), &st));
             std::string b = slurp(p);
             b[5] ^= 1;
             put(p, b);
             const timespec times[2] = {st.st_atim, st.st_mtim};
             ASSERT_EQ(0, utimensat(AT_FDCWD, p.c_str(), times, 0));
         },
         "(its content differs)", false},
        {"changed in the middle, size, time and ends kept",
         [&](const std::string &p, const std::string &r) {
             // In the text, a header turns into a sequence line: an entry the index records
             // is gone, the others are where they were.
             std::string t = text;
             t[t.find("@r1500\n")] = 'X';
             const timespec times[2] = {{0, UTIME_OMIT}, {777, 0}};
             put(p, fast_test::gzipBlocks(t.data(), t.size(), 6, 1000));
             ASSERT_EQ(0, utimensat(AT_FDCWD, p.c_str(), times, 0));
             // The index is rebuilt's twin: the original's, with the new identity.
             FastqIndex *fresh = indexFastq(p.c_str(), (r + ".fresh").c_str(), 200, 1);
             ASSERT_EQ(nullptr, fastqIndexError(fresh));
             closeFastqIndex(fresh);
             std::string now = slurp(r + ".fresh"), old = slurp(r);
             std::remove((r + ".fresh").c_str());
             // The identity fields (16 to 40) of the new, every point of the old; the
             // checksum made again.
             old.replace(16, 24, now.substr(16, 24));
             const uLong crc = crc32(0, reinterpret_cast<const Bytef *>(old.data()),
                                     static_cast<uInt>(old.size() - 4));
             for (int i = 0; i < 4; ++i)
                 old[old.size() - 4 + i] = static_cast<char>((crc >> (8 * i)) & 0xff);
             put(r, old);
         },
         "the text does not agree with its index: entry ", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TextFile file(gz);
        const std::string path = file.path(), ridx = path + ".ridx";
        FastqIndex *built = indexFastq(path.c_str(), nullptr, 200, 2);
        ASSERT_EQ(nullptr, fastqIndexError(built)) << fastqIndexError(built);
        ASSERT_EQ(3000, fastqIndexEntries(built));
        ASSERT_GT(fastqIndexPoints(built), 40);
        closeFastqIndex(built);
        c.change(path, ridx);
        const toolkit::Streamed whole = toolkit::streamed(path.c_str(), 0, 2);
        EXPECT_EQ(0, whole.end) << whole.error;
        // The stream that would read spans with the index reads in order without it, or on
        // in order from where a span finds it does not agree.
        const toolkit::Streamed indexed = toolkit::drained(openFastqStream(path.c_str(), 0, 3), 0);
        EXPECT_EQ(whole.records, indexed.records);
        EXPECT_EQ(0, indexed.end) << indexed.error;
        FastqIndex *index = loadFastqIndex(path.c_str(), nullptr);
        ASSERT_NE(nullptr, index);
        const char *why = fastqIndexError(index);
        if (c.loads) {
            EXPECT_EQ(nullptr, why) << why;
        } else {
            ASSERT_NE(nullptr, why);
            EXPECT_NE(nullptr, std::strstr(why, c.error)) << why;
            int64_t bounds[3];
            EXPECT_EQ(-1, fastqIndexSplits(index, 2, bounds));
        }
        closeFastqIndex(index);
        const toolkit::Streamed range =
            toolkit::drained(openFastqStreamRange(path.c_str(), 0, 3000, 0, 2), 0);
        EXPECT_EQ(-1, range.end);
        EXPECT_NE(std::string::npos, range.error.find(c.error)) << range.error;
        // Whatever was returned before the fault is what the file holds there.
        for (size_t i = 0; i < range.records.size(); ++i)
            ASSERT_EQ(whole.records[i], range.records[i]) << i;
        std::remove(ridx.c_str());
    }
}

// A helper that waits on a pipe whose writer stays open ends with the stream.
TEST(Decode2, StreamClosesWhileItsHelperWaits) {
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    const std::string path = "/proc/self/fd/" + std::to_string(fds[0]);
    for (const int32_t threads : {2, 0}) {
        // Opening waits for the first bytes, which tell the format.
        ASSERT_EQ(6, write(fds[1], "@r\nAC\n", 6));
        FastqStream *s = openFastqStream(path.c_str(), 0, threads);
        ASSERT_NE(nullptr, s);
        closeFastqStream(s);
    }
    close(fds[0]);
    close(fds[1]);
}

}  // namespace
