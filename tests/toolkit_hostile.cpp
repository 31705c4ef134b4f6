// The decoders over the shared hostile files: each gives a defined result; the sanitizer
// build checks that nothing outside the buffers is touched and nothing leaks.
#include <cstdlib>
#include <cstring>

#include "toolkit_support.hpp"

using toolkit::capture;

namespace {

const char *const kFiles[] = {
    "binary_junk",        "nul_in_names_and_bases",
    "single_line_50mb",   "line_1998",
    "line_1999",          "line_2000",
    "fastq_line_2000",    "only_headers",
    "only_plus_lines",    "cr_only_line_ends",
    "ends_mid_header",    "ends_on_marker",
    "ends_mid_plus_line", "name_10000",
    "empty_lines_10m",    "empty_file",
};

// Records packed from `base` in order, within size bytes, with no line feed in their bases.
void expectPacked(const SeqEntry *e, int32_t count, const char *base, size_t size, bool has_quals) {
    const char *cursor = base;
    for (int32_t i = 0; i < count; ++i) {
        ASSERT_EQ(cursor, e[i].name) << i;
        ASSERT_GE(e[i].length, 0);
        ASSERT_GT(e[i].bases, e[i].name);
        ASSERT_EQ(nullptr, std::memchr(e[i].bases, '\n', static_cast<size_t>(e[i].length)));
        cursor = e[i].bases + e[i].length;
        if (has_quals && reinterpret_cast<const char *>(e[i].quals) == cursor)
            cursor += e[i].length;
        ASSERT_LE(cursor, base + size);
    }
}

TEST(DecodersOnHostileFiles, DefinedResults) {
    for (const char *name : kFiles) {
        SCOPED_TRACE(name);
        const std::string path = std::string(FAST_HOSTILE_DIR) + "/" + name;
        std::ifstream in(path, std::ios::binary);
        ASSERT_TRUE(in.good());
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());

        int32_t count = -1;
        int64_t total = -1;
        SeqEntry *e = nullptr;
        capture([&] { e = decodeFastq2(path.c_str(), &count, &total, 20); });
        if (e) {
            expectPacked(e, count, e[0].name, text.size(), true);
            free(e[0].name);
            free(e);
        }

        char *buffer = static_cast<char *>(std::malloc(text.size() + 1));
        int32_t segments = 0;
        capture([&] { segments = extractFastq(path.c_str(), buffer, text.size() + 1); });
        std::vector<SeqEntry> records(segments > 0 ? static_cast<size_t>(segments) : 1);
        capture([&] {
            decodeFastq(path.c_str(), &count, &total, buffer, text.size() + 1, records.data());
        });
        EXPECT_LE(count, segments);
        expectPacked(records.data(), count, buffer, text.size(), text[0] != '>');
        std::free(buffer);

        // Indexed, plain and in one gzip member of many deflate blocks, its splits and ranges
        // give exactly the stream's entries.
        const toolkit::Streamed want = toolkit::streamed(path.c_str(), 0, 2);
        std::mt19937 rng(static_cast<unsigned>(text.size()));
        const int64_t spacing = 1 + static_cast<int64_t>(text.size() / 40);
        toolkit::checkIndexed(path.c_str(), want.records, spacing, 9, 3, rng);
        toolkit::TextFile packed(
            fast_test::gzipBlocks(text.data(), text.size(), 1, 1 + text.size() / 30));
        toolkit::checkIndexed(packed.path(), want.records, spacing, 9, 3, rng);

        // With a carriage return before each line feed, the stream reads what it reads of the
        // file itself (where the file has none of its own before a line feed or at its end).
        if (text.find("\r\n") != std::string::npos || (!text.empty() && text.back() == '\r'))
            continue;
        std::string crlf;
        crlf.reserve(text.size() + text.size() / 8);
        for (const char c : text) crlf += c == '\n' ? "\r\n" : std::string(1, c);
        toolkit::TextFile crlf_file(crlf);
        const toolkit::Streamed lf_read = toolkit::streamed(path.c_str(), 0, 2, 1000);
        const toolkit::Streamed crlf_read = toolkit::streamed(crlf_file.path(), 0, 2, 1000);
        EXPECT_EQ(lf_read.records, crlf_read.records);
        EXPECT_EQ(lf_read.skipped, crlf_read.skipped);
        EXPECT_EQ(lf_read.end, crlf_read.end);
    }
}

// Files whose outcome is known exactly.
TEST(DecodersOnHostileFiles, TruncatedEndings) {
    const struct {
        const char *file;
        int32_t count;
        const char *last_name, *last_comment;
    } cases[] = {
        {"ends_mid_header", 2, "r2", "partial-hea"},
        {"ends_on_marker", 2, "", nullptr},
        {"ends_mid_plus_line", 0, nullptr, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = std::string(FAST_HOSTILE_DIR) + "/" + c.file;
        int32_t count = -1;
        int64_t total = -1;
        SeqEntry *e = nullptr;
        capture([&] { e = decodeFastq2(path.c_str(), &count, &total, 20); });
        ASSERT_NE(nullptr, e);
        EXPECT_EQ(c.count, count);
        if (c.count > 0) {
            EXPECT_STREQ(c.last_name, e[count - 1].name);
            EXPECT_EQ(c.last_comment == nullptr, e[count - 1].comment == nullptr);
            if (c.last_comment) {
                EXPECT_STREQ(c.last_comment, e[count - 1].comment);
            }
            EXPECT_EQ(0, e[count - 1].length);
        }
        free(e[0].name);
        free(e);
    }
}

}  // namespace
