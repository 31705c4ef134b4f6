// The built clean_replace run as a user runs it: standard output, standard error and exit
// status compared exactly.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "command.hpp"
#include "command_reference.hpp"
#include "compressed_text.hpp"
#include "fast.h"

namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

struct Result {
    std::string out;
    std::string err;
    int status;
};

std::string slurp(const fs::path &path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void spit(const fs::path &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string replaceAll(std::string s, const std::string &from, const std::string &to) {
    for (std::size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
        s.replace(at, from.size(), to);
    return s;
}

class Command : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("clean_replace_test." + std::to_string(::getpid()) + "." +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs a shell command line in which {bin}, {table} and {dir} stand for the binary, a file
    // holding `table` and the test's own directory.
    Result run(const std::string &line, const std::string &table) {
        spit(dir_ / "table", table);
        std::string cmd = expand(line);
        cmd = "(" + cmd + ") > '" + (dir_ / "out").string() + "' 2> '" + (dir_ / "err").string() +
              "'";
        int raw = std::system(cmd.c_str());
        return {slurp(dir_ / "out"), slurp(dir_ / "err"), WIFEXITED(raw) ? WEXITSTATUS(raw) : -1};
    }

    std::string expand(const std::string &s) const {
        return replaceAll(replaceAll(replaceAll(s, "{bin}", CLEAN_REPLACE_BIN), "{table}",
                                     (dir_ / "table").string()),
                          "{dir}", dir_.string());
    }

    fs::path dir_;
};

const std::string kChain =
    "a 1 7 0 100 1 10 20 0 500\n"
    "b 2 7 0 100 1 15 30 0 500\n"
    "c 3 7 0 100 1 30 40 0 500\n";
const std::string kChainOut = "c 3 7 0 100 1 30 40 0 500\n";
const std::string kOpenFailed = "ERROR main:: reads group file \n";
const std::string kRangeTable =
    "a 1 7 0 0 1 10 20 0 5\nb 2 7 0 0 1 20 30 0 5\nc 3 7 0\n\n0 1 30 2147483648 0 5\n";
const std::string kReadFailed = "ERROR main:: cannot read reads group file: ";
// A gzip header and a deflate block of the reserved type.
const std::string kBadMember = "printf '\\037\\213\\010\\0\\0\\0\\0\\0\\0\\003\\007abcdefgh'";
const std::string kHelp = replaceAll(clean_replace::kHelpText, "%s", "{bin}");
// {dir}/t.x as {dir}/t.y with the byte before the last moved up by one: in every format a byte
// of the closing checksum or marker, checked after the text is decoded.
const std::string kChangeByte =
    " && (head -c -2 {dir}/t.x; tail -c 2 {dir}/t.x | head -c 1 |"
    " tr '\\000-\\377' '\\001-\\377\\000'; tail -c 1 {dir}/t.x) > {dir}/t.y";

struct Case {
    const char *label;
    std::string line;
    std::string table;
    std::string out;
    std::string err;
    int status;
};

// A case of a table in `format`, or where the build cannot read it, its refusal.
Case inFormat(fast::Format format, Case c) {
    if (fast_test::reads(format)) return c;
    return {
        c.label,
        c.line,
        c.table,
        "",
        kReadFailed + fast_test::name(format) + "-compressed data, not supported by this build\n",
        1};
}

const Case kCases[] = {
    {"usage", "{bin}", "",
     "Usage: {bin} <merge_link_file> <input_ref_fastq_file> <input_merge_fastq_file> "
     "<output_fastq_file\n",
     "", 1},
    {"empty table", "{bin} {table}", "", "", "", 0},
    {"single record", "{bin} {table}", "a 1 7 0 100 1 10 20 0 500\n", "", "", 0},
    {"overlap in the same group", "{bin} {table}", kChain, kChainOut, "", 0},
    {"other group", "{bin} {table}", "a 1 7 0 100 1 10 20 0 500\nb 2 8 0 100 1 15 30 0 500\n",
     "b 2 8 0 100 1 15 30 0 500\n", "", 0},
    {"chain tested link by link", "{bin} {table}",
     "a 1 7 0 0 1 10 20 0 5\nb 2 7 0 0 1 15 30 0 5\nc 3 7 0 0 1 25 40 0 5\nd 4 7 0 0 1 40 50 0 5\n",
     "d 4 7 0 0 1 40 50 0 5\n", "", 0},
    {"signed comparison", "{bin} {table}",
     "a 1 7 0 0 1 10 -20 0 5\nb 2 7 0 0 1 -30 40 0 5\nc 3 7 0 0 1 40 -1 0 5\n",
     "c 3 7 0 0 1 40 -1 0 5\n", "", 0},
    {"records across and within lines", "{bin} {table}",
     "a 1 7 0 100\n1 10 20 0 500 b 2 7 0 100 1 30 40 0 500\tc 3 7\r0 100 1 35 50\v0\f500",
     "b 2 7 0 100 1 30 40 0 500\n", "", 0},
    {"more records than counted lines", "{bin} {table}",
     "a 1 7 0 0 1 10 20 0 5 b 2 8 0 0 1 10 20 0 5 c 3 9 0 0 1 10 20 0 5 d 4 9 0 0 1 30 40 0 5",
     "b 2 8 0 0 1 10 20 0 5\nc 3 9 0 0 1 10 20 0 5\nd 4 9 0 0 1 30 40 0 5\n", "", 0},
    {"options first", "{bin} -fastq 2 -name 1 {table}", kChain, kChainOut, "", 0},
    {"option value not a number", "{bin} -name x {table} extra", kChain, kChainOut, "", 0},
    {"arguments after the path", "{bin} {table} ref.fq merge.fq out.fq", kChain, kChainOut, "", 0},
    {"option without its value", "{bin} {table} -fastq", kChain, kOpenFailed, "", 1},
    {"path counted after all options", "{bin} -fastq 1 {table}x -name {table}", kChain, kChainOut,
     "", 0},
    {"path position past the end", "{bin} -fastq 1", kChain, kOpenFailed, "", 1},
    {"missing table", "{bin} {dir}/none", "", kOpenFailed, "", 1},
    {"directory", "{bin} {dir}", "", kOpenFailed, "", 1},
    {"pipe read in one pass", "cat {table} | {bin} /dev/stdin", kChain, kChainOut, "", 0},
    {"unread integers are 0, column 8 kept", "{bin} {table}",
     "a 1 7 0 0 1 10 20 33 5\nb 2 7 0 0 1 20 21 44 5\nc 3 8 x 0 1 20 30 0 5\n",
     "b 2 7 0 0 1 20 21 44 5\nc 3 8 0 0 0 0 0 44 0\nx 0 1 20 30 0 5 0 44 0\n", "", 0},
    {"sign without digits", "{bin} {table}", "a 1 7 0 0 1 10 20 0 5\nb 2 -x 0 0 1 10 20 0 5\n",
     "b 2 0 0 0 0 0 0 0 0\nx 0 0 1 10 20 0 5 0 0\n", "", 0},
    {"printed from the values", "{bin} {table}",
     "a 1 7 0 0 1 10 20 0 5\nb 2 8 +1 007 -0 20  30 0 5\nc 3 9 0 0 1 20 30 0 -0005\n",
     "b 2 8 1 7 0 20 30 0 5\nc 3 9 0 0 1 20 30 0 -5\n", "", 0},
    {"name printed up to its NUL", "{bin} {table}",
     "a 1 7 0 0 1 10 20 0 5\nb\0z 2 7 0 0 1 20 30 0 5\n"s, "b 2 7 0 0 1 20 30 0 5\n", "", 0},
    {"long name whole", "{bin} {table}",
     "a 1 7 0 0 1 10 20 0 5\n" + std::string(5000, 'n') + " 2 7 0 0 1 20 30 0 5\n",
     std::string(5000, 'n') + " 2 7 0 0 1 20 30 0 5\n", "", 0},
    {"a table that begins as a bzip2 stream does, but is text", "{bin} {table}",
     "BZh9 1 7 0 100 1 10 20 0 500\nb 2 8 0 100 1 15 30 0 500\n", "b 2 8 0 100 1 15 30 0 500\n", "",
     0},
    {"BAM data is refused, in BGZF blocks or plain",
     "(printf 'BAM\\001'; cat {table}) | bgzip -c | {bin} -", kChain, "",
     kReadFailed + "BAM data: read it with the streaming reader\n", 1},
    {"plain BAM data, read in two passes",
     "(printf 'BAM\\001'; cat {table}) > {dir}/t.bam && {bin} {dir}/t.bam", kChain, "",
     kReadFailed + "BAM data: read it with the streaming reader\n", 1},
    {"value out of range", "{bin} {table}", kRangeTable, "b 2 7 0 0 1 20 30 0 5\n",
     "ERROR main:: value out of range in column 7 at line 5\n", 1},
    {"compressed file, lines of its text", "gzip -c {table} > {dir}/t.gz && {bin} {dir}/t.gz",
     kRangeTable, "b 2 7 0 0 1 20 30 0 5\n",
     "ERROR main:: value out of range in column 7 at line 5\n", 1},
    {"BGZF table, its blocks read ahead apart", "bgzip -c {table} > {dir}/t.gz && {bin} {dir}/t.gz",
     kRangeTable, "b 2 7 0 0 1 20 30 0 5\n",
     "ERROR main:: value out of range in column 7 at line 5\n", 1},
    {"members split inside a record, zero padding",
     "head -c 30 {table} | gzip -c > {dir}/t.gz && tail -c +31 {table} | gzip -1 -c >> {dir}/t.gz"
     " && head -c 600 /dev/zero >> {dir}/t.gz && {bin} {dir}/t.gz",
     kChain, kChainOut, "", 0},
    {"compressed pipe", "gzip -c {table} | {bin} /dev/stdin", kChain, kChainOut, "", 0},
    {"- after options, compressed pipe", "gzip -c {table} | {bin} -fastq 2 - ref.fq", kChain,
     kChainOut, "", 0},
    {"- reads on from where standard input stands", "(read skipped; {bin} -) < {table}",
     "x 0 7 0 100 1 0 0 0 500\n" + kChain, kChainOut, "", 0},
    {"compressed, truncated", "gzip -c {table} | head -c -4 > {dir}/t.gz && {bin} {dir}/t.gz",
     kChain, kChainOut, kReadFailed + "compressed data is truncated\n", 1},
    {"compressed, corrupt member after a sound one",
     "(gzip -c {table}; " + kBadMember + ") > {dir}/t.gz && {bin} {dir}/t.gz", kChain, kChainOut,
     kReadFailed + "compressed data is corrupt\n", 1},
    {"compressed, zero padding then other bytes",
     "(gzip -c {table}; printf '\\0\\0junk') | {bin} -", kChain, kChainOut,
     kReadFailed + "compressed data is followed by bytes that are not gzip\n", 1},
    inFormat(fast::Format::zstd,
             {"zstd frames split inside a record, a skippable frame, in a file",
              "(head -c 30 {table} | zstd -q -c; printf '\\120\\052\\115\\030\\002\\0\\0\\0ab';"
              " tail -c +31 {table} | zstd -q -c) > {dir}/t.x && {bin} {dir}/t.x",
              kChain, kChainOut, "", 0}),
    inFormat(fast::Format::zstd,
             {"zstd, truncated", "zstd -q -c {table} | head -c -4 > {dir}/t.x && {bin} {dir}/t.x",
              kChain, kChainOut, kReadFailed + "compressed data is truncated\n", 1}),
    inFormat(fast::Format::zstd,
             {"zstd, checksum changed: the last block's text is held back",
              "zstd -q -c {table} > {dir}/t.x" + kChangeByte + " && {bin} {dir}/t.y", kChain, "",
              kReadFailed + "compressed data is corrupt\n", 1}),
    inFormat(fast::Format::xz,
             {"xz streams split inside a record, padded between and after, through a pipe",
              "(head -c 30 {table} | xz -c; head -c 4 /dev/zero; tail -c +31 {table} | xz -c;"
              " head -c 8 /dev/zero) | {bin} -",
              kChain, kChainOut, "", 0}),
    inFormat(
        fast::Format::xz,
        {"xz padding not in fours between streams",
         "(head -c 30 {table} | xz -c; head -c 6 /dev/zero; tail -c +31 {table} | xz -c)"
         " > {dir}/t.x && {bin} {dir}/t.x",
         kChain, "", kReadFailed + "compressed data is followed by bytes that are not xz\n", 1}),
    inFormat(fast::Format::xz,
             {"xz, truncated", "xz -c {table} | head -c -4 > {dir}/t.x && {bin} {dir}/t.x", kChain,
              kChainOut, kReadFailed + "compressed data is truncated\n", 1}),
    inFormat(
        fast::Format::xz,
        {"xz, footer changed", "xz -c {table} > {dir}/t.x" + kChangeByte + " && {bin} {dir}/t.y",
         kChain, kChainOut, kReadFailed + "compressed data is corrupt\n", 1}),
    inFormat(fast::Format::bzip2,
             {"bzip2 streams split inside a record, in a file",
              "(head -c 30 {table} | bzip2 -c; tail -c +31 {table} | bzip2 -c) > {dir}/t.x &&"
              " {bin} {dir}/t.x",
              kChain, kChainOut, "", 0}),
    inFormat(fast::Format::bzip2,
             {"bzip2, truncated", "bzip2 -c {table} | head -c -4 > {dir}/t.x && {bin} {dir}/t.x",
              kChain, kChainOut, kReadFailed + "compressed data is truncated\n", 1}),
    inFormat(fast::Format::bzip2,
             {"bzip2, checksum changed",
              "bzip2 -c {table} > {dir}/t.x" + kChangeByte + " && {bin} {dir}/t.y", kChain,
              kChainOut, kReadFailed + "compressed data is corrupt\n", 1}),
    {"--help before a missing table", "{bin} {dir}/none --help", "", kHelp, "", 0},
    {"--version after an option", "{bin} -fastq 1 --version", "",
     "clean_replace " FAST_VERSION_STRING "\n", "", 0},
    {"read error", "{bin} /proc/self/mem", "", "",
     "ERROR main:: cannot read reads group file: Input/output error\n", 1},
    {"write error", "{bin} {table} > /dev/full", kChain, "",
     "ERROR main:: cannot write output: No space left on device\n", 1},
};

TEST_F(Command, BehavesAsDocumented) {
    for (const Case &c : kCases) {
        Result r = run(c.line, c.table);
        EXPECT_EQ(expand(c.out), r.out) << c.label;
        EXPECT_EQ(c.err, r.err) << c.label;
        EXPECT_EQ(c.status, r.status) << c.label;
    }
}

TEST_F(Command, WriteErrorStopsALongRun) {
    std::string table;
    for (int i = 0; i < 100000; ++i) table += "r 1 " + std::to_string(i) + " 0 0 1 5 6 0 5\n";
    Result r = run("{bin} {table} > /dev/full", table);
    EXPECT_EQ("ERROR main:: cannot write output: No space left on device\n", r.err);
    EXPECT_EQ(1, r.status);
}

// Each hostile file gives what the plain reference gives: its output, and the range message
// when a value is out of range; so does the same file gzip-compressed through a pipe.
TEST_F(Command, HostileFilesMatchTheReference) {
    int files = 0;
    for (const fs::directory_entry &e : fs::directory_iterator(FAST_HOSTILE_DIR)) {
        std::string bytes = slurp(e.path());
        command_reference::FilterRun want = command_reference::referenceFilter(bytes);
        std::string err = want.range_column == 0
                              ? ""
                              : "ERROR main:: value out of range in column " +
                                    std::to_string(want.range_column) + " at line " +
                                    std::to_string(want.range_line) + "\n";
        const std::string path = "'" + e.path().string() + "'";
        for (const std::string &line : {"{bin} " + path, "gzip -1 -c " + path + " | {bin} -"}) {
            Result r = run(line, "");
            EXPECT_TRUE(want.output == r.out) << line;
            EXPECT_EQ(err, r.err) << line;
            EXPECT_EQ(err.empty() ? 0 : 1, r.status) << line;
        }
        ++files;
    }
    EXPECT_GT(files, 10);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CLEAN_REPLACE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CLEAN_REPLACE_SANITIZED 1
#endif
#endif

// The column arrays cannot be had under a small address-space limit: the message of the first
// allocation that fails, status 1.
TEST_F(Command, ColumnAllocationFailure) {
#ifdef CLEAN_REPLACE_SANITIZED
    GTEST_SKIP() << "the sanitizers reserve more address space than any limit leaves";
#else
    constexpr rlim_t kMiB = 1 << 20;
    spit(dir_ / "table", std::string(16 << 20, '\n'));  // 16 Mi lines: 64 MiB a column
    struct Limit {
        rlim_t bytes;
        const char *out;
    } limits[] = {{40 * kMiB, "ERROR Contig_Hist: calloc - hit_reflen\n"},
                  {(40 + 64) * kMiB, "ERROR Contig_Hist: calloc - hit_index\n"},
                  {(40 + 4 * 64) * kMiB, "ERROR Contig_Hist: calloc - hit_reflen\n"}};
    for (const Limit &l : limits) {
        std::string out = (dir_ / "out").string();
        std::string table = (dir_ / "table").string();
        pid_t pid = fork();
        ASSERT_NE(-1, pid);
        if (pid == 0) {
            rlimit rl{l.bytes, l.bytes};
            if (std::freopen(out.c_str(), "w", stdout) == nullptr || setrlimit(RLIMIT_AS, &rl) != 0)
                _exit(99);
            execl(CLEAN_REPLACE_BIN, CLEAN_REPLACE_BIN, table.c_str(),
                  static_cast<char *>(nullptr));
            _exit(98);
        }
        int raw = 0;
        ASSERT_EQ(pid, waitpid(pid, &raw, 0));
        EXPECT_EQ(1, WIFEXITED(raw) ? WEXITSTATUS(raw) : -1) << l.bytes;
        EXPECT_EQ(l.out, slurp(out)) << l.bytes;
    }
#endif
}

}  // namespace
