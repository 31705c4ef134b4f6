// decodeFastq2 on gzip input. The first byte picks what the rest becomes:
//  - odd: the bytes behind a gzip member header, as the member's deflate data;
//  - even: the bytes compressed in members of (first byte / 2 + 1) * 64 bytes, which must
//    decode exactly as the same bytes uncompressed: records, warnings and summary (unless the
//    bytes start with the gzip magic themselves).
#include <string>

#include "fuzz_decode_input.hpp"
#include "gzip_members.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    if (mode & 1) {
        static const uint8_t kHeader[10] = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 0, 0xff};
        std::string member(reinterpret_cast<const char *>(kHeader), sizeof kHeader);
        member.append(reinterpret_cast<const char *>(data), size);
        // Whatever inflates is at most the deflate limit of 1032 bytes per input byte.
        fuzz::decode2Checked(
            fuzz::inputPath(reinterpret_cast<const uint8_t *>(member.data()), member.size()),
            1032 * member.size());
        return 0;
    }
    const std::string plain = fuzz::decode2Checked(fuzz::inputPath(data, size), size);
    const std::string gz = fast_test::gzipMembers(data, size, 6, (mode / 2 + 1) * size_t{64});
    const std::string inflated = fuzz::decode2Checked(
        fuzz::inputPath(reinterpret_cast<const uint8_t *>(gz.data()), gz.size()), size);
    // Bytes that start with the magic are gzip themselves, while their inflated copy is text.
    const bool magic = size >= 2 && data[0] == 0x1f && data[1] == 0x8b;
    if (!magic && inflated != plain) std::abort();
    return 0;
}
