// The deflate back end of the BGZF writer: ISA-L's stateless deflate at the levels it offers
// (1 to 3), zlib at the others, and in builds without ISA-L at every level.
#include <zlib.h>

#include <cstring>
#include <new>

#include "codecs/compress.hpp"

#if FAST_HAVE_ISAL
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#endif

namespace fast {

struct BlockDeflater::State {
    int level = 1;
#if FAST_HAVE_ISAL
    bool isal = false;
    std::unique_ptr<unsigned char[]> level_buf;
    uint32_t level_buf_size = 0;
#endif
    bool zlib_ready = false;
    z_stream zs{};
    ~State() {
        if (zlib_ready) deflateEnd(&zs);
    }
};

BlockDeflater::BlockDeflater(int level) noexcept {
    std::unique_ptr<State> s(new (std::nothrow) State);
    if (!s) return;
    s->level = level;
#if FAST_HAVE_ISAL
    static constexpr uint32_t kLevelBuf[] = {ISAL_DEF_LVL0_DEFAULT, ISAL_DEF_LVL1_DEFAULT,
                                             ISAL_DEF_LVL2_DEFAULT, ISAL_DEF_LVL3_DEFAULT};
    if (level >= 1 && level <= ISAL_DEF_MAX_LEVEL) {
        s->isal = true;
        s->level_buf_size = kLevelBuf[level];
        s->level_buf.reset(new (std::nothrow) unsigned char[s->level_buf_size]);
        if (!s->level_buf) return;
        state_ = std::move(s);
        return;
    }
#endif
    // Raw deflate (no zlib wrapper): the BGZF member supplies its own header and trailer.
    if (deflateInit2(&s->zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return;
    s->zlib_ready = true;
    state_ = std::move(s);
}

BlockDeflater::~BlockDeflater() = default;

std::size_t BlockDeflater::deflate(const unsigned char *in, std::size_t n, unsigned char *out,
                                   std::size_t room) noexcept {
    State &s = *state_;
#if FAST_HAVE_ISAL
    if (s.isal) {
        // Zeroed first: the initialiser leaves some fields (the history size among them) as
        // they were, and what a thread's stack held would choose the matches.
        isal_zstream z;
        std::memset(&z, 0, sizeof z);
        isal_deflate_stateless_init(&z);
        z.level = static_cast<uint32_t>(s.level);
        z.level_buf = s.level_buf.get();
        z.level_buf_size = s.level_buf_size;
        z.gzip_flag = IGZIP_DEFLATE;
        z.end_of_stream = 1;
        z.flush = NO_FLUSH;
        z.next_in = const_cast<unsigned char *>(in);
        z.avail_in = static_cast<uint32_t>(n);
        z.next_out = out;
        z.avail_out = static_cast<uint32_t>(room);
        if (isal_deflate_stateless(&z) != COMP_OK || z.avail_in != 0) return 0;
        return room - z.avail_out;
    }
#endif
    if (deflateReset(&s.zs) != Z_OK) return 0;
    s.zs.next_in = const_cast<unsigned char *>(in);
    s.zs.avail_in = static_cast<uInt>(n);
    s.zs.next_out = out;
    s.zs.avail_out = static_cast<uInt>(room);
    if (::deflate(&s.zs, Z_FINISH) != Z_STREAM_END) return 0;
    return room - s.zs.avail_out;
}

uint32_t gzipCrc(uint32_t crc, const unsigned char *p, std::size_t n) noexcept {
#if FAST_HAVE_ISAL
    return crc32_gzip_refl(crc, p, n);
#else
    return static_cast<uint32_t>(crc32(crc, p, static_cast<uInt>(n)));
#endif
}

}  // namespace fast
