// Writes gzip members with zlib, for the tests and fuzz harnesses of compressed input.
#ifndef FAST_GZIP_MEMBERS_HPP
#define FAST_GZIP_MEMBERS_HPP

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace fast_test {

// `size` bytes at `data` as gzip members of at most `member` bytes of text each (one member
// when 0), each compressed at `level`; an empty text gives one empty member.
inline std::string gzipMembers(const void *data, size_t size, int level, size_t member = 0) {
    // One stream for every member of every call, reset between them: setting a stream up costs
    // far more than a small member, and a fuzz harness compresses every input.
    static z_stream *const z = [] {
        z_stream *made = new z_stream{};
        if (deflateInit2(made, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            std::abort();
        return made;
    }();
    const char *text = static_cast<const char *>(data);
    std::string out;
    size_t at = 0;
    do {
        const size_t n = member == 0 ? size : std::min(member, size - at);
        if (deflateReset(z) != Z_OK || deflateParams(z, level, Z_DEFAULT_STRATEGY) != Z_OK)
            std::abort();
        std::string piece(deflateBound(z, n), '\0');
        z->next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text + at));
        z->avail_in = static_cast<uInt>(n);
        z->next_out = reinterpret_cast<Bytef *>(&piece[0]);
        z->avail_out = static_cast<uInt>(piece.size());
        if (deflate(z, Z_FINISH) != Z_STREAM_END) std::abort();
        out.append(piece, 0, z->total_out);
        at += n;
    } while (at < size);
    return out;
}

// `size` bytes at `data` as one gzip member whose deflate blocks end after every `every` bytes
// of text, at whatever bit the block ends (a Z_BLOCK flush), as large members hold blocks.
inline std::string gzipBlocks(const void *data, size_t size, int level, size_t every) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        std::abort();
    const char *text = static_cast<const char *>(data);
    std::string out(deflateBound(&z, size) + 64 * (size / every + 2), '\0');
    z.next_out = reinterpret_cast<Bytef *>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    for (size_t at = 0;; at += every) {
        const size_t n = at < size ? std::min(every, size - at) : 0;
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text + at));
        z.avail_in = static_cast<uInt>(n);
        const bool last = at + n >= size;
        const int rc = deflate(&z, last ? Z_FINISH : Z_BLOCK);
        if (last ? rc != Z_STREAM_END : rc != Z_OK) std::abort();
        if (last) break;
    }
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// `size` bytes at `data` as BGZF blocks: gzip members of at most `block` bytes of text, each
// stating its own size in a BC field of its header (after the subfields `extra`, when given),
// closed by the empty block bgzip writes.
inline std::string bgzfBlocks(const void *data, size_t size, size_t block = 65280,
                              const std::string &extra = "") {
    const unsigned char *text = static_cast<const unsigned char *>(data);
    std::string out;
    const auto le = [&out](unsigned long v, int bytes) {
        for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
    };
    // One raw deflate stream for every block, reset between them, as for the members above.
    static z_stream *const z = [] {
        z_stream *made = new z_stream{};
        if (deflateInit2(made, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            std::abort();
        return made;
    }();
    for (size_t at = 0;; at += block) {
        const size_t n = at < size ? std::min(block, size - at) : 0;
        if (deflateReset(z) != Z_OK) std::abort();
        std::string deflated(deflateBound(z, n), '\0');
        z->next_in = const_cast<Bytef *>(text + at);
        z->avail_in = static_cast<uInt>(n);
        z->next_out = reinterpret_cast<Bytef *>(&deflated[0]);
        z->avail_out = static_cast<uInt>(deflated.size());
        if (deflate(z, Z_FINISH) != Z_STREAM_END) std::abort();
        deflated.resize(z->total_out);
        out += std::string("\x1f\x8b\x08\x04\0\0\0\0\0\xff", 10);
        le(extra.size() + 6, 2);
        out += extra + std::string("BC\x02\0", 4);
        le(deflated.size() + 25 + extra.size(), 2);
        out += deflated;
        le(crc32(crc32(0, nullptr, 0), text + at, static_cast<uInt>(n)), 4);
        le(n, 4);
        if (n == 0) return out;
    }
}

// The size of the BGZF block at `at` of `blocks`, as its header states it (with its BC field
// first among the subfields, as the writers here and ours put it).
inline size_t bgzfBlockSize(const std::string &blocks, size_t at) {
    return (static_cast<unsigned char>(blocks[at + 16]) |
            static_cast<unsigned char>(blocks[at + 17]) << 8) +
           1;
}

}  // namespace fast_test

#endif
