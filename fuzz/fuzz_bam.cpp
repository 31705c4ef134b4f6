// BAM data through the stream. The bytes after the first are BAM data after its magic; the first
// byte chooses the size of the blocks read ahead (an eighth to the whole of the data, or 16 KiB)
// and the batch size. However the data is cut into blocks and batches, the stream must give the
// same entries and the same end, and every entry must be sound: a name, bases of the length,
// qualities exactly when it is not a FASTA entry.
#include <string>

#include "fastq/stream.hpp"
#include "fuzz_decode_input.hpp"
#include "gzip_members.hpp"

namespace {

struct Result {
    std::string entries;
    std::string error;
    int32_t end = 0;
};

Result streamed(const char *path, int64_t batch, size_t block) {
    Result r;
    FastqStream *s = fast::openStream(path, batch, 1, block);
    if (!s) std::abort();
    SeqEntry *e = nullptr;
    int32_t n;
    while ((n = readFastqBatch(s, &e)) > 0)
        for (int32_t i = 0; i < n; ++i) {
            if (!e[i].name || e[i].length <= 0 || !e[i].bases) std::abort();
            if ((e[i].is_fasta != 0) != (e[i].quals == nullptr)) std::abort();
            fuzz::addEntry(r.entries, e[i]);
        }
    r.end = n;
    if ((n < 0) != (fastqStreamError(s) != nullptr)) std::abort();
    if (n < 0) r.error = fastqStreamError(s);
    closeFastqStream(s);
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const unsigned choice = data[0];
    std::string bam = "BAM\1";
    bam.append(reinterpret_cast<const char *>(data + 1), size - 1);
    static fuzz::InputFile *plain_file = [] {
        fuzz::inputPath(nullptr, 0);  // quiets the standard streams
        return new fuzz::InputFile;
    }();
    static fuzz::InputFile *packed_file = new fuzz::InputFile;
    const auto *bytes = reinterpret_cast<const uint8_t *>(bam.data());
    const Result whole = streamed(plain_file->write(bytes, bam.size()), 0, 16384);
    const size_t part = choice % 8;
    const size_t block = part == 0 ? 16384 : 1 + bam.size() / part;
    const int64_t batch = choice & 8 ? 0 : 1 + (choice >> 4) * 40;
    const std::string packed = fast_test::bgzfBlocks(bam.data(), bam.size(), block);
    const Result cut = streamed(
        packed_file->write(reinterpret_cast<const uint8_t *>(packed.data()), packed.size()), batch,
        block);
    if (cut.end != whole.end || cut.error != whole.error || cut.entries != whole.entries)
        std::abort();
    return 0;
}
