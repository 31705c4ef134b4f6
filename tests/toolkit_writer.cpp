// The writer: which entries it refuses and which it writes back exactly, how it fails on the
// system's errors without leaving a file under the final name, pairs, and what outside tools
// make of its files. Its round trip over generated texts is part of the property test.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <random>

#include "codecs/gzip.hpp"
#include "toolkit_support.hpp"

using toolkit::show;
using toolkit::slurp;
using toolkit::TextFile;

namespace {

// An entry whose fields live in the row's own strings.
struct Made {
    std::string name, comment, bases;
    std::vector<int8_t> quals;
    bool has_comment = false;
    int32_t fasta = 0;
    SeqEntry entry() {
        SeqEntry e{};
        quals.reserve(1);  // a FASTQ entry of no bases reads back with quals, not NULL
        e.name = &name[0];
        e.comment = has_comment ? &comment[0] : nullptr;
        e.length = static_cast<int32_t>(bases.size());
        e.bases = &bases[0];
        e.quals = fasta ? nullptr : quals.data();
        e.is_fasta = fasta;
        return e;
    }
};

Made fastq(std::string name, std::string bases, std::vector<int8_t> quals = {}) {
    Made m{std::move(name), "", std::move(bases), std::move(quals)};
    if (m.quals.empty()) m.quals.assign(m.bases.size(), 30);
    return m;
}

Made fasta(std::string name, std::string bases) {
    Made m{std::move(name), "", std::move(bases), {}};
    m.fasta = 1;
    return m;
}

Made withComment(Made m, std::string comment) {
    m.comment = std::move(comment);
    m.has_comment = true;
    return m;
}

Made withQual(Made m, size_t at, int8_t q) {
    m.quals.at(at) = q;
    return m;
}

std::string scratch(const char *tag) {
    return testing::TempDir() + "writer_" + std::to_string(getpid()) + "_" + tag;
}

bool exists(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// Files beside `path` that the writer may have left.
int leftovers(const std::string &path) {
    const std::string dir = path.substr(0, path.rfind('/'));
    const std::string base = "." + path.substr(path.rfind('/') + 1) + ".";
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> ls(popen(("ls -a '" + dir + "'").c_str(), "r"),
                                                        pclose);
    int n = 0;
    char line[4096];
    while (ls && std::fgets(line, sizeof line, ls.get()))
        n += std::string(line).rfind(base, 0) == 0;
    return n;
}

struct RefusalCase {
    const char *what;
    std::vector<Made> batch;  // written after one good entry of the same kind as the first
    std::string refusal;      // the end of the writer's error, "" when the batch is written
    int32_t width = 0;        // bases per FASTA line
};

TEST(Writer, RefusesExactlyWhatCannotBeReadBack) {
    std::vector<int8_t> extremes;
    for (int q = -128; q < 128; ++q)
        if (q != -33 && q != -23 && q != -1) extremes.push_back(static_cast<int8_t>(q));
    const RefusalCase cases[] = {
        {"blank in the name", {fastq("a b", "AC")}, "its name holds a blank"},
        {"line feed in the name", {fastq("a\nb", "AC")}, "its name holds a line feed"},
        {"line feed in the comment",
         {withComment(fastq("r", "AC"), "x\ny")},
         "its comment holds a line feed"},
        {"line feed in the bases", {fastq("r", "A\nC")}, "its bases hold a line feed"},
        {"zero byte in the bases", {fastq("r", std::string("A\0C", 3))}, "hold a zero byte"},
        {"first base +", {fastq("r", "+AC")}, "its first base is \"+\", which would end its bases"},
        {"first base > of FASTA",
         {fasta("r", ">AC")},
         "its first base is \">\", which would end its bases"},
        {"quality -33", {withQual(fastq("r", "ACGT"), 3, -33)}, "-33 would be a zero byte"},
        {"quality -23", {withQual(fastq("r", "ACGT"), 1, -23)}, "-23 would be a line feed"},
        // Where the searches' vectors end: the last of 64, a tail past them, the last byte.
        {"line feed late in long bases",
         {fastq("r", std::string(70, 'A') + "\n" + std::string(29, 'C'))},
         "its bases hold a line feed"},
        {"zero byte last of long bases", {fastq("r", std::string(99, 'A') + '\0')}, "zero byte"},
        {"quality -33 last of 64",
         {withQual(fastq("r", std::string(64, 'A')), 63, -33)},
         "zero byte"},
        {"quality -23 in a tail",
         {withQual(fastq("r", std::string(97, 'A')), 95, -23)},
         "line feed"},
        {"quality -1 among the first 20",
         {withQual(fastq("r", std::string(30, 'A')), 19, -1)},
         "-1 would be a blank among the first 20, which selects the numeric reading"},
        {"FASTA after FASTQ",
         {fastq("q", "AC"), fasta("r", "AC")},
         "(\"r\") cannot be written: a FASTA entry cannot follow a FASTQ entry"},
        // A carriage return that would end a line is read by the stream as its line end.
        {"CR ending the name",
         {fastq("r\r", "AC")},
         "its name ends in a carriage return, which the stream would read as the line's end"},
        {"CR ending the comment",
         {withComment(fastq("r", "AC"), "x\r")},
         "its comment ends in a carriage return, which the stream would read as the line's end"},
        {"CR as the last base",
         {fastq("r", "AC\r")},
         "base 3: a carriage return would end a line of its bases, which the stream would read as "
         "the line's end"},
        {"CR ending a wrapped line",
         {fasta("r", "AC\rGT")},
         "base 3: a carriage return would end a line of its bases, which the stream would read as "
         "the line's end",
         3},
        {"last quality -20",
         {withQual(fastq("r", "ACGT"), 3, -20)},
         "its last quality value -20 would be a carriage return, which the stream would read as "
         "the line's end"},
        {"CR inside lines, -20 before the last",
         {withQual(fastq("r\rs", "A\rCG"), 2, -20), fasta("f", "A\rC")},
         ""},
        {"FASTQ after FASTA", {fasta("q", "AC"), fastq("r", "AC")}, "cannot follow a FASTA entry"},
        // What reads back is written, however odd.
        {"empty comment, tab and CR in the name",
         {withComment(fastq("r\t1\r", "AC"), ""), withComment(fastq("s", "GT"), " a  b ")},
         ""},
        {"@ as first base and first quality",
         {withQual(fastq("@r", "@AC"), 0, 31), fasta("f", "@A+>")},
         ""},
        {"every other quality value",
         {fastq("r", std::string(extremes.size(), 'A'), extremes)},
         ""},
        {"-1 after the first 20", {withQual(fastq("r", std::string(30, 'A')), 20, -1)}, ""},
        {"empty name and empty entries", {fastq("", ""), fastq("e", ""), fasta("", "")}, ""},
        // FASTA in lines of a width: a line may start with "@", not with "+" or ">".
        {"+ starting a wrapped line",
         {fasta("r", "ACG+T")},
         "base 4: \"+\" would start a line of its bases and end them",
         3},
        {"> starting a wrapped line",
         {fasta("r", std::string(120, 'A') + ">C")},
         "base 121: \">\" would start a line of its bases and end them",
         60},
        {"wrapped lines, + and > inside them, @ starting one",
         {fasta("r", "AC+@>+G"), fasta("s", "ACGTAC"), fasta("t", "AC"), fasta("u", ""),
          fasta("v", "A@")},
         "",
         3},
        {"FASTQ is never wrapped", {fastq("r", "ACG+T>")}, "", 3},
        {"lines of one base", {fasta("r", "ACGT@")}, "", 1},
    };
    const std::string path = scratch("refusal.fq");
    for (const RefusalCase &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Made> made = c.batch;
        made.insert(made.begin(), made[0].fasta ? fasta("first", "ACGT") : fastq("first", "ACGT"));
        // A FASTQ entry and a FASTA one of the last rows go to writers of their own.
        std::vector<std::vector<SeqEntry>> runs(1);
        for (Made &m : made) {
            if (!c.refusal.empty() || runs.back().empty() || runs.back().back().is_fasta == m.fasta)
                runs.back().push_back(m.entry());
            else
                runs.push_back({m.entry()});
        }
        // With the writer's slots, and with slots so small that every entry crosses them.
        for (const size_t slot : {size_t{0}, size_t{7}})
            for (const std::vector<SeqEntry> &run : runs) {
                std::ofstream(path) << "kept\n";
                FastqWriterOptions o{};
                o.size = sizeof o;
                o.threads = 2;
                o.fasta_width = c.width;
                FastqWriter *w = slot ? fast::openWriter(path.c_str(), &o, slot)
                                      : openFastqWriterWith(path.c_str(), &o);
                ASSERT_NE(nullptr, w);
                ASSERT_EQ(nullptr, fastqWriterError(w));
                ASSERT_EQ(0, writeFastqBatch(w, run.data(), 1));
                const int32_t rc =
                    writeFastqBatch(w, run.data() + 1, static_cast<int32_t>(run.size() - 1));
                if (c.refusal.empty()) {
                    ASSERT_EQ(0, rc) << fastqWriterError(w);
                    ASSERT_EQ(0, finishFastqWriter(w));
                    closeFastqWriter(w);
                    int32_t count = 0;
                    int64_t total = 0;
                    SeqEntry *back = nullptr;
                    toolkit::capture([&] { back = decodeFastq2(path.c_str(), &count, &total, 0); });
                    ASSERT_NE(nullptr, back);
                    EXPECT_EQ(show(run.data(), static_cast<int32_t>(run.size())),
                              show(back, count));
                    EXPECT_EQ(show(back, count), toolkit::streamed(path.c_str(), 0, 1).records);
                    EXPECT_EQ(run[0].is_fasta, back[count - 1].is_fasta);
                    free(back[0].name);
                    free(back);
                    // FASTQ on four lines, FASTA bases on lines of the width.
                    size_t lines = 0;
                    for (const SeqEntry &e : run)
                        lines += e.is_fasta
                                     ? 1 + std::max<size_t>(
                                               1, c.width ? (e.length + c.width - 1) / c.width : 1)
                                     : 4;
                    const std::string text = slurp(path);
                    EXPECT_EQ(lines,
                              static_cast<size_t>(std::count(text.begin(), text.end(), '\n')));
                    continue;
                }
                EXPECT_EQ(-1, rc);
                const std::string error = fastqWriterError(w);
                const std::string name = run[run.size() - 1].name;
                EXPECT_EQ(0u, error.rfind("entry ", 0)) << error;
                EXPECT_NE(std::string::npos, error.find("(\"" + name.substr(0, 100) + "\")"))
                    << error;
                EXPECT_EQ(c.refusal,
                          error.substr(error.size() - std::min(error.size(), c.refusal.size())));
                // The failure is final, and nothing replaces the file at the path.
                EXPECT_EQ(-1, writeFastqBatch(w, run.data(), 1));
                EXPECT_EQ(-1, finishFastqWriter(w));
                closeFastqWriter(w);
                EXPECT_EQ("kept\n", slurp(path));
                EXPECT_EQ(0, leftovers(path));
            }
    }
    std::remove(path.c_str());
}

// Runs `body` in a child and returns its exit status.
int inChild(const std::function<int()> &body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Lets files grow to `bytes` at most, a write past that failing with EFBIG.
void limitFileSize(rlim_t bytes) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_FSIZE, &limit);
}

// Runs `body`, which returns a writer's error, in a child under a file size limit of `bytes`:
// "File too large" when that is the error, else the child's status.
std::string underFileLimit(rlim_t bytes, const std::function<std::string()> &body) {
    const int status = inChild([&] {
        limitFileSize(bytes);
        return body() == "File too large" ? 0 : 1;
    });
    return status == 0 ? std::string("File too large") : "status " + std::to_string(status);
}

// Writes `megabytes` of entries to `path` with the writer's `flags`, to an unnamed file or a
// ".part" one; the writer's first error, "" when none.
std::string writeMegabytes(const char *path, int32_t format, int32_t threads, int megabytes,
                           int32_t flags = 0, bool unnamed = true) {
    Made m = fastq("read", std::string(1000, 'A'));
    std::vector<SeqEntry> batch(100, m.entry());
    std::mt19937 rng(1);
    return toolkit::writeEntries(path, format, threads, batch.data(), 100, rng, 10 * megabytes, 100,
                                 0, 0, flags, unnamed);
}

TEST(Writer, FailsOnTheSystemsErrorsAndLeavesNothing) {
    const std::string dir = scratch("faults");
    ::mkdir(dir.c_str(), 0755);
    const std::string kept = dir + "/kept.fq.gz";
    std::ofstream(kept) << "kept\n";
    struct Case {
        const char *what;
        std::function<std::string()> run;  // the writer's error
        std::string expected;
    };
    // Each case with an unnamed file and with a ".part" file beside the name, as file systems
    // without unnamed files get.
    bool unnamed = true;
    const Case cases[] = {
        {"a full device, plain", [] { return writeMegabytes("/dev/full", FAST_WRITE_PLAIN, 1, 2); },
         "No space left on device"},
        {"a full device, BGZF on helpers",
         [] { return writeMegabytes("/dev/full", FAST_WRITE_BGZF, 3, 2); },
         "No space left on device"},
        {"a file size limit",
         [&] {
             return underFileLimit(1 << 20, [&] {
                 return writeMegabytes(kept.c_str(), FAST_WRITE_PLAIN, 2, 4, 0, unnamed);
             });
         },
         "File too large"},
        {"a file size limit met at the end, without the sync",
         [&] {
             // The text stays in the writer's slot until the end.
             return underFileLimit(100 << 10, [&] {
                 Made m = fastq("read", std::string(1000, 'A'));
                 std::vector<SeqEntry> batch(200, m.entry());
                 std::mt19937 rng(1);
                 return toolkit::writeEntries(kept, FAST_WRITE_PLAIN, 1, batch.data(), 200, rng, 1,
                                              200, 0, 0, FAST_WRITE_NO_SYNC, unnamed);
             });
         },
         "File too large"},
        {"a folder that cannot be written",
         [&] {
             const int status = inChild([&] {
                 // Root writes anywhere: the child gives up its rights first.
                 if (geteuid() == 0 && setuid(65534) != 0) return 2;
                 errno = 0;
                 FastqWriter *w = openFastqWriter(kept.c_str(), FAST_WRITE_AUTO, 0, 0);
                 return w == nullptr && errno == EACCES ? 0 : 1;
             });
             return status == 0 ? std::string("EACCES") : "status " + std::to_string(status);
         },
         "EACCES"},
        {"a closed pipe",
         [] {
             // Standard output is the pipe, whose reader has gone.
             int fds[2];
             if (pipe(fds) != 0) return std::string("pipe");
             ::close(fds[0]);
             std::fflush(stdout);
             const int saved = dup(1);
             dup2(fds[1], 1);
             ::close(fds[1]);
             const auto old = signal(SIGPIPE, SIG_IGN);
             const std::string error = writeMegabytes("-", FAST_WRITE_BGZF, 2, 2);
             signal(SIGPIPE, old);
             dup2(saved, 1);
             ::close(saved);
             return error;
         },
         "Broken pipe"},
    };
    for (const bool placement : {true, false}) {
        unnamed = placement;
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(c.what) + (unnamed ? ", unnamed" : ", .part file"));
            EXPECT_EQ(c.expected, c.run());
            EXPECT_EQ("kept\n", slurp(kept));
            EXPECT_EQ(0, leftovers(kept));
        }
    }
    // Without the sync, and with either placement, a finished file is in place and whole.
    for (const bool placement : {true, false}) {
        EXPECT_EQ("", writeMegabytes(kept.c_str(), FAST_WRITE_PLAIN, 0, 1, FAST_WRITE_NO_SYNC,
                                     placement));
        EXPECT_EQ(1000u * (6 + 1001 + 2 + 1001), slurp(kept).size());
        EXPECT_EQ(0, leftovers(kept));
    }
    std::ofstream(kept) << "kept\n";

    // What cannot be opened, with errno, through both entry points; the options' own
    // refusals through openFastqWriterWith() alone. Error 0: it opens.
    struct Open {
        std::string path;
        int32_t format, level, threads;
        int error;
        int32_t flags = 0, width = 0;
        int32_t size = sizeof(FastqWriterOptions);
        int32_t after = 0;  // a field of a later version, past the known ones
        int64_t spacing = 0;
    };
    const int32_t larger = sizeof(FastqWriterOptions) + 4;
    const Open opens[] = {
        {dir, FAST_WRITE_PLAIN, 0, 0, EISDIR},
        {dir + "/missing/r.fq", FAST_WRITE_PLAIN, 0, 0, ENOENT},
        {dir + "/r.fq.xz", FAST_WRITE_AUTO, 0, 0, EINVAL},
        {dir + "/r.fq.bz2", FAST_WRITE_AUTO, 0, 0, EINVAL},
        {dir + "/r.fq", 4, 0, 0, EINVAL},
        {dir + "/r.fq", FAST_WRITE_PLAIN, 1, 0, EINVAL},
        {dir + "/r.fq", FAST_WRITE_BGZF, 10, 0, EINVAL},
        {dir + "/r.fq", FAST_WRITE_ZSTD, 20, 0, EINVAL},
        {dir + "/r.fq", FAST_WRITE_BGZF, -1, 0, EINVAL},
        {dir + "/r.fq", FAST_WRITE_BGZF, 0, -1, EINVAL},
        {dir + "/r.fq", 0, 0, 0, EINVAL, 4},
        {"-", 0, 0, 0, EINVAL, FAST_WRITE_INDEX},
        {"/dev/null", 0, 0, 0, EINVAL, FAST_WRITE_INDEX},
        {dir + "/r.fq", 0, 0, 0, EINVAL, FAST_WRITE_INDEX, 0, sizeof(FastqWriterOptions), 0, -1},
        {dir + "/r.fq", 0, 0, 0, 0, FAST_WRITE_NO_SYNC, 0, 24},
        {dir + "/r.fq", 0, 0, 0, EINVAL, FAST_WRITE_NO_SYNC | INT32_MIN},
        {dir + "/r.fq", 0, 0, 0, EINVAL, 0, -1},
        {dir + "/r.fq", 0, 0, 0, EINVAL, 0, 0, 0},
        {dir + "/r.fq", 0, 0, 0, EINVAL, 0, 0, sizeof(FastqWriterOptions) - 4},
        {dir + "/r.fq", 0, 0, 0, EINVAL, 0, 0, larger, 1},
        {dir + "/r.fq", 0, 0, 0, 0, FAST_WRITE_NO_SYNC, 60, larger, 0},
        {dir + "/r.fq.gz", FAST_WRITE_AUTO, 9, 3, 0, FAST_WRITE_NO_SYNC, INT32_MAX},
    };
    for (const Open &o : opens) {
        SCOPED_TRACE(o.path + " " + std::to_string(o.format) + " " + std::to_string(o.level) +
                     " flags " + std::to_string(o.flags) + " width " + std::to_string(o.width) +
                     " size " + std::to_string(o.size));
        struct {
            FastqWriterOptions known;
            int32_t after;
        } options{{o.size, o.format, o.level, o.threads, o.flags, o.width, o.spacing}, o.after};
        errno = 0;
        FastqWriter *w = openFastqWriterWith(o.path.c_str(), &options.known);
        EXPECT_EQ(o.error == 0, w != nullptr);
        if (!w) {
            EXPECT_EQ(o.error, errno);
        }
        closeFastqWriter(w);
        if (o.flags || o.width || o.size != sizeof(FastqWriterOptions)) continue;
        errno = 0;
        EXPECT_EQ(nullptr, openFastqWriter(o.path.c_str(), o.format, o.level, o.threads));
        EXPECT_EQ(o.error, errno);
    }
    EXPECT_EQ(nullptr, openFastqWriter(nullptr, FAST_WRITE_PLAIN, 0, 0));
    EXPECT_EQ(nullptr, openFastqWriterWith(nullptr, nullptr));
    // No options are the defaults.
    FastqWriter *defaults = openFastqWriterWith((dir + "/d.fq").c_str(), nullptr);
    EXPECT_NE(nullptr, defaults);
    EXPECT_EQ(0, finishFastqWriter(defaults));
    closeFastqWriter(defaults);
    EXPECT_EQ("", slurp(dir + "/d.fq"));
    std::remove((dir + "/d.fq").c_str());

    // Closed before finishing, on helpers and with text still in flight: nothing is left.
    Made m = fastq("r", std::string(5000, 'C'));
    std::vector<SeqEntry> batch(500, m.entry());
    FastqWriter *w = openFastqWriter(kept.c_str(), FAST_WRITE_BGZF, 0, 3);
    ASSERT_NE(nullptr, w);
    EXPECT_EQ(0, writeFastqBatch(w, batch.data(), 500));
    closeFastqWriter(w);
    EXPECT_EQ("kept\n", slurp(kept));
    EXPECT_EQ(0, leftovers(kept));
    std::remove(kept.c_str());
    ::rmdir(dir.c_str());
}

TEST(Writer, PairsAreCheckedAndEndTogether) {
    struct Case {
        const char *first, *second;
        std::string error;  // "" when written
    };
    const Case cases[] = {
        {"r1", "r1", ""},
        {"r1/1", "r1/2", ""},
        {"r1/1", "r1/1", ""},
        {"r1", "r2", "entry 3 has unpaired names: \"r1\" in the first file, \"r2\" in the second"},
        {"r1/1", "r1/3", "entry 3 has unpaired names"},
        {"r1/1\tBC", "r1/2", ""},
        {"r1", "r1/2\tRG:Z:1", ""},
        {"r 1", "r1", "entry 3 (\"r 1\") cannot be written: its name holds a blank"},
    };
    const std::string a = scratch("pair_1.fq.gz"), b = scratch("pair_2.fq.zst"),
                      c3 = scratch("pair_3.fq");
    const int32_t second_format =
        fast_test::reads(fast::Format::zstd) ? FAST_WRITE_AUTO : FAST_WRITE_BGZF;
    // Each case as two files, as one file of interleaved mates (the pair is entries 5 and 6),
    // and as three files in step (the third named as the first).
    enum Shape { two, interleaved, three };
    for (const Case &c : cases)
        for (const Shape shape : {two, interleaved, three}) {
            SCOPED_TRACE(std::string(c.first) + " / " + c.second + ", shape " +
                         std::to_string(shape));
            std::string error = c.error;
            if (shape == interleaved && error.rfind("entry 3 has", 0) == 0)
                error = "entries 5 and 6 have unpaired names";
            else if (shape == interleaved && !error.empty())
                error.replace(0, 7, "entry 5");
            Made x[3] = {fastq("p/1", "AC"), fastq("q/1", "AC"), fastq(c.first, "ACG")};
            Made y[3] = {fastq("p/2", "GT"), fastq("q/2", "GT"), fastq(c.second, "TTT")};
            SeqEntry ex[3], ey[3];
            for (int i = 0; i < 3; ++i) {
                ex[i] = x[i].entry();
                ey[i] = y[i].entry();
            }
            FastqWriter *first = openFastqWriter(a.c_str(), FAST_WRITE_AUTO, 0, 0);
            FastqWriter *second =
                shape == interleaved ? first : openFastqWriter(b.c_str(), second_format, 0, 0);
            FastqWriter *third = shape == three ? openFastqWriter(c3.c_str(), 0, 0, 1) : nullptr;
            ASSERT_TRUE(first && second && (shape != three || third));
            FastqWriter *all[] = {first, second, third};
            const int32_t files = shape == three ? 3 : shape == two ? 2 : 1;
            const auto write = [&](int from, int32_t n) {
                if (shape != three)
                    return writeFastqPairBatch(first, second, ex + from, ey + from, n);
                const SeqEntry *batches[] = {ex + from, ey + from, ex + from};
                return writeFastqBatches(all, 3, batches, n);
            };
            ASSERT_EQ(0, write(0, 2));
            const int32_t rc = write(2, 1);
            if (error.empty()) {
                EXPECT_EQ(0, rc);
                EXPECT_EQ(0, finishFastqWriters(all, files));
                const toolkit::Streamed s1 = toolkit::streamed(a.c_str(), 0, 1);
                if (shape == interleaved) {
                    const SeqEntry turns[] = {ex[0], ey[0], ex[1], ey[1], ex[2], ey[2]};
                    EXPECT_EQ(show(turns, 6), s1.records);
                    // Read back as pairs from the one file.
                    FastqStream *s = openFastqStream(a.c_str(), 1, 1);
                    SeqEntry *u = nullptr, *v = nullptr;
                    int32_t pairs = 0, n;
                    while ((n = readFastqPairBatch(s, s, &u, &v)) > 0) {
                        EXPECT_EQ(show(ey + pairs, n), show(v, n));
                        pairs += n;
                    }
                    EXPECT_EQ(0, n);
                    EXPECT_EQ(3, pairs);
                    closeFastqStream(s);
                } else {
                    EXPECT_EQ(show(ex, 3), s1.records);
                    EXPECT_EQ(show(ey, 3), toolkit::streamed(b.c_str(), 0, 1).records);
                    if (shape == three) {
                        EXPECT_EQ(show(ex, 3), toolkit::streamed(c3.c_str(), 0, 1).records);
                    }
                }
            } else {
                EXPECT_EQ(-1, rc);
                EXPECT_EQ(error, std::string(fastqWriterError(first)).substr(0, error.size()));
                // Every writer fails, and no file is kept.
                for (int32_t i = 0; i < files; ++i) EXPECT_NE(nullptr, fastqWriterError(all[i]));
                EXPECT_EQ(-1, finishFastqWriters(all, files));
            }
            for (int32_t i = 0; i < files; ++i) closeFastqWriter(all[i]);
            EXPECT_EQ(error.empty(), exists(a));
            EXPECT_EQ(error.empty() && shape != interleaved, exists(b));
            EXPECT_EQ(error.empty() && shape == three, exists(c3));
            for (const std::string *path : {&a, &b, &c3}) std::remove(path->c_str());
        }

    // Finished together, a second file that fails at its end (over a file size limit, its
    // text written only then) keeps the first out of place too, and the files that were
    // there stay; finished one by one, the first would stay.
    for (const bool together : {true, false}) {
        SCOPED_TRACE(together ? "together" : "one by one");
        std::ofstream(a) << "old 1\n";
        std::ofstream(b) << "old 2\n";
        const int status = inChild([&] {
            limitFileSize(100 << 10);
            Made x = fastq("r/1", std::string(100, 'A')), y = fastq("r/2", std::string(1000, 'C'));
            std::vector<SeqEntry> ex(200, x.entry()), ey(200, y.entry());
            FastqWriter *w[2] = {openFastqWriter(a.c_str(), FAST_WRITE_PLAIN, 0, 1),
                                 openFastqWriter(b.c_str(), FAST_WRITE_PLAIN, 0, 1)};
            if (!w[0] || !w[1] || writeFastqPairBatch(w[0], w[1], ex.data(), ey.data(), 200) != 0)
                return 2;
            const bool failed = together
                                    ? finishFastqWriters(w, 2) == -1
                                    : finishFastqWriter(w[0]) == 0 && finishFastqWriter(w[1]) == -1;
            const std::string first = fastqWriterError(w[0]) ? fastqWriterError(w[0]) : "";
            const bool said = !together || first == "file 2: File too large";
            const bool second =
                fastqWriterError(w[1]) && std::string(fastqWriterError(w[1])) == "File too large";
            closeFastqWriter(w[0]);
            closeFastqWriter(w[1]);
            return failed && said && second ? 0 : 1;
        });
        EXPECT_EQ(0, status);
        EXPECT_EQ(together
                      ? "old 1\n"
                      : "@r/1\n" + std::string(100, 'A') + "\n+\n" + std::string(100, '?') + "\n",
                  slurp(a).substr(0, together ? std::string::npos : 209));
        EXPECT_EQ("old 2\n", slurp(b));
        EXPECT_EQ(0, leftovers(a) + leftovers(b));
    }
    std::remove(a.c_str());
    std::remove(b.c_str());
    // Writers that cannot be finished together.
    FastqWriter *w = openFastqWriter(a.c_str(), FAST_WRITE_PLAIN, 0, 1);
    FastqWriter *twice[2] = {w, w}, *none[2] = {w, nullptr};
    for (const auto &call :
         std::vector<std::function<int32_t()>>{[&] { return finishFastqWriters(twice, 2); },
                                               [&] { return finishFastqWriters(none, 2); },
                                               [&] { return finishFastqWriters(nullptr, 1); },
                                               [&] { return finishFastqWriters(twice, -1); }}) {
        errno = 0;
        EXPECT_EQ(-1, call());
        EXPECT_EQ(EINVAL, errno);
    }
    EXPECT_EQ(0, finishFastqWriters(nullptr, 0));
    EXPECT_EQ(0, finishFastqWriters(twice, 1));
    EXPECT_EQ(0, finishFastqWriters(twice, 1));  // finished stays finished
    closeFastqWriter(w);
    EXPECT_EQ("", slurp(a));
    std::remove(a.c_str());
}

// The names in `dir` and the size of each, sorted.
std::vector<std::string> listing(const std::string &dir) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR *)> d(opendir(dir.c_str()), closedir);
    while (d)
        if (const dirent *e = readdir(d.get())) {
            const std::string name = e->d_name;
            if (name != "." && name != "..")
                names.push_back(name + " " + std::to_string(slurp(dir + "/" + name).size()));
        } else {
            break;
        }
    std::sort(names.begin(), names.end());
    return names;
}

// A copy killed with SIGKILL at any moment leaves its folder as it was: on the test's scratch
// folder and in memory (tmpfs), with text in flight on helpers, while writing, and while
// finishing a file whose name is free (which is then either not there or whole).
TEST(Writer, AKilledCopyLeavesTheFolderAsItWas) {
    std::vector<std::string> folders = {scratch("killed")};
    struct stat st;
    if (::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && ::access("/dev/shm", W_OK) == 0)
        folders.push_back("/dev/shm/writer_" + std::to_string(getpid()) + "_killed");
    enum Moment { opened, in_flight, writing, finishing };
    const char *const kMoments[] = {"opened", "text in flight", "writing", "finishing"};
    Made m = fastq("read", std::string(1000, 'G'));
    std::vector<SeqEntry> batch(1000, m.entry());  // 2 MB
    const size_t whole = 10 * batch.size() * (6 + 1001 + 2 + 1001);
    for (const std::string &dir : folders) {
        ::mkdir(dir.c_str(), 0755);
        const std::string kept = dir + "/kept.fq.gz", fresh = dir + "/new.fq";
        std::ofstream(kept) << "kept\n";
        const std::vector<std::string> before = listing(dir);
        for (const Moment moment : {opened, in_flight, writing, finishing}) {
            SCOPED_TRACE(dir + ", " + kMoments[moment]);
            int ready[2];
            ASSERT_EQ(0, pipe(ready));
            std::fflush(nullptr);
            const pid_t pid = fork();
            if (pid == 0) {
                ::close(ready[0]);
                FastqWriter *w[2] = {openFastqWriter(kept.c_str(), FAST_WRITE_BGZF, 0, 3),
                                     openFastqWriter(fresh.c_str(), FAST_WRITE_PLAIN, 0, 2)};
                for (int round = 0; round < (moment == opened ? 0 : 10); ++round)
                    if (writeFastqBatch(w[moment == finishing], batch.data(), 1000) != 0) _exit(2);
                if (::write(ready[1], "!", 1) != 1) _exit(2);
                while (moment == writing) writeFastqBatch(w[0], batch.data(), 1000);
                if (moment == finishing) finishFastqWriter(w[1]);
                for (;;) pause();
            }
            ::close(ready[1]);
            char byte = 0;
            EXPECT_EQ(1, ::read(ready[0], &byte, 1));
            ::close(ready[0]);
            if (moment == writing) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ::kill(pid, SIGKILL);
            int status = 0;
            waitpid(pid, &status, 0);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
            std::vector<std::string> after = listing(dir);
            // A finish that ended before the kill has put the whole file in place.
            const std::string done = "new.fq " + std::to_string(whole);
            after.erase(std::remove(after.begin(), after.end(), done), after.end());
            EXPECT_EQ(before, after);
            EXPECT_EQ("kept\n", slurp(kept));
            std::remove(fresh.c_str());
        }
        std::remove(kept.c_str());
        EXPECT_EQ(0, ::rmdir(dir.c_str()));
    }
}

// The tools of each format accept what is written: several BGZF blocks on helpers, and a zstd
// frame on libzstd's workers.
TEST(Writer, OutsideToolsReadWhatIsWritten) {
    const std::string gz = scratch("tools.fq.gz"), zst = scratch("tools.fq.zst");
    ASSERT_EQ("", writeMegabytes(gz.c_str(), FAST_WRITE_AUTO, 0, 1));
    std::vector<std::string> checks = {"gzip -t '" + gz + "'"};
    if (std::system("command -v bgzip >/dev/null 2>&1") == 0)
        checks.push_back("bgzip -t '" + gz + "'");
    if (fast_test::reads(fast::Format::zstd)) {
        ASSERT_EQ("", writeMegabytes(zst.c_str(), FAST_WRITE_AUTO, 0, 1));
        checks.push_back("zstd -q -t '" + zst + "'");
    }
    for (const std::string &check : checks) EXPECT_EQ(0, std::system(check.c_str())) << check;
    // BGZF ends with the empty block, and every block states its size.
    const std::string bytes = slurp(gz);
    ASSERT_GT(bytes.size(), 28u);
    EXPECT_EQ(
        std::string("\x1f\x8b\x08\x04\0\0\0\0\0\xff\x06\0BC\x02\0\x1b\0\x03\0\0\0\0\0\0\0\0\0", 28),
        bytes.substr(bytes.size() - 28));
    size_t blocks = 0;
    for (size_t at = 0; at < bytes.size(); ++blocks) {
        const size_t size = fast::bgzfBlockSize(
            reinterpret_cast<const unsigned char *>(bytes.data()) + at, bytes.size() - at);
        ASSERT_GT(size, 0u) << "at " << at;
        at += size;
    }
    EXPECT_GT(blocks, 16u);
    std::remove(gz.c_str());
    std::remove(zst.c_str());
}

}  // namespace
