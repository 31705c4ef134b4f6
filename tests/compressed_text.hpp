// Writes text in every compressed format, for the tests and fuzz harnesses of compressed input:
// gzip with zlib, and zstd, xz and bzip2 with their libraries where the build reads them.
// Without its library a format's data is its magic before the text: enough to be refused.
#ifndef FAST_COMPRESSED_TEXT_HPP
#define FAST_COMPRESSED_TEXT_HPP

#include <algorithm>
#include <cstdlib>
#include <string>

#include "codecs/decompress.hpp"
#include "gzip_members.hpp"
#if FAST_HAVE_ZSTD
#include <zstd.h>
#endif
#if FAST_HAVE_XZ
#include <lzma.h>
#endif
#if FAST_HAVE_BZIP2
#include <bzlib.h>
#endif

namespace fast_test {

// Whether this build reads `format`.
constexpr bool reads(fast::Format format) {
    return format == fast::Format::zstd    ? FAST_HAVE_ZSTD
           : format == fast::Format::xz    ? FAST_HAVE_XZ
           : format == fast::Format::bzip2 ? FAST_HAVE_BZIP2
                                           : true;
}

inline const char *name(fast::Format format) {
    return format == fast::Format::zstd    ? "zstd"
           : format == fast::Format::xz    ? "xz"
           : format == fast::Format::bzip2 ? "bzip2"
                                           : "gzip";
}

// One stream of `format` holding text[0, n); zstd frames carry a checksum and their size, as
// the zstd tool writes them.
inline std::string stream(fast::Format format, const char *text, size_t n) {
    std::string out;
    switch (format) {
        case fast::Format::zstd: {
#if FAST_HAVE_ZSTD
            // One context for all calls: a fuzz harness compresses every input.
            static ZSTD_CCtx *const c = [] {
                ZSTD_CCtx *made = ZSTD_createCCtx();
                if (!made) std::abort();
                ZSTD_CCtx_setParameter(made, ZSTD_c_checksumFlag, 1);
                return made;
            }();
            out.resize(ZSTD_compressBound(n));
            const size_t got = ZSTD_compress2(c, &out[0], out.size(), text, n);
            if (ZSTD_isError(got)) std::abort();
            out.resize(got);
            return out;
#else
            return std::string("\x28\xb5\x2f\xfd", 4) + std::string(text, n);
#endif
        }
        case fast::Format::xz: {
#if FAST_HAVE_XZ
            out.resize(lzma_stream_buffer_bound(n));
            size_t got = 0;
            if (lzma_easy_buffer_encode(
                    1, LZMA_CHECK_CRC64, nullptr, reinterpret_cast<const uint8_t *>(text), n,
                    reinterpret_cast<uint8_t *>(&out[0]), &got, out.size()) != LZMA_OK)
                std::abort();
            out.resize(got);
            return out;
#else
            return std::string("\xfd\x37\x7a\x58\x5a\x00", 6) + std::string(text, n);
#endif
        }
        case fast::Format::bzip2: {
#if FAST_HAVE_BZIP2
            unsigned got = static_cast<unsigned>(n + n / 100 + 600);
            out.resize(got);
            if (BZ2_bzBuffToBuffCompress(&out[0], &got, const_cast<char *>(text),
                                         static_cast<unsigned>(n), 1, 0, 0) != BZ_OK)
                std::abort();
            out.resize(got);
            return out;
#else
            return std::string("BZh1\x31\x41\x59\x26\x53\x59", 10) + std::string(text, n);
#endif
        }
        default:
            return gzipMembers(text, n, 6);
    }
}

// `text` as streams of `format` of at most `piece` bytes of text each (one when 0), each
// followed by `padding` zero bytes; an empty text gives one empty stream.
inline std::string compressed(fast::Format format, const std::string &text, size_t piece = 0,
                              size_t padding = 0) {
    std::string out;
    size_t at = 0;
    do {
        const size_t n = piece == 0 ? text.size() : std::min(piece, text.size() - at);
        out += stream(format, text.data() + at, n);
        out.append(padding, '\0');
        at += n;
    } while (at < text.size());
    return out;
}

// A skippable zstd frame (magic 0x184d2a5k) holding `payload`, which a reader passes over.
inline std::string zstdSkippable(unsigned k, const std::string &payload) {
    std::string out = {static_cast<char>(0x50 | (k & 15)), '\x2a', '\x4d', '\x18'};
    for (int i = 0; i < 4; ++i) out += static_cast<char>(payload.size() >> (8 * i) & 0xff);
    return out + payload;
}

}  // namespace fast_test

#endif
