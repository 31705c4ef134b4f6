// decodeFastq2 on compressed input. The first byte picks what the rest becomes, in gzip, or
// with the high bit set in zstd where the build reads it:
//  - odd: the bytes behind a gzip member header, as the member's deflate data; or behind a zstd
//    frame header, as the frame's blocks (and what follows the frame), the header made here
//    from bits 1 (a checksum) and 2-4 (a window of 1 to 128 KiB): a window the bytes chose
//    would cost an input up to 128 MiB of buffer, whose poisoning under the sanitizer would
//    slow the fuzzing to a crawl, and only libzstd reads the header;
//  - even: the bytes compressed in streams of ((first byte & 0x3f) / 2 + 1) * 64 bytes (with a
//    skippable zstd frame after each frame when bit 6 is set), which must decode exactly as the
//    same bytes uncompressed: records, warnings and summary (unless the bytes start with a
//    compressed format's magic themselves).
#include <string>

#include "compressed_text.hpp"
#include "fuzz_decode_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    const bool zstd = (mode & 0x80) && fast_test::reads(fast::Format::zstd);
    if (mode & 1) {
        static const uint8_t kGzipHeader[10] = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 0, 0xff};
        const uint8_t zstd_header[6] = {0x28,
                                        0xb5,
                                        0x2f,
                                        0xfd,
                                        static_cast<uint8_t>(mode & 2 ? 4 : 0),
                                        static_cast<uint8_t>((mode >> 2 & 7) << 3)};
        std::string stream = zstd ? std::string(zstd_header, zstd_header + sizeof zstd_header)
                                  : std::string(kGzipHeader, kGzipHeader + sizeof kGzipHeader);
        stream.append(reinterpret_cast<const char *>(data), size);
        fuzz::decode2Checked(
            fuzz::inputPath(reinterpret_cast<const uint8_t *>(stream.data()), stream.size()),
            fuzz::kSizeOfBuffer);
        return 0;
    }
    const std::string text(reinterpret_cast<const char *>(data), size);
    const std::string plain = fuzz::decode2Checked(fuzz::inputPath(data, size), size);
    const size_t piece = ((mode & 0x3f) / 2 + 1) * size_t{64};
    std::string packed;
    if (!zstd) {
        packed = fast_test::compressed(fast::Format::gzip, text, piece);
    } else {
        for (size_t at = 0; at == 0 || at < size; at += piece) {
            packed +=
                fast_test::stream(fast::Format::zstd, text.data() + at, std::min(piece, size - at));
            if (mode & 0x40) packed += fast_test::zstdSkippable(at, text.substr(at, 7));
        }
    }
    const std::string unpacked = fuzz::decode2Checked(
        fuzz::inputPath(reinterpret_cast<const uint8_t *>(packed.data()), packed.size()), size);
    // Bytes that start with a magic are compressed themselves, while their unpacked copy is text.
    bool undecided = false;
    if (!fast::formatOf(data, size, undecided) && unpacked != plain) std::abort();
    return 0;
}
