// Damaged record indexes. A small read set, in plain text, in one gzip member of many deflate
// blocks and in BGZF blocks, is indexed once; each input then changes its index: the input as
// the index itself, or bytes of the real index replaced by the input's (pairs of a place and a
// byte), the index cut or lengthened, and for half of those its checksum made again, so that
// the checks past it are fuzzed too. A damaged index must be refused, by the loader and by a
// range read, or give exactly the entries asked for; one whose checksum was made again to fit
// its changes is a forgery, which only the checksum would tell, and must merely be read
// safely. The stream without a range reads the whole file in order whatever its index.
#include <zlib.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_decode_input.hpp"
#include "gzip_members.hpp"

namespace {

struct ReadSet {
    std::string path;
    std::string index;                 // its index's bytes
    std::vector<std::string> entries;  // what the stream reads
};

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void put(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::vector<std::string> read(FastqStream *s, bool &failed) {
    std::vector<std::string> out;
    if (!s) std::abort();
    SeqEntry *e = nullptr;
    int32_t n;
    while ((n = readFastqBatch(s, &e)) > 0)
        for (int32_t i = 0; i < n; ++i) {
            std::string one;
            fuzz::addEntry(one, e[i]);
            out.push_back(one);
        }
    failed = n < 0;
    if ((fastqStreamError(s) != nullptr) != failed) std::abort();
    closeFastqStream(s);
    return out;
}

std::vector<ReadSet> *sets = nullptr;

void removeReadSets() {
    for (const ReadSet &r : *sets) {
        std::remove(r.path.c_str());
        std::remove((r.path + ".ridx").c_str());
    }
}

std::vector<ReadSet> &readSets() {
    if (sets) return *sets;
    sets = new std::vector<ReadSet>([] {
        fuzz::inputPath(nullptr, 0);  // quiets the standard streams
        std::string text;
        for (int i = 0; i < 300; ++i)
            text += "@r" + std::to_string(i) + (i % 3 ? " c\n" : "\n") +
                    std::string(1 + i % 17, "ACGT"[i % 4]) + "\n+\n" +
                    std::string(1 + i % 17, static_cast<char>('!' + i % 40)) + "\n";
        const std::string forms[] = {text, fast_test::gzipBlocks(text.data(), text.size(), 6, 300),
                                     fast_test::bgzfBlocks(text.data(), text.size(), 400)};
        std::vector<ReadSet> made;
        int k = 0;
        for (const std::string &bytes : forms) {
            ReadSet r;
            const char *tmp = std::getenv("TMPDIR");
            r.path = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz_index_" +
                     std::to_string(getpid()) + "_" + std::to_string(k++);
            put(r.path, bytes);
            FastqIndex *index = indexFastq(r.path.c_str(), nullptr, 97, 1);
            if (!index || fastqIndexError(index)) std::abort();
            closeFastqIndex(index);
            r.index = slurp(r.path + ".ridx");
            bool failed = false;
            r.entries = read(openFastqStream(r.path.c_str(), 0, 1), failed);
            if (failed || r.entries.size() != 300) std::abort();
            made.push_back(r);
        }
        return made;
    }());
    std::atexit(removeReadSets);
    return *sets;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4) return 0;
    std::vector<ReadSet> &sets = readSets();
    const ReadSet &set = sets[data[0] % sets.size()];
    const unsigned mode = data[0] / 3 % 4;
    const int64_t n = static_cast<int64_t>(set.entries.size());
    const int64_t first = data[1] * (n + 1) / 256;
    const int64_t end = first + data[2] * (n + 1 - first) / 256;
    data += 3;
    size -= 3;
    std::string index;
    if (mode == 0) {
        index.assign(reinterpret_cast<const char *>(data), size);
    } else {
        index = set.index;
        for (size_t i = 0; i + 3 <= size; i += 3) {
            const size_t at =
                (data[i] | static_cast<size_t>(data[i + 1]) << 8) % (index.size() + 8);
            if (at >= index.size()) {
                index.resize(at % 2 ? index.size() / (1 + data[i + 2] % 8) : index.size() + at % 8,
                             static_cast<char>(data[i + 2]));
            } else {
                index[at] = static_cast<char>(data[i + 2]);
            }
        }
        if (mode >= 2 && index.size() >= 4) {
            const uLong crc = crc32(0, reinterpret_cast<const Bytef *>(index.data()),
                                    static_cast<uInt>(index.size() - 4));
            for (int i = 0; i < 4; ++i)
                index[index.size() - 4 + i] = static_cast<char>((crc >> (8 * i)) & 0xff);
        }
    }
    const bool resealed = mode >= 2;
    put(set.path + ".ridx", index);
    FastqIndex *loaded = loadFastqIndex(set.path.c_str(), nullptr);
    if (!loaded) std::abort();
    const bool usable = fastqIndexError(loaded) == nullptr;
    bool failed = false;
    const std::vector<std::string> got =
        read(openFastqIndexRange(loaded, first, end, 0, 1), failed);
    if (!usable && (!failed || !got.empty())) std::abort();
    if (!failed && static_cast<int64_t>(got.size()) != end - first) std::abort();
    if (got.size() > static_cast<size_t>(end - first)) std::abort();
    if (!resealed && usable &&
        (failed ||
         got != std::vector<std::string>(set.entries.begin() + first, set.entries.begin() + end)))
        std::abort();
    closeFastqIndex(loaded);
    const std::vector<std::string> whole = read(openFastqStream(set.path.c_str(), 0, 1), failed);
    if (failed || whole != set.entries) std::abort();
    return 0;
}
