// The streaming reader against decodeFastq2 on the same bytes. The first two bytes choose the
// stream's batch size (0 for the default, else 1 to 1017 bytes), its threads (1, or for one
// length in 32 2 or 3), the size of the blocks read ahead (16 KiB, more than any input,
// or an eighth to the whole of the bytes, so that entries cross them at every place while an
// input costs a few blocks) and the form it reads (the bytes as they are for half the inputs):
//  - the bytes as they are, which must give decodeFastq2's entries and skipped count, or its
//    failure, with the vector line scan and with the portable one;
//  - the bytes in gzip members, or in BGZF blocks, of the blocks' size, which must give the same
//    as the bytes themselves (unless they start with a compressed format's magic of their own).
// A carriage return before a line feed, or at the end, is part of the stream's line end: its
// reference is decodeFastq2 on the bytes without those.
#include <cstring>
#include <string>

#include "codecs/decompress.hpp"
#include "codecs/gzip.hpp"
#include "fastq/bam.hpp"
#include "fastq/lines.hpp"
#include "fastq/stream.hpp"
#include "fuzz_decode_input.hpp"
#include "gzip_members.hpp"

namespace {

void add(std::string &out, const SeqEntry &e) {
    fuzz::addEntry(out, e);
    if (e.aux != 0 || e.aux_text || (e.is_fasta != 0) != (e.quals == nullptr)) std::abort();
}

struct Result {
    std::string entries;
    int64_t skipped = 0;
    bool failed = false;
    std::string error;
};

Result decoded(const char *path) {
    Result r;
    int32_t count = 0;
    int64_t total = 0;
    SeqEntry *e = decodeFastq2(path, &count, &total, 20);
    const std::string out = fuzz::capturedOutput();
    for (size_t at = 0; (at = out.find("Warning: ", at)) != std::string::npos; ++at)
        if (at == 0 || out[at - 1] == '\n') ++r.skipped;
    if (!e) {
        // A text without entries is no failure of the stream's; compressed data that does not
        // decompress, or that this build cannot read, is.
        const size_t why = out.find(": compressed data");
        r.failed = why != std::string::npos ||
                   out.find("-compressed; this build reads") != std::string::npos;
        if (why != std::string::npos) r.error = out.substr(why + 2, out.size() - why - 3);
        return r;
    }
    for (int32_t i = 0; i < count; ++i) add(r.entries, e[i]);
    free(e[0].name);
    free(e);
    return r;
}

Result streamed(const char *path, int64_t batch, int32_t threads, size_t block) {
    Result r;
    FastqStream *s = fast::openStream(path, batch, threads, block);
    if (!s) std::abort();
    SeqEntry *e = nullptr;
    int32_t n;
    while ((n = readFastqBatch(s, &e)) > 0) {
        if (batch == 1 && n != 1) std::abort();
        const fast::HeaderLengths *lengths = fast::headerLengths(s);
        for (int32_t i = 0; i < n; ++i) {
            add(r.entries, e[i]);
            if (std::strlen(e[i].name) != static_cast<size_t>(lengths[i].name) ||
                (e[i].comment ? std::strlen(e[i].comment) : 0) !=
                    static_cast<size_t>(lengths[i].comment))
                std::abort();
        }
    }
    if (n != 0 && n != -1) std::abort();
    r.failed = n < 0;
    if ((fastqStreamError(s) != nullptr) != r.failed) std::abort();
    if (r.failed) r.error = fastqStreamError(s);
    r.skipped = fastqStreamSkipped(s);
    if (readFastqBatch(s, &e) != n) std::abort();
    closeFastqStream(s);
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    const unsigned a = data[0], b = data[1];
    data += 2;
    size -= 2;
    const int64_t batch = a & 1 ? 0 : 1 + (a >> 1) * 8;
    // A helper costs a thread's start and end, far more than the rest: one input in 32 has one
    // or two, chosen by its length so that a corpus cannot gather them by keeping a prefix,
    // while the blocks are inflated whole by the same steps on every input.
    const int32_t threads = size % 32 == 5 ? 2 + static_cast<int32_t>(size / 32 % 2) : 1;
    const size_t part = (b >> 3) % 8;
    const size_t block = part == 0 ? 16384 : 1 + size / part;
    const unsigned form = b >> 6 < 2 ? 0 : (b >> 6) - 1;

    // Bytes that start like zstd, xz or bzip2 data are read through the same input layer as
    // gzip's, which the other harnesses fuzz; here they would cost their windows' memory.
    bool undecided = false;
    const fast::FormatInfo *format = fast::formatOf(data, size, undecided);
    if (format && format->format != fast::Format::gzip) return 0;

    static fuzz::InputFile *plain_file = [] {
        fuzz::inputPath(nullptr, 0);  // quiets the standard streams
        return new fuzz::InputFile;
    }();
    static fuzz::InputFile *packed_file = new fuzz::InputFile;
    // BAM data is read as records, which fuzz_bam looks after.
    if (fast::isBam(reinterpret_cast<const char *>(data), size)) return 0;
    const char *plain = plain_file->write(data, size);
    // The stream takes a carriage return before a line feed, or at the text's end, for part of
    // the line end, where decodeFastq2 keeps it: its reference is the text without them.
    // Compressed bytes that hold one may hide one in their text, where they cannot be taken out.
    const bool cr = std::memchr(data, '\r', size) != nullptr;
    if (cr && (format || undecided)) return 0;
    static fuzz::InputFile *stripped_file = new fuzz::InputFile;
    std::string stripped;
    if (cr) {
        for (size_t i = 0; i < size; ++i)
            if (data[i] != '\r' || (i + 1 < size && data[i + 1] != '\n'))
                stripped += static_cast<char>(data[i]);
    }
    const Result want =
        decoded(cr ? stripped_file->write(reinterpret_cast<const uint8_t *>(stripped.data()),
                                          stripped.size())
                   : plain);
    Result got;
    if (form == 0) {
        got = streamed(plain, batch, threads, block);
    } else {
        if (format || undecided) return 0;
        const size_t member = 1 + size / (1 + part);
        const std::string packed = form == 1 ? fast_test::gzipMembers(data, size, 6, member)
                                             : fast_test::bgzfBlocks(data, size, member);
        got = streamed(
            packed_file->write(reinterpret_cast<const uint8_t *>(packed.data()), packed.size()),
            batch, threads, block);
    }
    if (got.failed != want.failed) std::abort();
    // BGZF blocks inflate whole before their text is handed over, so a fault may be found
    // before the place where reading them through finds it, and be told in other words; the
    // entries before a fault are the stream's own.
    if (got.failed) {
        if (form == 0 && fast::bgzfBlockSize(data, size) == 0 && !want.error.empty() &&
            got.error != want.error)
            std::abort();
        return 0;
    }
    if (got.entries != want.entries || got.skipped != want.skipped) std::abort();
    // The portable line scan reads the same entries as the vector one.
    if (form == 0 && fast::bestScanPath() != fast::ScanPath::portable) {
        const fast::ScanPath best = fast::scanPath();
        fast::useScanPath(fast::ScanPath::portable);
        const Result portable = streamed(plain, batch, 1, block);
        fast::useScanPath(best);
        if (portable.entries != want.entries || portable.skipped != want.skipped) std::abort();
    }
    return 0;
}
