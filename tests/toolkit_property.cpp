// Both decoders against a plain line-by-line reader, on generated well-formed files: names
// with and without comments, reads of 0 to 300 bases, qualities that often start with "@",
// and, for decodeFastq2 and the stream, sequences and qualities wrapped over several lines,
// read plain, compressed in each format, as BGZF and through pipes. decodeFastq2's entries
// then go through the writer in every format and read back the same.
#include <optional>
#include <random>
#include <sstream>

#include "fastq/lines.hpp"
#include "toolkit_support.hpp"

using toolkit::capture;
using toolkit::gzipped;
using toolkit::show;
using toolkit::TextFile;

namespace {

struct Entry {
    std::string name;
    std::optional<std::string> comment;
    std::string bases;
    std::vector<int> quals;  // empty for FASTA
    bool numeric = false;
};

std::string pick(std::mt19937 &rng, const std::string &alphabet, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += alphabet[rng() % alphabet.size()];
    return s;
}

std::vector<Entry> makeEntries(std::mt19937 &rng, bool fasta) {
    std::vector<Entry> v(1 + rng() % 30);
    for (Entry &e : v) {
        e.name = pick(rng, "ACGTXYZabcxyz0123456789_.:-/", 1 + rng() % 25);
        const unsigned c = rng() % 4;
        if (c == 1) e.comment = "";
        if (c >= 2) e.comment = pick(rng, "abc 12:N:0 \t=xyz", 1 + rng() % 40);
        e.bases = pick(rng, "ACGTNacgtn", rng() % 301);
        if (fasta) continue;
        e.numeric = e.bases.size() >= 2 && rng() % 5 == 0;
        for (size_t i = 0; i < e.bases.size(); ++i)
            e.quals.push_back(e.numeric                    ? static_cast<int>(rng() % 100)
                              : (i == 0 && rng() % 3 == 0) ? 31
                                                           : static_cast<int>(rng() % 42));
    }
    return v;
}

// `text` with a carriage return before every line feed; with `cut_last`, without its last line
// feed, so that the last line ends in a carriage return alone.
std::string crlf(const std::string &text, bool cut_last) {
    std::string out;
    for (const char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    if (cut_last && !out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// Splits `s` into lines of `width` bytes (one line when width is 0).
std::string wrapped(const std::string &s, size_t width) {
    if (width == 0 || s.empty()) return s + "\n";
    std::string out;
    for (size_t i = 0; i < s.size(); i += width) out += s.substr(i, width) + "\n";
    return out;
}

std::string write(const std::vector<Entry> &entries, bool fasta, std::mt19937 &rng, bool wrap) {
    std::string text;
    for (const Entry &e : entries) {
        const size_t width = wrap ? 1 + rng() % 80 : 0;
        text += (fasta ? ">" : "@") + e.name + (e.comment ? " " + *e.comment : "") + "\n";
        text += wrapped(e.bases, width);
        if (fasta) continue;
        text += rng() % 2 ? "+\n" : "+" + e.name + "\n";
        if (!e.numeric) {
            std::string q;
            for (int v : e.quals) q += static_cast<char>(v + 33);
            text += wrapped(q, width);
            continue;
        }
        // Numbers over lines of at most `width` values (one line when not wrapping).
        const size_t per_line = wrap ? 2 + rng() % 20 : e.quals.size();
        for (size_t i = 0; i < e.quals.size(); ++i)
            text += std::to_string(e.quals[i]) +
                    ((i + 1) % per_line == 0 || i + 1 == e.quals.size() ? "\n" : " ");
    }
    return text;
}

// The plain reader: a header line, sequence lines up to "+" (or the next ">" header), then
// quality lines until there are as many values as bases.
std::vector<std::string> reference(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::vector<std::string> out;
    for (size_t i = 0; i < lines.size();) {
        const std::string header = lines[i++];
        const bool fasta = header[0] == '>';
        const size_t blank = header.find(' ');
        std::string shown = header.substr(1, blank == std::string::npos ? blank : blank - 1) + "|" +
                            (blank == std::string::npos ? "-" : header.substr(blank + 1)) + "|";
        std::string bases;
        while (i < lines.size() && lines[i][0] != (fasta ? '>' : '+')) bases += lines[i++];
        shown += bases + "|";
        if (fasta) {
            out.push_back(shown + "-");
            continue;
        }
        ++i;
        std::vector<int> quals;
        const bool numeric = i < lines.size() && lines[i].find(' ') != std::string::npos;
        do {
            std::istringstream values(lines[i]);
            if (numeric)
                for (int v; values >> v;) quals.push_back(v);
            else
                for (char c : lines[i]) quals.push_back(c - 33);
            ++i;
        } while (quals.size() < bases.size());
        for (size_t k = 0; k < quals.size(); ++k)
            shown += (k ? "," : "") + std::to_string(quals[k]);
        out.push_back(shown);
    }
    return out;
}

struct Decoded {
    std::vector<std::string> records;
    std::string out;
    bool operator==(const Decoded &o) const { return records == o.records && out == o.out; }
};

// decodeFastq2's records and standard output, the result released as documented; `use` sees
// the entries before they are released.
Decoded decoded2(const char *path,
                 const std::function<void(const SeqEntry *, int32_t)> &use = nullptr) {
    int32_t count = 0;
    int64_t total = 0;
    SeqEntry *e = nullptr;
    Decoded d;
    d.out = capture([&] { e = decodeFastq2(path, &count, &total, 20); }).out;
    EXPECT_NE(nullptr, e) << d.out;
    if (!e) return d;
    d.records = show(e, count);
    if (use) use(e, count);
    free(e[0].name);
    free(e);
    return d;
}

// The trailers of a BGZF file's members, each its text's CRC and size: where the blocks are
// cut and what each holds, whatever the deflate coder made of it.
std::string blockTexts(const std::string &bgzf) {
    std::string trailers;
    for (size_t at = 0; at + 18 <= bgzf.size();) {
        const size_t size = fast_test::bgzfBlockSize(bgzf, at);
        if (size < 26 || at + size > bgzf.size()) return bgzf;
        trailers.append(bgzf, at + size - 8, 8);
        at += size;
    }
    return trailers;
}

// The entries go out through the writer in each format, now and then many times over so that
// the text fills several slots and BGZF blocks, in batches of random sizes, on one thread and
// two, with the writer's slots and with small ones, FASTA now and then in lines of a width:
// each file reads back as the entries, the plain bytes are the same whatever the batches, slots
// and threads, and so are the BGZF blocks: each holds the same text (its size and CRC; the
// deflate coder may now and then choose other matches for a block, which read back the same);
// wrapped, no line of bases is longer than the width. Now and then the writer writes the
// file's index too, which splits it exactly.
void writeAndReadBack(const SeqEntry *e, int32_t n, std::mt19937 &rng) {
    const int times = rng() % 8 == 0 ? 1 + static_cast<int>(400000 / (1000 + 500 * n)) : 1;
    const int32_t width = e[0].is_fasta && rng() % 2 ? 1 + static_cast<int32_t>(rng() % 80) : 0;
    std::vector<std::string> expected = show(e, n), repeated;
    for (int t = 0; t < times; ++t)
        repeated.insert(repeated.end(), expected.begin(), expected.end());
    TextFile out("");
    const std::string path = std::string(out.path()) + ".written";
    for (const int32_t format : {FAST_WRITE_PLAIN, FAST_WRITE_BGZF, FAST_WRITE_ZSTD}) {
        if (format == FAST_WRITE_ZSTD && !fast_test::reads(fast::Format::zstd)) continue;
        std::string first;
        for (const int32_t threads : {1, 2, 0}) {
            const size_t slot = rng() % 2 ? 512 + rng() % 4096 : 0;
            const int64_t spacing = rng() % 3 == 0 ? 1 + static_cast<int64_t>(rng() % 20000) : 0;
            SCOPED_TRACE("format " + std::to_string(format) + ", threads " +
                         std::to_string(threads) + ", slot " + std::to_string(slot) + ", width " +
                         std::to_string(width) + ", index spacing " + std::to_string(spacing));
            ASSERT_EQ("", toolkit::writeEntries(path, format, threads, e, n, rng, times,
                                                1 + static_cast<int>(rng() % 40), slot, width,
                                                spacing ? FAST_WRITE_INDEX : 0, true, spacing));
            EXPECT_EQ(repeated, decoded2(path.c_str()).records);
            EXPECT_EQ(repeated, toolkit::streamed(path.c_str(), 0, 2).records);
            if (spacing) toolkit::checkIndexed(path.c_str(), repeated, spacing, 4, 3, rng, false);
            const std::string bytes = toolkit::slurp(path);
            if (format == FAST_WRITE_PLAIN && width > 0) {
                size_t longest = 0;
                for (size_t at = 0; at < bytes.size();) {
                    const size_t lf = bytes.find('\n', at);
                    if (bytes[at] != '>') longest = std::max(longest, lf - at);
                    at = lf + 1;
                }
                EXPECT_GE(static_cast<size_t>(width), longest);
            }
            const std::string cut = format == FAST_WRITE_BGZF ? blockTexts(bytes) : bytes;
            if (format != FAST_WRITE_ZSTD && !first.empty()) {
                EXPECT_TRUE(first == cut);
            }
            first = cut;
        }
    }
    std::remove(path.c_str());
}

TEST(DecodersProperty, MatchThePlainReaderOnWellFormedFiles) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 150; ++round) {
        const bool fasta = round % 3 == 0;
        const std::vector<Entry> entries = makeEntries(rng, fasta);
        SCOPED_TRACE("round " + std::to_string(round));

        TextFile wrapped_file(write(entries, fasta, rng, true));
        std::ifstream wf(wrapped_file.path());
        const std::string wrapped_text((std::istreambuf_iterator<char>(wf)),
                                       std::istreambuf_iterator<char>());
        const std::vector<std::string> expected = reference(wrapped_text);
        ASSERT_EQ(entries.size(), expected.size());
        const Decoded plain = decoded2(wrapped_file.path(), [&](const SeqEntry *e, int32_t n) {
            writeAndReadBack(e, n, rng);
        });
        EXPECT_EQ(expected, plain.records);
        EXPECT_EQ(0u, plain.out.rfind("Total memory = ", 0)) << plain.out;

        // Compressed at two levels, in several members, in small members, and piped, the same
        // text decodes to the same records and the same summary.
        const std::string small_members = gzipped(wrapped_text, 6, 1 + rng() % 4096);
        const std::string variants[] = {gzipped(wrapped_text, 1),
                                        gzipped(wrapped_text, 9, 1 + wrapped_text.size() / 3),
                                        small_members};
        for (const std::string &variant : variants) {
            TextFile compressed(variant);
            EXPECT_EQ(plain, decoded2(compressed.path()));
        }
        for (const std::string *piped : {&wrapped_text, &small_members}) {
            toolkit::PipeFile pipe(*piped);
            EXPECT_EQ(plain, decoded2(pipe.path())) << "through a pipe";
        }
        // And so in one of the other formats, in a file and through a pipe, in streams of a
        // random size, now and then after a skippable zstd frame or with xz streams padded;
        // or the build refuses it.
        const fast::Format format = toolkit::kFormats[1 + round % 3];
        const size_t padding = format == fast::Format::xz && round % 2 ? 4 * (rng() % 3 + 1) : 0;
        std::string other = fast_test::compressed(format, wrapped_text, 1 + rng() % 8192, padding);
        if (format == fast::Format::zstd && round % 2)
            other = fast_test::zstdSkippable(rng(), std::string(rng() % 40, 'z')) + other;
        TextFile other_file(other);
        toolkit::PipeFile other_pipe(other);
        for (const char *path : {other_file.path(), other_pipe.path()}) {
            if (fast_test::reads(format)) {
                EXPECT_EQ(plain, decoded2(path)) << fast_test::name(format) << " " << path;
            } else {
                EXPECT_EQ("error decodeFastq: " + std::string(path) + " is " +
                              fast_test::name(format) + "-compressed; this build reads " +
                              fast::readableFormats() + " text\n",
                          capture([&] { decodeFastq2(path, nullptr, nullptr, 20); }).out);
            }
        }

        // A text many times its compressed size, whose block grows from a small first guess:
        // xz and bzip2 record no size, so the guess is a few times the compressed bytes.
        if (round % 10 == 0 && format != fast::Format::zstd && fast_test::reads(format)) {
            std::string many = wrapped_text;
            while (many.size() < 300000) many += wrapped_text;
            TextFile many_plain(many), many_packed(fast_test::compressed(format, many));
            EXPECT_EQ(decoded2(many_plain.path()), decoded2(many_packed.path())) << "grown";
        }

        // A text large enough to be inflated ahead by helpers, straight into the decoder's
        // block: BGZF on every core, its size summed from its blocks; one zstd frame that
        // records its size; and two gzip members whose last records less than the whole, so
        // that the block fills, the helpers go on into blocks of their own, and it grows.
        if (round < 2) {
            std::string large = wrapped_text;
            while (large.size() < (12u << 20)) large += wrapped_text;
            const size_t cut = large.size() / 4;
            TextFile large_plain(large);
            const Decoded want = decoded2(large_plain.path());
            std::vector<std::string> packed = {
                fast_test::bgzfBlocks(large.data(), large.size(), 65280,
                                      round ? std::string("XY\3\0abc", 7) : std::string()),
                gzipped(large.substr(0, cut), 1) + gzipped(large.substr(cut), 1)};
            if (fast_test::reads(fast::Format::zstd))
                packed.push_back(fast_test::compressed(fast::Format::zstd, large));
            for (const std::string &bytes : packed) {
                TextFile file(bytes);
                EXPECT_EQ(want, decoded2(file.path())) << "large, " << bytes.size() << " bytes";
            }
        }

        // The stream gives the same records, in batches of one entry, of a few hundred bytes
        // and of the default size, on one thread and two, from blocks so small that entries
        // cross them and from its own, read plain, gzip, BGZF and piped.
        // Now and then the blocks' headers hold another subfield before BC.
        const std::string bgzf =
            fast_test::bgzfBlocks(wrapped_text.data(), wrapped_text.size(), 1 + rng() % 3000,
                                  round % 2 ? std::string("XY\3\0abc", 7) : std::string());
        TextFile gz_file(small_members), bgzf_file(bgzf);
        for (const int64_t batch : {1, 300, 0}) {
            for (const int32_t threads : {1, 2}) {
                const size_t block = batch == 0 ? 0 : 1 + rng() % 700;
                SCOPED_TRACE("batch " + std::to_string(batch) + ", threads " +
                             std::to_string(threads) + ", block " + std::to_string(block));
                toolkit::PipeFile pipe(rng() % 2 ? wrapped_text : bgzf);
                for (const char *path :
                     {wrapped_file.path(), gz_file.path(), bgzf_file.path(), pipe.path()}) {
                    const toolkit::Streamed s = toolkit::streamed(path, batch, threads, block);
                    EXPECT_EQ(plain.records, s.records) << path;
                    EXPECT_EQ(0, s.end) << s.error;
                    EXPECT_EQ(0, s.skipped);
                }
            }
        }
        // The stream reads entries of one line of bases in place: on the unwrapped text, most
        // are. Every line scan (the portable one and each vector one the CPU runs) gives the
        // same records, from blocks entries cross, in small and default batches.
        const std::string flat_text = write(entries, fasta, rng, false);
        TextFile flat(flat_text);
        const std::vector<std::string> flat_want = reference(flat_text);
        const fast::ScanPath best = fast::scanPath();
        for (int path = 0; path <= static_cast<int>(fast::bestScanPath()); ++path) {
            fast::useScanPath(static_cast<fast::ScanPath>(path));
            SCOPED_TRACE(fast::scanPathName(fast::scanPath()));
            for (const int64_t batch : {int64_t{300}, int64_t{0}}) {
                const size_t block = 1 + rng() % (batch ? 700 : 70000);
                const toolkit::Streamed flat_s = toolkit::streamed(flat.path(), batch, 1, block);
                EXPECT_EQ(flat_want, flat_s.records) << "batch " << batch << ", block " << block;
                EXPECT_EQ(plain.records,
                          toolkit::streamed(bgzf_file.path(), batch, 2, block).records);
            }
            // With a carriage return before each line feed the stream reads the same entries,
            // from blocks that cut between the two, and from a pipe read a byte at a time.
            for (const bool cut_last : {false, true}) {
                TextFile flat_crlf(crlf(flat_text, cut_last)),
                    wrapped_crlf(crlf(wrapped_text, cut_last));
                toolkit::PipeFile pipe(crlf(wrapped_text, cut_last), 1);  // one byte a read
                const size_t block = 1 + rng() % 300;
                EXPECT_EQ(flat_want, toolkit::streamed(flat_crlf.path(), 300, 1, block).records)
                    << "CRLF, block " << block;
                for (const char *path : {wrapped_crlf.path(), pipe.path()})
                    EXPECT_EQ(plain.records, toolkit::streamed(path, 1, 2, block).records)
                        << "CRLF, block " << block << ", " << path;
            }
        }
        fast::useScanPath(best);
        // Indexed with points every few hundred bytes, in every format: plain, BGZF blocks, gzip
        // members, deflate blocks inside one member, and the other format's streams.
        // Two such members, so that a span started inside the first goes on into the second.
        const size_t half = wrapped_text.size() / 2, every = 1 + rng() % 2000;
        const int level = 1 + static_cast<int>(rng() % 9);
        TextFile blocks_file(fast_test::gzipBlocks(wrapped_text.data(), half, level, every) +
                             fast_test::gzipBlocks(wrapped_text.data() + half,
                                                   wrapped_text.size() - half, level, every));
        for (const char *path : {wrapped_file.path(), gz_file.path(), bgzf_file.path(),
                                 blocks_file.path(), other_file.path()}) {
            if (path == other_file.path() && !fast_test::reads(format)) continue;
            // Every split count and a range at every entry now and then, a few otherwise.
            toolkit::checkIndexed(path, plain.records, 1 + static_cast<int64_t>(rng() % 600),
                                  round % 10 == 0 ? 64 : 4, round % 10 == 0 ? -1 : 3, rng);
        }

        const toolkit::Streamed s = toolkit::streamed(other_file.path(), 1, 2, 1 + rng() % 700);
        if (fast_test::reads(format)) {
            EXPECT_EQ(plain.records, s.records) << fast_test::name(format);
            EXPECT_EQ(0, s.end) << s.error;
        } else {
            EXPECT_EQ(std::string(fast_test::name(format)) +
                          "-compressed data, not supported by this build",
                      s.error);
        }

        int32_t count = 0;
        int64_t total = 0;
        const std::string text = write(entries, fasta, rng, false);
        TextFile file(text);
        std::vector<char> buffer(text.size() + 1);
        int32_t segments = 0;
        capture([&] { segments = extractFastq(file.path(), buffer.data(), 0); });
        ASSERT_GE(segments, static_cast<int32_t>(entries.size()));
        std::vector<SeqEntry> records(static_cast<size_t>(segments));
        const auto o = capture(
            [&] { decodeFastq(file.path(), &count, &total, buffer.data(), 0, records.data()); });
        EXPECT_EQ(reference(text), show(records.data(), count));
        EXPECT_EQ("", o.out + o.err);
    }
}

}  // namespace
