// The writer on decodeFastq2's entries of arbitrary bytes: what it writes must decode to the same
// entries, or it must refuse an entry by number and name for one of the reasons that decoded
// entries can be refused for (an entry of the other kind than the one before it, a quality value
// of -1 among the first 20, which a wrapped quality line can give, with a FASTA line width a "+"
// or ">" that would start a line, or a carriage return that would end a line, which
// decodeFastq2 keeps and the stream would read as the line's end). The first byte chooses the
// format (plain, BGZF, zstd where the build has it), the threads (1, or for one input in 16
// three) and the most entries a batch; the second the slot size, so that entries cross slots
// and BGZF blocks at every place, and for one input in four a FASTA line width of 1 to 7. One
// input in sixteen is written with its index, which must load and whose splits must read every
// entry once.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "codecs/decompress.hpp"
#include "fastq/writer.hpp"
#include "fuzz_decode_input.hpp"

namespace {

// The entries of the text at `path`, one text; "" when it has none.
std::string entriesOf(const char *path, SeqEntry *&e, int32_t &count) {
    int64_t total = 0;
    e = decodeFastq2(path, &count, &total, 0);
    fuzz::capturedOutput();
    std::string out;
    if (!e) count = 0;
    for (int32_t i = 0; i < count; ++i) fuzz::addEntry(out, e[i]);
    return out;
}

void release(SeqEntry *e) {
    if (!e) return;
    free(e[0].name);
    free(e);
}

// Whether the writer may refuse entry i: it is of the other kind than the one before it, a
// quality value of -1 is among its first 20, or, in FASTA lines of `width`, a line would start
// with "+" or ">".
bool mayRefuse(const SeqEntry *e, int32_t i, int32_t width) {
    if (i > 0 && e[i].is_fasta != e[i - 1].is_fasta) return true;
    // decodeFastq2 keeps a carriage return at a line's end, which the stream reads as the end.
    const auto cr_last = [](const char *s, size_t n) { return n > 0 && s[n - 1] == '\r'; };
    const SeqEntry &x = e[i];
    if (x.comment ? cr_last(x.comment, std::strlen(x.comment))
                  : cr_last(x.name, std::strlen(x.name)))
        return true;
    const int32_t line = x.is_fasta && width > 0 ? width : x.length;
    for (int32_t k = line; line > 0; k += line) {
        if (x.bases[std::min(k, x.length) - 1] == '\r') return true;
        if (k >= x.length) break;
    }
    if (!x.is_fasta && x.length > 0 && x.quals[x.length - 1] == -20) return true;
    if (e[i].is_fasta) {
        for (int32_t k = width; width > 0 && k < e[i].length; k += width)
            if (e[i].bases[k] == '+' || e[i].bases[k] == '>') return true;
        return false;
    }
    for (int32_t k = 0; k < e[i].length && k < 20; ++k)
        if (e[i].quals[k] == -1) return true;
    return false;
}

// Written files go to memory when the system has it.
std::string outputPath(int32_t format) {
    struct stat st;
    const char *dir = ::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp";
    static const char *const kSuffix[] = {"", ".fq", ".fq.gz", ".fq.zst"};
    return std::string(dir) + "/fuzz_write_" + std::to_string(getpid()) + kSuffix[format];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    const uint8_t choice = data[0], slot_choice = data[1];
    data += 2;
    size -= 2;
    // Compressed bytes are the other harnesses' to read.
    bool undecided = false;
    if (fast::formatOf(data, size, undecided)) return 0;
    int32_t format = FAST_WRITE_PLAIN + choice % 3;
    if (format == FAST_WRITE_ZSTD && !fast::formatNamed(fast::Format::zstd)->writer)
        format = FAST_WRITE_BGZF;
    const int32_t threads = (choice >> 2) % 16 == 0 ? 3 : 1;
    const bool indexed = (choice >> 2) % 16 == 5;
    const int32_t most = 1 + (choice >> 6) * 7;
    const size_t slot = 1 + slot_choice * 16u;
    // FASTA lines of 1 to 7 bases for one input in four, else one line.
    const int32_t width = slot_choice % 4 == 3 ? 1 + (slot_choice >> 2) % 7 : 0;

    SeqEntry *e = nullptr;
    int32_t count = 0;
    const std::string expected = entriesOf(fuzz::inputPath(data, size), e, count);
    if (count == 0) {
        release(e);
        return 0;
    }
    const std::string path = outputPath(format);
    FastqWriterOptions o{};
    o.size = sizeof o;
    o.format = format;
    o.threads = threads;
    o.fasta_width = width;
    o.flags = indexed ? FAST_WRITE_INDEX : 0;
    o.index_spacing = 1 + slot_choice * 8;
    FastqWriter *w = fast::openWriter(path.c_str(), &o, slot);
    if (!w) std::abort();
    int32_t rc = 0;
    for (int32_t at = 0; at < count && rc == 0;) {
        const int32_t k = std::min(count - at, 1 + (at * 7 + count) % most);
        rc = writeFastqBatch(w, e + at, k);
        at += k;
    }
    if (rc != 0) {
        // Only a refusal, of an entry that may be refused, by its number.
        const char *why = fastqWriterError(w);
        long long number = 0;
        if (!why || std::sscanf(why, "entry %lld (", &number) != 1 || number < 1 ||
            number > count || !mayRefuse(e, static_cast<int32_t>(number - 1), width) ||
            !std::strstr(why, "cannot be written: "))
            std::abort();
        closeFastqWriter(w);
        if (::access(path.c_str(), F_OK) == 0) std::abort();  // nothing left under the name
        release(e);
        return 0;
    }
    if (finishFastqWriter(w) != 0) std::abort();
    closeFastqWriter(w);
    SeqEntry *back = nullptr;
    int32_t back_count = 0;
    if (entriesOf(path.c_str(), back, back_count) != expected) std::abort();
    release(back);
    release(e);
    if (indexed) {
        FastqIndex *index = loadFastqIndex(path.c_str(), nullptr);
        if (!index || fastqIndexError(index) || fastqIndexEntries(index) != count) std::abort();
        int64_t bounds[4];
        const int32_t spans = fastqIndexSplits(index, 3, bounds);
        int64_t read = 0;
        for (int32_t j = 0; j < spans; ++j) {
            FastqStream *s = openFastqIndexRange(index, bounds[j], bounds[j + 1], 0, 1);
            SeqEntry *batch;
            int32_t n = 0;
            while (s && (n = readFastqBatch(s, &batch)) > 0) read += n;
            if (!s || n != 0) std::abort();
            closeFastqStream(s);
        }
        if (read != count) std::abort();
        closeFastqIndex(index);
        ::unlink((path + ".ridx").c_str());
    }
    ::unlink(path.c_str());
    return 0;
}
