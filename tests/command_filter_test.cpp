// The filter pass and the output format, against plain references and with injected faults.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "command_reference.hpp"
#include "link_filter.hpp"

namespace {

using namespace std::string_literals;

std::string contents(std::FILE *f) {
    std::string s;
    std::rewind(f);
    for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
    return s;
}

// Tables whose links share groups and overlap often, with the odd malformed field.
std::string randomTable(std::mt19937 &rng) {
    static const char *const odd[] = {"x",    "-",  "+7",         "007", "-0",
                                      "12ab", "\n", "2147483648", "a\0b"};
    std::string s;
    for (int line = static_cast<int>(rng() % 12); line > 0; --line) {
        s += "r" + std::to_string(rng() % 100);
        for (int c = 1; c <= 9; ++c) {
            s += rng() % 7 ? " " : "\t\n";
            if (rng() % 40 == 0)
                s += odd[rng() % std::size(odd)];
            else
                s += std::to_string(c == 2             ? rng() % 3
                                    : c == 6 || c == 7 ? rng() % 50
                                                       : rng() % 1000);
        }
        if (line > 1 || rng() % 2) s += rng() % 4 ? "\n" : " ";
    }
    return s;
}

TEST(LinkFilter, AgreesWithPlainReference) {
    std::mt19937 rng(11);
    for (int i = 0; i < 4000; ++i) {
        std::string table = randomTable(rng);
        std::size_t window = rng() % 4 ? 1 + rng() % 40 : std::size_t{1} << 16;
        ASSERT_EQ("", command_reference::compareFilters(table, window)) << "table #" << i;
    }
}

TEST(LinkFilter, ReadErrorKeepsWhatWasPrintedAndFails) {
    const std::string table =
        "a 1 7 0 0 1 10 20 0 5\nb 1 7 0 0 1 30 40 0 5\nc 1 7 0 0 1 50 60 0 5\n";
    struct Case {
        std::size_t fail_after;
        const char *out;
    } cases[] = {
        {0, ""},
        {22 + 22, "b 1 7 0 0 1 30 40 0 5\n"},
        {22 + 22 + 10, "b 1 7 0 0 1 30 40 0 5\n"},  // c is cut short: not printed
        {22 + 22 + 21, "b 1 7 0 0 1 30 40 0 5\n"},  // its last digit may go on
    };
    for (const Case &c : cases) {
        std::size_t at = 0;
        clean_replace::ByteReader in(
            [&](char *buf, std::size_t size, const char *&why) -> long long {
                std::size_t n = std::min(size, c.fail_after - at);
                if (n == 0) {
                    why = "compressed data is corrupt";
                    return -1;
                }
                std::memcpy(buf, table.data() + at, n);
                at += n;
                return static_cast<long long>(n);
            },
            16);
        std::FILE *out = std::tmpfile();
        std::FILE *err = std::tmpfile();
        EXPECT_EQ(1, clean_replace::runFilterPass(in, out, err));
        EXPECT_EQ(c.out, contents(out)) << c.fail_after;
        EXPECT_EQ("ERROR main:: cannot read reads group file: compressed data is corrupt\n",
                  contents(err));
        std::fclose(out);
        std::fclose(err);
    }
}

TEST(RecordWriter, PrintsLikePrintf) {
    std::mt19937 rng(3);
    const std::int32_t edges[] = {
        0, -1, 1, 9, 10, 99, 100, 999999999, 1000000000, INT_MAX, INT_MIN, -999999999, -1000000000};
    clean_replace::LinkRecord rec;
    std::string names[] = {"n", "a\0b"s, std::string(3000, 'q')};
    std::string expected;
    std::FILE *out = std::tmpfile();
    {
        clean_replace::RecordWriter writer(out, 200);
        for (int i = 0; i < 3000; ++i) {
            for (std::int32_t &c : rec.cols)
                c = rng() % 3 ? static_cast<std::int32_t>(rng()) >> (rng() % 32)
                              : edges[rng() % std::size(edges)];
            rec.name = names[i % 3];
            writer.write(rec);
            char line[200];
            std::snprintf(line, sizeof line, " %d %d %d %d %d %d %d %d %d\n", rec.cols[0],
                          rec.cols[1], rec.cols[2], rec.cols[3], rec.cols[4], rec.cols[5],
                          rec.cols[6], rec.cols[7], rec.cols[8]);
            expected += names[i % 3].c_str() + std::string(line);
        }
        EXPECT_TRUE(writer.flush());
    }
    EXPECT_TRUE(contents(out) == expected);
    std::fclose(out);
}

}  // namespace
