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

}  // namespace fast_test

#endif
