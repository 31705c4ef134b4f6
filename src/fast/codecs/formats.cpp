// The table of compressed formats that the input layer recognises.
#include <cstring>
#include <string>

#include "codecs/compress.hpp"
#include "codecs/decompress.hpp"
#include "codecs/gzip.hpp"

namespace fast {

namespace {

// Compares the first n bytes with a fixed magic.
Magic fixedMagic(const unsigned char *p, std::size_t n, const unsigned char *magic,
                 std::size_t length) noexcept {
    const std::size_t k = n < length ? n : length;
    if (std::memcmp(p, magic, k) != 0) return Magic::no;
    return k == length ? Magic::yes : Magic::prefix;
}

Magic gzipMagic(const unsigned char *p, std::size_t n) noexcept {
    static constexpr unsigned char kMagic[] = {0x1f, 0x8b};
    return fixedMagic(p, n, kMagic, sizeof kMagic);
}

// A frame, or a skippable frame: 0x184d2a50 to 0x184d2a5f, little-endian.
Magic zstdMagic(const unsigned char *p, std::size_t n) noexcept {
    static constexpr unsigned char kFrame[] = {0x28, 0xb5, 0x2f, 0xfd};
    static constexpr unsigned char kSkippable[] = {0x2a, 0x4d, 0x18};
    if (n == 0 || (p[0] & 0xf0) != 0x50) return fixedMagic(p, n, kFrame, sizeof kFrame);
    return fixedMagic(p + 1, n - 1, kSkippable, sizeof kSkippable);
}

Magic xzMagic(const unsigned char *p, std::size_t n) noexcept {
    static constexpr unsigned char kMagic[] = {0xfd, 0x37, 0x7a, 0x58, 0x5a, 0x00};
    return fixedMagic(p, n, kMagic, sizeof kMagic);
}

// "BZh", the block size (a digit 1 to 9), then the magic of the first block or of the end of an
// empty stream: the first four bytes alone are text, as a table may well begin.
Magic bzip2Magic(const unsigned char *p, std::size_t n) noexcept {
    static constexpr unsigned char kMagic[] = {0x42, 0x5a, 0x68};
    static constexpr unsigned char kBlock[] = {0x31, 0x41, 0x59, 0x26, 0x53, 0x59};
    static constexpr unsigned char kEnd[] = {0x17, 0x72, 0x45, 0x38, 0x50, 0x90};
    const Magic m = fixedMagic(p, n, kMagic, sizeof kMagic);
    if (m != Magic::yes) return m;
    if (n == sizeof kMagic) return Magic::prefix;
    if (p[3] < '1' || p[3] > '9') return Magic::no;
    const Magic block = fixedMagic(p + 4, n - 4, kBlock, sizeof kBlock);
    return block != Magic::no ? block : fixedMagic(p + 4, n - 4, kEnd, sizeof kEnd);
}

#if FAST_HAVE_ZSTD
constexpr auto kZstdMake = makeZstdDecompressor;
constexpr auto kZstdSize = zstdRecordedSize;
#else
constexpr std::unique_ptr<Decompressor> (*kZstdMake)() = nullptr;
constexpr int64_t (*kZstdSize)(int, int64_t, int64_t) noexcept = nullptr;
#endif
#if FAST_HAVE_XZ
constexpr auto kXzMake = makeXzDecompressor;
#else
constexpr std::unique_ptr<Decompressor> (*kXzMake)() = nullptr;
#endif
#if FAST_HAVE_BZIP2
constexpr auto kBzip2Make = makeBzip2Decompressor;
#else
constexpr std::unique_ptr<Decompressor> (*kBzip2Make)() = nullptr;
#endif

// Written as BGZF: blocks of at most 65280 bytes of text, compressed apart; 16 of them a slot.
constexpr WriterInfo kBgzfWriter{1, 9, 1, kBgzfWriteText, true, makeBgzfCompressor};
#if FAST_HAVE_ZSTD
// One frame, compressed in order by libzstd and its own workers.
constexpr WriterInfo kZstdWriterInfo{1, 19, 3, 1, false, makeZstdCompressor};
constexpr const WriterInfo *kZstdWriter = &kZstdWriterInfo;
#else
constexpr const WriterInfo *kZstdWriter = nullptr;
#endif

constexpr FormatInfo kFormats[] = {
    {Format::gzip, "gzip", gzipMagic, 1, false, makeGzipDecompressor, gzipRecordedSize,
     makeGzipPointDecompressor, ".gz .bgz", &kBgzfWriter},
    {Format::zstd, "zstd", zstdMagic, 0, false, kZstdMake, kZstdSize, nullptr, ".zst", kZstdWriter},
    {Format::xz, "xz", xzMagic, 4, true, kXzMake, nullptr, nullptr, ".xz", nullptr},
    {Format::bzip2, "bzip2", bzip2Magic, 0, false, kBzip2Make, nullptr, nullptr, ".bz2", nullptr},
};

}  // namespace

const FormatInfo *formatOf(const unsigned char *p, std::size_t n, bool &undecided) noexcept {
    undecided = false;
    for (const FormatInfo &f : kFormats) {
        const Magic m = f.magic(p, n);
        if (m == Magic::yes) return &f;
        if (m == Magic::prefix) undecided = true;
    }
    return nullptr;
}

const FormatInfo *formatOfPath(const char *path) noexcept {
    const std::size_t n = std::strlen(path);
    for (const FormatInfo &f : kFormats) {
        for (const char *s = f.suffixes; *s;) {
            const std::size_t len = std::strcspn(s, " ");
            if (len < n && std::memcmp(path + n - len, s, len) == 0) return &f;
            s += len + (s[len] == ' ');
        }
    }
    return nullptr;
}

const FormatInfo *formatNamed(Format format) noexcept {
    for (const FormatInfo &f : kFormats)
        if (f.format == format) return &f;
    return nullptr;
}

const char *readableFormats() noexcept {
    static const std::string list = [] {
        std::string names[sizeof kFormats / sizeof kFormats[0] + 1] = {"plain"};
        std::size_t n = 1;
        for (const FormatInfo &f : kFormats)
            if (f.make) names[n++] = f.name;
        std::string s = names[0];
        for (std::size_t i = 1; i < n; ++i) s += (i + 1 == n ? " and " : ", ") + names[i];
        return s;
    }();
    return list.c_str();
}

}  // namespace fast
