// The record index: its file format, its building from what a stream passes, its checks, and
// the spans it splits a read set into.
#include "index/index.hpp"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "output/output.hpp"

namespace fast {

namespace {

constexpr unsigned char kMagic[8] = {'F', 'A', 'S', 'T', 'R', 'I', 'D', 'X'};
constexpr uint32_t kVersion = 1;
constexpr std::size_t kHeader = 72;
constexpr std::size_t kPoint = 40;
// The bytes at each end of a read set that its identity checks.
constexpr int64_t kEnds = int64_t{64} << 10;

void put(std::vector<unsigned char> &out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

uint64_t get(const unsigned char *p, int bytes) noexcept {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t{p[i]} << (8 * i);
    return v;
}

uint32_t crcOf(const unsigned char *p, std::size_t n) noexcept {
    uLong crc = crc32(0L, Z_NULL, 0);
    while (n > 0) {
        const uInt k = static_cast<uInt>(std::min<std::size_t>(n, 1u << 30));
        crc = crc32(crc, p, k);
        p += k;
        n -= k;
    }
    return static_cast<uint32_t>(crc);
}

// The checksum of n bytes of fd from `at`, read whole; false on a short read.
bool crcAt(int fd, int64_t at, int64_t n, uint32_t &crc) noexcept {
    std::vector<unsigned char> buf;
    try {
        buf.resize(static_cast<std::size_t>(n));
    } catch (...) {
        errno = ENOMEM;
        return false;
    }
    std::size_t got = 0;
    while (got < buf.size()) {
        const ssize_t r = ::pread(fd, buf.data() + got, buf.size() - got, at + got);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            if (r == 0) errno = EIO;
            return false;
        }
        got += static_cast<std::size_t>(r);
    }
    crc = crcOf(buf.data(), buf.size());
    return true;
}

}  // namespace

bool identifyOpen(int fd, FileIdentity &id) noexcept {
    struct stat st;
    if (::fstat(fd, &st) != 0) return false;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return false;
    }
    id.size = st.st_size;
    id.mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    const int64_t n = std::min(kEnds, id.size);
    return crcAt(fd, 0, n, id.head_crc) && crcAt(fd, id.size - n, n, id.tail_crc);
}

bool identify(const char *path, FileIdentity &id) noexcept {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = identifyOpen(fd, id);
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return ok;
}

std::vector<unsigned char> RecordIndex::serialize() const {
    std::vector<unsigned char> out(kMagic, kMagic + sizeof kMagic);
    put(out, kVersion, 4);
    put(out, format, 4);
    put(out, static_cast<uint64_t>(identity.size), 8);
    put(out, static_cast<uint64_t>(identity.mtime_ns), 8);
    put(out, identity.head_crc, 4);
    put(out, identity.tail_crc, 4);
    put(out, static_cast<uint64_t>(entries), 8);
    put(out, static_cast<uint64_t>(text_size), 8);
    put(out, static_cast<uint64_t>(spacing), 8);
    put(out, points.size(), 8);
    for (const IndexPoint &p : points) {
        // The window goes in as zlib data, a quarter of its size or so for reads.
        std::vector<unsigned char> z;
        if (!p.start.window.empty()) {
            uLongf len = compressBound(static_cast<uLong>(p.start.window.size()));
            z.resize(len);
            if (compress2(z.data(), &len, p.start.window.data(),
                          static_cast<uLong>(p.start.window.size()), 9) != Z_OK)
                throw std::bad_alloc();
            z.resize(len);
        }
        put(out, static_cast<uint8_t>(p.start.kind), 1);
        put(out, p.start.bits, 1);
        put(out, p.start.window.size(), 2);
        put(out, z.size(), 4);
        put(out, static_cast<uint64_t>(p.start.at), 8);
        put(out, static_cast<uint64_t>(p.start.text), 8);
        put(out, static_cast<uint64_t>(p.entry_text), 8);
        put(out, static_cast<uint64_t>(p.number), 8);
        out.insert(out.end(), z.begin(), z.end());
    }
    put(out, crcOf(out.data(), out.size()), 4);
    return out;
}

bool RecordIndex::parse(const unsigned char *p, std::size_t n, std::string &why) {
    why.clear();
    if (n < kHeader + 4 || std::memcmp(p, kMagic, sizeof kMagic) != 0) {
        why = n < sizeof kMagic || std::memcmp(p, kMagic, sizeof kMagic) != 0
                  ? "is not a record index"
                  : "is truncated";
        return false;
    }
    if (get(p + 8, 4) != kVersion) {
        why = "has version " + std::to_string(get(p + 8, 4)) + ", not 1";
        return false;
    }
    if (crcOf(p, n - 4) != get(p + n - 4, 4)) {
        why = "is damaged or truncated (its checksum does not match)";
        return false;
    }
    const auto bad = [&](const char *what) {
        why = std::string("is damaged: ") + what;
        return false;
    };
    const uint64_t fmt = get(p + 12, 4);
    if (fmt > 4) return bad("unknown format");
    format = static_cast<uint8_t>(fmt);
    identity.size = static_cast<int64_t>(get(p + 16, 8));
    identity.mtime_ns = static_cast<int64_t>(get(p + 24, 8));
    identity.head_crc = static_cast<uint32_t>(get(p + 32, 4));
    identity.tail_crc = static_cast<uint32_t>(get(p + 36, 4));
    entries = static_cast<int64_t>(get(p + 40, 8));
    text_size = static_cast<int64_t>(get(p + 48, 8));
    spacing = static_cast<int64_t>(get(p + 56, 8));
    const uint64_t count = get(p + 64, 8);
    if (identity.size < 0 || entries < 0 || text_size < 0 || spacing <= 0)
        return bad("a size is out of range");
    if (count > (n - kHeader - 4) / kPoint) return bad("more points than it holds");
    if ((count == 0) != (entries == 0)) return bad("no points for its entries");
    points.clear();
    points.reserve(static_cast<std::size_t>(count));
    std::size_t at = kHeader;
    for (uint64_t i = 0; i < count; ++i) {
        if (n - 4 - at < kPoint) return bad("a point is cut short");
        const unsigned char *q = p + at;
        IndexPoint ip;
        const uint64_t kind = q[0];
        const std::size_t window = get(q + 2, 2), zlen = get(q + 4, 4);
        ip.start.bits = q[1];
        ip.start.at = static_cast<int64_t>(get(q + 8, 8));
        ip.start.text = static_cast<int64_t>(get(q + 16, 8));
        ip.entry_text = static_cast<int64_t>(get(q + 24, 8));
        ip.number = static_cast<int64_t>(get(q + 32, 8));
        at += kPoint;
        const bool plain = format == 0;
        if (kind > 2 || (kind == 0) != plain || (kind == 2 && format != 1))
            return bad("a point of the wrong kind");
        ip.start.kind = static_cast<PointKind>(kind);
        if (ip.start.bits > 7 || (kind != 2 && (ip.start.bits != 0 || window != 0 || zlen != 0)) ||
            window > kDeflateWindow)
            return bad("a point's bits or window are out of range");
        if (ip.start.at < 0 || ip.start.at > identity.size || ip.start.text < 0 ||
            ip.entry_text < ip.start.text || ip.entry_text >= text_size || ip.number < 0 ||
            ip.number >= entries || (kind == 0 && ip.start.at != ip.start.text))
            return bad("a point is out of range");
        if (i == 0 && (ip.start.at != 0 || ip.start.text != 0 || ip.number != 0))
            return bad("the first point is not at the start");
        if (i > 0) {
            const IndexPoint &prev = points.back();
            if (ip.start.at <= prev.start.at || ip.start.text <= prev.start.text ||
                ip.entry_text <= prev.entry_text || ip.number < prev.number)
                return bad("the points are out of order");
        }
        if (zlen > n - 4 - at) return bad("a window is cut short");
        if (window > 0) {
            ip.start.window.resize(window);
            uLongf len = static_cast<uLongf>(window);
            if (uncompress(ip.start.window.data(), &len, p + at, static_cast<uLong>(zlen)) !=
                    Z_OK ||
                len != window)
                return bad("a window does not inflate");
        }
        at += zlen;
        points.push_back(std::move(ip));
    }
    if (at != n - 4) return bad("bytes after its points");
    return true;
}

std::size_t RecordIndex::pointFor(int64_t first) const noexcept {
    // The last point whose number is at most `first`; the first point's is 0.
    const auto it = std::upper_bound(points.begin(), points.end(), first,
                                     [](int64_t v, const IndexPoint &p) { return v < p.number; });
    return it == points.begin() ? 0 : static_cast<std::size_t>(it - points.begin()) - 1;
}

std::vector<int64_t> RecordIndex::splits(int32_t n) const {
    std::vector<int64_t> bounds{0};
    if (entries == 0 || n <= 1 || points.empty()) {
        if (entries > 0) bounds.push_back(entries);
        return bounds;
    }
    std::size_t from = 0;
    for (int32_t j = 1; j < n; ++j) {
        // The point whose entry is nearest the j-th n-th of the text, after the last chosen.
        const int64_t target = static_cast<int64_t>(static_cast<double>(text_size) * j / n);
        std::size_t best = from;
        for (std::size_t k = from + 1; k < points.size(); ++k) {
            if (std::llabs(points[k].entry_text - target) <=
                std::llabs(points[best].entry_text - target))
                best = k;
            if (points[k].entry_text > target) break;
        }
        if (points[best].number > bounds.back() && points[best].number < entries) {
            bounds.push_back(points[best].number);
            from = best;
        }
    }
    bounds.push_back(entries);
    return bounds;
}

void IndexBuilder::addPoint(StartPoint &&point) {
    pending_.push_back(std::move(point));
}

void IndexBuilder::addEntry(int64_t text, int64_t number) {
    for (; next_ < pending_.size() && pending_[next_].text <= text; ++next_) {
        IndexPoint p;
        p.start = std::move(pending_[next_]);
        p.entry_text = text;
        p.number = number;
        // Of the points before one entry, the last is the nearest to it; but the first point
        // stays at the start of the text, where reading needs no point.
        if (!points_.empty() && points_.back().entry_text == text) {
            if (points_.size() > 1) points_.back() = std::move(p);
        } else {
            points_.push_back(std::move(p));
        }
    }
    if (next_ == pending_.size()) {
        pending_.clear();
        next_ = 0;
    }
}

RecordIndex IndexBuilder::finish(uint8_t format, const FileIdentity &id, int64_t entries,
                                 int64_t text_size) {
    RecordIndex index;
    index.identity = id;
    index.format = format;
    index.entries = entries;
    index.text_size = text_size;
    index.spacing = spacing_;
    // Points after the last entry start none, nor do those whose entry is a dropped one after
    // the last kept entry.
    index.points = std::move(points_);
    while (!index.points.empty() && index.points.back().number >= entries) index.points.pop_back();
    return index;
}

void WriterMarks::mark(int64_t text, int64_t number) {
    // Of the points an entry is the first after, the nearest one before it.
    const int64_t point = text / every_ * every_;
    marks_.push_back({point, text, number});
    next_ = point + every_;
}

RecordIndex WriterMarks::finish(uint8_t format, const FileIdentity &id,
                                const std::vector<OutputPoint> &points, int64_t entries,
                                int64_t text_size, int64_t spacing) const {
    IndexBuilder builder(spacing);
    for (const Mark &m : marks_) {
        const std::size_t k = static_cast<std::size_t>(m.point / every_);
        if (k >= points.size() || points[k].text != m.point) throw std::logic_error("point");
        StartPoint start;
        start.kind = format == 0 ? PointKind::text : PointKind::stream;
        start.at = points[k].at;
        start.text = m.point;
        builder.addPoint(std::move(start));
        builder.addEntry(m.text, m.number);
    }
    return builder.finish(format, id, entries, text_size);
}

bool writeIndexFile(const char *path, const RecordIndex &index, std::string &why) {
    std::vector<unsigned char> bytes;
    try {
        bytes = index.serialize();
    } catch (...) {
        why = std::strerror(ENOMEM);
        return false;
    }
    Output out;
    OutputSettings settings;
    settings.threads = 1;
    if (!out.open(path, nullptr, settings)) {
        why = std::strerror(errno);
        return false;
    }
    if (!out.put(bytes.data(), bytes.size()) || !out.finish()) {
        why = out.why() ? out.why() : "cannot be written";
        return false;
    }
    return true;
}

bool readIndexFile(const char *path, RecordIndex &index, std::string &why) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    std::vector<unsigned char> bytes;
    unsigned char buf[1 << 16];
    for (;;) {
        const ssize_t r = ::read(fd, buf, sizeof buf);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            why = std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (r == 0) break;
        try {
            bytes.insert(bytes.end(), buf, buf + r);
        } catch (...) {
            why = std::strerror(ENOMEM);
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    try {
        return index.parse(bytes.data(), bytes.size(), why);
    } catch (...) {
        why = std::strerror(ENOMEM);
        return false;
    }
}

std::string indexPathFor(const char *path) {
    return std::string(path) + ".ridx";
}

}  // namespace fast
