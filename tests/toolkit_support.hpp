// Helpers of the toolkit tests: text files, captured standard streams, records as text.
#ifndef FAST_TOOLKIT_SUPPORT_HPP
#define FAST_TOOLKIT_SUPPORT_HPP

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <csignal>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "compressed_text.hpp"
#include "fast.h"
#include "fastq/stream.hpp"
#include "fastq/writer.hpp"

namespace toolkit {

// A file holding `text`, removed when the object goes.
class TextFile {
  public:
    explicit TextFile(const std::string &text) {
        static int serial = 0;
        path_ = testing::TempDir() + "toolkit_" + std::to_string(getpid()) + "_" +
                std::to_string(serial++) + ".txt";
        std::ofstream(path_, std::ios::binary) << text;
    }
    ~TextFile() { std::remove(path_.c_str()); }
    TextFile(const TextFile &) = delete;
    TextFile &operator=(const TextFile &) = delete;
    const char *path() const { return path_.c_str(); }

  private:
    std::string path_;
};

// `text` as gzip members of at most `member` bytes of text each (one member when 0).
inline std::string gzipped(const std::string &text, int level, size_t member = 0) {
    return fast_test::gzipMembers(text.data(), text.size(), level, member);
}

constexpr fast::Format kFormats[] = {fast::Format::gzip, fast::Format::zstd, fast::Format::xz,
                                     fast::Format::bzip2};

// What extractFastq and decodeFastq print for a file compressed in `format`.
inline std::string pairRefusal(const char *path, fast::Format format) {
    return "error: " + std::string(path) + " is " + fast_test::name(format) + "-compressed; " +
           (fast_test::reads(format)
                ? std::string("decodeFastq2 reads compressed files")
                : "this build reads " + std::string(fast::readableFormats()) + " text") +
           "\n";
}

// A pipe that a thread fills with `text`, read through its path; the thread ends with the
// object, also when the reader stopped early.
class PipeFile {
  public:
    // With `piece`, the text goes into the pipe at most that many bytes a write, so that the
    // reader's reads are as short.
    explicit PipeFile(std::string text, size_t piece = 0) : text_(std::move(text)) {
        std::signal(SIGPIPE, SIG_IGN);
        int fds[2];
        EXPECT_EQ(0, pipe(fds));
        read_fd_ = fds[0];
        path_ = "/proc/self/fd/" + std::to_string(read_fd_);
        writer_ = std::thread([this, fd = fds[1], piece] {
            for (size_t at = 0; at < text_.size();) {
                const size_t left = text_.size() - at;
                const ssize_t n =
                    write(fd, text_.data() + at, piece ? std::min(piece, left) : left);
                if (n <= 0) break;
                at += static_cast<size_t>(n);
            }
            close(fd);
        });
    }
    ~PipeFile() {
        close(read_fd_);
        writer_.join();
    }
    PipeFile(const PipeFile &) = delete;
    PipeFile &operator=(const PipeFile &) = delete;
    const char *path() const { return path_.c_str(); }

  private:
    std::string text_, path_;
    int read_fd_ = -1;
    std::thread writer_;
};

inline std::string readFile(std::FILE *f) {
    std::rewind(f);
    std::string s;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) s.append(chunk, n);
    std::fclose(f);
    return s;
}

struct Output {
    std::string out;
    std::string err;
};

// Runs `call` with descriptors 1 and 2 on scratch files; with `merged` both go to one file
// (returned in out), which shows the order in which the two streams were written.
inline Output capture(const std::function<void()> &call, bool merged = false) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::FILE *out = std::tmpfile();
    std::FILE *err = merged ? out : std::tmpfile();
    const int saved_out = dup(1), saved_err = dup(2);
    dup2(fileno(out), 1);
    dup2(fileno(err), 2);
    call();
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(saved_out);
    close(saved_err);
    Output o;
    o.out = readFile(out);
    if (!merged) o.err = readFile(err);
    return o;
}

// One record as "name|comment|bases|quals": "-" for a null comment or null quals, the
// quality values as comma-separated numbers.
inline std::string show(const SeqEntry &e) {
    std::string s = e.name ? e.name : "(null)";
    s += "|" + std::string(e.comment ? e.comment : "-") + "|" +
         std::string(e.bases ? e.bases : "", e.bases ? static_cast<size_t>(e.length) : 0) + "|";
    if (!e.quals) return s + "-";
    for (int32_t i = 0; i < e.length; ++i) s += (i ? "," : "") + std::to_string(e.quals[i]);
    return s;
}

inline std::vector<std::string> show(const SeqEntry *e, int32_t n) {
    std::vector<std::string> v;
    for (int32_t i = 0; i < n; ++i) v.push_back(show(e[i]));
    return v;
}

// Entry kind must agree with the quality pointer for every decoded record.
inline bool kindsAgree(const SeqEntry *e, int32_t n) {
    for (int32_t i = 0; i < n; ++i)
        if ((e[i].is_fasta != 0) != (e[i].quals == nullptr)) return false;
    return true;
}

// What a stream gives for a text: its entries as show() writes them, the entries it skipped,
// and how it ended (0 or -1, with the stream's error).
struct Streamed {
    std::vector<std::string> records;
    int64_t skipped = 0;
    int end = 0;
    std::string error;
};

// Reads a stream of batch_bytes batches to its end and closes it, checking that no batch is
// empty and that batches of 1 byte hold one entry each.
inline Streamed drained(FastqStream *stream, int64_t batch_bytes) {
    Streamed s;
    if (!stream) return s;
    SeqEntry *e = nullptr;
    int32_t n;
    while ((n = readFastqBatch(stream, &e)) > 0) {
        EXPECT_TRUE(batch_bytes != 1 || n == 1) << n;
        const fast::HeaderLengths *lengths = fast::headerLengths(stream);
        for (int32_t i = 0; i < n; ++i) {
            s.records.push_back(show(e[i]));
            EXPECT_TRUE(e[i].aux == 0 && e[i].aux_text == nullptr);
            if (!lengths) continue;
            EXPECT_EQ(std::strlen(e[i].name), static_cast<size_t>(lengths[i].name));
            EXPECT_EQ(e[i].comment ? std::strlen(e[i].comment) : 0,
                      static_cast<size_t>(lengths[i].comment));
        }
        EXPECT_TRUE(kindsAgree(e, n));
    }
    EXPECT_TRUE(n == 0 || n == -1) << n;
    s.end = n;
    s.skipped = fastqStreamSkipped(stream);
    if (const char *why = fastqStreamError(stream)) s.error = why;
    EXPECT_EQ(n == -1, fastqStreamError(stream) != nullptr);
    // The end and a failure are final.
    EXPECT_EQ(n, readFastqBatch(stream, &e));
    closeFastqStream(stream);
    return s;
}

// Reads `path` through a stream of batch_bytes batches, `threads` threads and blocks of `block`
// bytes read ahead (0 for the stream's own choice).
inline Streamed streamed(const char *path, int64_t batch_bytes, int32_t threads, size_t block = 0) {
    FastqStream *stream = fast::openStream(path, batch_bytes, threads, block);
    EXPECT_NE(nullptr, stream) << path;
    return drained(stream, batch_bytes);
}

// The file's index, built with a small spacing so that it has many points, gives back exactly
// the sequential entries: every split count up to `most_splits` (their spans together, in
// order), and ranges from every entry (or `ranges` random ones) to the next few and to the end.
inline void checkIndexed(const char *path, const std::vector<std::string> &want, int64_t spacing,
                         int32_t most_splits, int ranges, std::mt19937 &rng, bool build = true) {
    SCOPED_TRACE(std::string("indexed ") + path + ", spacing " + std::to_string(spacing));
    const std::string ridx = std::string(path) + ".ridx";
    if (build) {
        FastqIndex *built = indexFastq(path, nullptr, spacing, 1 + static_cast<int32_t>(rng() % 2));
        ASSERT_NE(nullptr, built);
        ASSERT_EQ(nullptr, fastqIndexError(built)) << fastqIndexError(built);
        closeFastqIndex(built);
    }
    FastqIndex *index = loadFastqIndex(path, nullptr);
    ASSERT_EQ(nullptr, fastqIndexError(index)) << fastqIndexError(index);
    const int64_t n = static_cast<int64_t>(want.size());
    ASSERT_EQ(n, fastqIndexEntries(index));
    const auto range = [&](int64_t first, int64_t end) {
        const int64_t batch = rng() % 2 ? 1 + rng() % 400 : 0;
        const Streamed s = drained(
            openFastqIndexRange(index, first, end, batch, 1 + static_cast<int32_t>(rng() % 2)),
            batch);
        EXPECT_EQ(0, s.end) << s.error;
        return s.records;
    };
    std::vector<int64_t> bounds(static_cast<size_t>(most_splits) + 1);
    for (int32_t k = 1; k <= most_splits; ++k) {
        const int32_t got = fastqIndexSplits(index, k, bounds.data());
        ASSERT_TRUE(n == 0 ? got == 0 : got >= 1 && got <= k) << got;
        std::vector<std::string> all;
        for (int32_t j = 0; j < got; ++j) {
            EXPECT_LT(bounds[j], bounds[j + 1]);
            const std::vector<std::string> part = range(bounds[j], bounds[j + 1]);
            all.insert(all.end(), part.begin(), part.end());
        }
        EXPECT_EQ(0, bounds[0]);
        EXPECT_EQ(want, all) << k << " splits";
    }
    for (int r = 0; n > 0 && r < (ranges < 0 ? static_cast<int>(n) : ranges); ++r) {
        const int64_t first = ranges < 0 ? r : static_cast<int64_t>(rng() % n);
        const int64_t end = std::min<int64_t>(n, first + 1 + static_cast<int64_t>(rng() % 3));
        const std::vector<std::string> tail = range(first, n);
        EXPECT_EQ(std::vector<std::string>(want.begin() + first, want.end()), tail) << first;
        EXPECT_EQ(std::vector<std::string>(want.begin() + first, want.begin() + end),
                  range(first, end))
            << first << " to " << end;
    }
    closeFastqIndex(index);
    // With the index beside it, the stream reads the file's spans on helpers, alone and as
    // both files of a pair, and gives the same entries; a BGZF file's only with eight helpers
    // or more.
    for (const int32_t threads : {0, 9}) {
        const int64_t batch = rng() % 2 ? 1 + rng() % 400 : 0;
        const Streamed s = drained(openFastqStream(path, batch, threads), batch);
        EXPECT_EQ(want, s.records) << "threads " << threads;
        EXPECT_EQ(0, s.end) << s.error;
        FastqStream *a = openFastqStream(path, batch, threads);
        FastqStream *b = openFastqStream(path, batch, threads);
        ASSERT_TRUE(a && b);
        SeqEntry *x = nullptr, *y = nullptr;
        int32_t got;
        std::vector<std::string> firsts;
        while ((got = readFastqPairBatch(a, b, &x, &y)) > 0)
            for (int32_t i = 0; i < got; ++i) {
                firsts.push_back(show(x[i]));
                EXPECT_EQ(firsts.back(), show(y[i]));
            }
        EXPECT_EQ(0, got) << fastqStreamError(a);
        EXPECT_EQ(want, firsts) << "pairs, threads " << threads;
        closeFastqStream(a);
        closeFastqStream(b);
        // Mates in turn, and three files in step, are read in order, with the same result as
        // on one thread, which reads no spans.
        const auto interleaved = [&](int32_t t) {
            FastqStream *s = openFastqStream(path, batch, t);
            std::vector<std::string> mates;
            SeqEntry *x = nullptr, *y = nullptr;
            int32_t got;
            while ((got = readFastqPairBatch(s, s, &x, &y)) > 0)
                for (int32_t i = 0; i < got; ++i) mates.push_back(show(x[i]) + show(y[i]));
            const char *why = got ? fastqStreamError(s) : nullptr;
            mates.push_back(std::to_string(got) + (why ? why : ""));
            closeFastqStream(s);
            return mates;
        };
        EXPECT_EQ(interleaved(1), interleaved(threads)) << "interleaved, threads " << threads;
        FastqStream *three[] = {openFastqStream(path, batch, threads),
                                openFastqStream(path, batch, 1),
                                openFastqStream(path, batch, threads)};
        SeqEntry *e3[3];
        std::vector<std::string> thirds;
        while ((got = readFastqBatches(three, 3, e3)) > 0)
            for (int32_t i = 0; i < got; ++i) {
                thirds.push_back(show(e3[2][i]));
                EXPECT_EQ(thirds.back(), show(e3[0][i]));
            }
        EXPECT_EQ(0, got) << fastqStreamError(three[0]);
        EXPECT_EQ(want, thirds) << "three files, threads " << threads;
        for (FastqStream *s : three) closeFastqStream(s);
    }
    std::remove(ridx.c_str());
}

// The bytes of the file at `path`, or "" when it cannot be read.
inline std::string slurp(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// Writes entries [0, n) `times` times over to `path` through a writer of `format` and
// `threads`, in batches of 1 to `most` entries cut by `rng`, with slots of `slot` bytes (0: the
// writer's own), FASTA lines of `width` bases, the writer's `flags` and an unnamed file or not
// and split points `spacing` apart for an index; the writer's error, "" when every call
// succeeded.
template <class Rng>
std::string writeEntries(const std::string &path, int32_t format, int32_t threads,
                         const SeqEntry *e, int32_t n, Rng &rng, int times = 1, int most = 5,
                         size_t slot = 0, int32_t width = 0, int32_t flags = 0, bool unnamed = true,
                         int64_t spacing = 0) {
    FastqWriterOptions o{};
    o.size = sizeof o;
    o.format = format;
    o.threads = threads;
    o.fasta_width = width;
    o.flags = flags;
    o.index_spacing = spacing;
    FastqWriter *w = fast::openWriter(path.c_str(), &o, slot, unnamed);
    if (!w) return std::string("open: ") + std::strerror(errno);
    int rc = 0;
    for (int t = 0; t < times && rc == 0; ++t)
        for (int32_t at = 0; at < n && rc == 0;) {
            const int32_t k = std::min<int32_t>(n - at, 1 + static_cast<int32_t>(rng() % most));
            rc = writeFastqBatch(w, e + at, k);
            at += k;
        }
    if (rc == 0) rc = finishFastqWriter(w);
    const std::string error = rc == 0 ? "" : fastqWriterError(w) ? fastqWriterError(w) : "?";
    closeFastqWriter(w);
    return error;
}

// The sanitizers reserve more address space than the tests' address limits leave.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define FAST_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define FAST_UNDER_SANITIZER 1
#endif
#endif

// Runs `body` in a child whose address space may grow by only `room` bytes, and returns what
// the child printed on standard output.
inline std::string underAddressLimit(size_t room, const std::function<void()> &body) {
    std::fflush(stdout);
    std::FILE *out = std::tmpfile();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fileno(out), 1);
        long pages = 0;
        if (std::FILE *statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
            std::fclose(statm);
        }
        const rlim_t limit = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + room;
        const rlimit rl{limit, limit};
        if (pages == 0 || setrlimit(RLIMIT_AS, &rl) != 0) _exit(3);
        body();
        std::fflush(stdout);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    return toolkit::readFile(out);
}

}  // namespace toolkit

#endif
