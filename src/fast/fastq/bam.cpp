// BAM records to entries. A record is a little-endian block: its size, 32 bytes of fixed fields,
// the read name with its zero byte, the CIGAR operations, the bases four bits each, one quality
// value a base (all 0xFF when there are none) and the tags up to the block's end. Each field is
// checked against the block before it is read, so no length in the data can make the decoder
// read outside what it was fed.
#include "fastq/bam.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace fast {

namespace {

constexpr uint16_t kReverse = 0x10;
constexpr uint16_t kNotPrimary = 0x100 | 0x800;  // secondary, supplementary
constexpr uint32_t kFixedFields = 32;
// No record of reads comes near this; a larger size is damage, not a read.
constexpr uint32_t kMostRecord = uint32_t{1} << 30;

uint16_t le16(const unsigned char *p) noexcept {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t le32(const unsigned char *p) noexcept {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The base letters of the four-bit codes, and of their complements.
constexpr char kCode[] = "=ACMGRSVTWYHKDBN";
constexpr char kComplement[] = "=TGKCYSBAWRDMHVN";

// Two letters for each byte of packed bases, the high half first.
struct PairTable {
    char letters[256][2];
    constexpr PairTable() : letters() {
        for (int b = 0; b < 256; ++b) {
            letters[b][0] = kCode[b >> 4];
            letters[b][1] = kCode[b & 15];
        }
    }
};
constexpr PairTable kPairs;

// A tag's value type: the bytes of one value, 0 for those that are not fixed in size.
std::size_t valueSize(char type) noexcept {
    switch (type) {
        case 'A':
        case 'c':
        case 'C':
            return 1;
        case 's':
        case 'S':
            return 2;
        case 'i':
        case 'I':
        case 'f':
            return 4;
        default:
            return 0;
    }
}

// Writes one value of a fixed-size type at p as SAM text, at w; returns the end of the text.
char *putValue(char *w, char type, const unsigned char *p) noexcept {
    switch (type) {
        case 'A':
            *w++ = static_cast<char>(*p);
            return w;
        case 'c':
            return w + std::sprintf(w, "%d", static_cast<int8_t>(*p));
        case 'C':
            return w + std::sprintf(w, "%u", static_cast<unsigned>(*p));
        case 's':
            return w + std::sprintf(w, "%d", static_cast<int16_t>(le16(p)));
        case 'S':
            return w + std::sprintf(w, "%u", static_cast<unsigned>(le16(p)));
        case 'i':
            return w + std::sprintf(w, "%d", static_cast<int32_t>(le32(p)));
        case 'I':
            return w + std::sprintf(w, "%u", le32(p));
        default: {
            const uint32_t bits = le32(p);
            float value;
            std::memcpy(&value, &bits, sizeof value);
            return w + std::sprintf(w, "%g", static_cast<double>(value));
        }
    }
}

// The most bytes of SAM text that `n` bytes of tags can give: a value of one byte gives at most
// five ("-128,"), a tag's three bytes of name and type at most six ("XX:i:"), a float's four
// bytes at most fifteen.
std::size_t mostTagText(std::size_t n) noexcept {
    return 6 * n + 16;
}

}  // namespace

bool isBam(const char *p, std::size_t n) noexcept {
    return n >= 4 && std::memcmp(p, "BAM\1", 4) == 0;
}

bool BamSniffer::bam(const char *p, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n && matched_ >= 0 && matched_ < 4; ++i)
        matched_ = p[i] == "BAM\1"[matched_] ? matched_ + 1 : -1;
    return matched_ == 4;
}

bool BamDecoder::fail(const char *format, ...) noexcept {
    va_list args;
    va_start(args, format);
    std::vsnprintf(why_, sizeof why_, format, args);
    va_end(args);
    return false;
}

const char *BamDecoder::whyCut() noexcept {
    if (!header_done_)
        fail("BAM data ends inside its header");
    else
        fail("BAM data ends inside record %lld", static_cast<long long>(records_ + 1));
    return why_;
}

bool BamDecoder::feed(const char *p, std::size_t n) noexcept {
    // What is left is less than one record: moving it to the front costs little.
    if (pos_ > 0) {
        std::memmove(data_.get(), data_.get() + pos_, size_ - pos_);
        size_ -= pos_;
        pos_ = 0;
    }
    if (cap_ - size_ < n) {
        const std::size_t cap = std::max(size_ + n, cap_ + cap_ / 2);
        if (!resize(data_, cap)) return false;
        cap_ = cap;
    }
    std::memcpy(data_.get() + size_, p, n);
    size_ += n;
    return true;
}

void BamDecoder::startBatch() noexcept {
    count_ = 0;
    text_ = 0;
    arena_used_ = 0;
}

bool BamDecoder::readHeader() noexcept {
    const auto *p = reinterpret_cast<const unsigned char *>(data_.get()) + pos_;
    const std::size_t n = size_ - pos_;
    if (n < 12) return true;
    const int32_t l_text = static_cast<int32_t>(le32(p + 4));
    if (l_text < 0) return fail("the BAM header's text has a negative length");
    std::size_t at = 8 + static_cast<std::size_t>(l_text);
    if (n < at + 4) return true;
    const int32_t n_ref = static_cast<int32_t>(le32(p + at));
    if (n_ref < 0) return fail("the BAM header has a negative count of references");
    at += 4;
    for (int32_t i = 0; i < n_ref; ++i) {
        if (n < at + 4) return true;
        const int32_t l_name = static_cast<int32_t>(le32(p + at));
        if (l_name < 1) return fail("reference %d of the BAM header has no name", i + 1);
        at += 4 + static_cast<std::size_t>(l_name) + 4;
        if (n < at) return true;
    }
    pos_ += at;
    header_done_ = true;
    return true;
}

bool BamDecoder::reserveText(std::size_t need) noexcept {
    if (arena_cap_ - arena_used_ >= need) return true;
    const std::size_t cap = std::max(arena_cap_ * 2, arena_used_ + need);
    const uintptr_t old = reinterpret_cast<uintptr_t>(arena_.get());
    if (!resize(arena_, cap)) return false;
    arena_cap_ = cap;
    // The batch's entries move with the text they point to.
    const uintptr_t now = reinterpret_cast<uintptr_t>(arena_.get());
    const auto move = [old, now](auto *q) {
        return q ? reinterpret_cast<decltype(q)>(reinterpret_cast<uintptr_t>(q) - old + now) : q;
    };
    for (int32_t i = 0; i < count_; ++i) {
        SeqEntry &e = entries_.get()[i];
        e.name = move(e.name);
        e.comment = move(e.comment);
        e.bases = move(e.bases);
        e.quals = move(e.quals);
    }
    return true;
}

bool BamDecoder::decodeRecord(const unsigned char *p, uint32_t size) noexcept {
    const long long number = static_cast<long long>(records_ + 1);
    if (size < kFixedFields)
        return fail("BAM record %lld is shorter than its fixed fields (%u bytes)", number, size);
    const uint32_t l_name = p[8];
    const uint32_t n_cigar = le16(p + 12);
    const uint16_t flag = le16(p + 14);
    const int32_t l_seq = static_cast<int32_t>(le32(p + 16));
    if (l_seq < 0) return fail("BAM record %lld has a negative sequence length", number);
    const uint64_t name_end = kFixedFields + uint64_t{l_name};
    const uint64_t seq_at = name_end + 4 * uint64_t{n_cigar};
    const uint64_t qual_at = seq_at + (static_cast<uint64_t>(l_seq) + 1) / 2;
    const uint64_t tags_at = qual_at + static_cast<uint64_t>(l_seq);
    if (tags_at > size) return fail("BAM record %lld runs past its data", number);
    if (l_name == 0 || p[name_end - 1] != 0)
        return fail("BAM record %lld has a read name without its zero byte", number);
    // Records without bases hold no read: a secondary record's may be left out by the aligner.
    if ((flag & kNotPrimary) || l_seq == 0) return true;

    const std::size_t length = static_cast<std::size_t>(l_seq);
    const std::size_t tags = size - tags_at;
    if (!reserveText(l_name + 2 * length + mostTagText(tags))) return fail("out of memory");
    if (static_cast<std::size_t>(count_) >= entries_cap_) {
        const std::size_t cap = std::max<std::size_t>(64, entries_cap_ * 2);
        if (!resize(entries_, cap)) return fail("out of memory");
        entries_cap_ = cap;
    }
    char *const text = arena_.get();
    char *w = text + arena_used_;
    SeqEntry &e = entries_.get()[count_];
    e = SeqEntry{};
    e.name = w;
    std::memcpy(w, p + kFixedFields, l_name);
    w += l_name;

    // Bases and qualities as they came off the instrument: a record on the reverse strand holds
    // the reverse complement.
    e.length = l_seq;
    e.bases = w;
    const unsigned char *packed = p + seq_at;
    if (flag & kReverse) {
        for (std::size_t i = 0; i < length; ++i) {
            const unsigned code = (packed[i >> 1] >> ((~i & 1) << 2)) & 15;
            w[length - 1 - i] = kComplement[code];
        }
    } else {
        std::size_t i = 0;
        for (; i + 2 <= length; i += 2) std::memcpy(w + i, kPairs.letters[packed[i >> 1]], 2);
        if (i < length) w[i] = kCode[packed[i >> 1] >> 4];
    }
    w += length;
    const unsigned char *qual = p + qual_at;
    if (qual[0] == 0xFF) {
        e.is_fasta = 1;
    } else {
        e.quals = reinterpret_cast<int8_t *>(w);
        if (flag & kReverse)
            std::reverse_copy(qual, qual + length, reinterpret_cast<unsigned char *>(w));
        else
            std::memcpy(w, qual, length);
        w += length;
    }

    // The tags in SAM text, a tab between two.
    const unsigned char *t = p + tags_at, *const t_end = p + size;
    if (t < t_end) e.comment = w;
    while (t < t_end) {
        if (t_end - t < 3) return fail("BAM record %lld has a tag cut short", number);
        const char type = static_cast<char>(t[2]);
        if (w != e.comment) *w++ = '\t';
        *w++ = static_cast<char>(t[0]);
        *w++ = static_cast<char>(t[1]);
        *w++ = ':';
        t += 3;
        if (const std::size_t n = valueSize(type)) {
            if (static_cast<std::size_t>(t_end - t) < n)
                return fail("BAM record %lld has a tag cut short", number);
            const bool integer = type != 'A' && type != 'f';
            *w++ = integer ? 'i' : type;
            *w++ = ':';
            w = putValue(w, type, t);
            t += n;
        } else if (type == 'Z' || type == 'H') {
            const void *zero = std::memchr(t, 0, static_cast<std::size_t>(t_end - t));
            if (!zero) return fail("BAM record %lld has a string tag without its end", number);
            const std::size_t n =
                static_cast<std::size_t>(static_cast<const unsigned char *>(zero) - t);
            *w++ = type;
            *w++ = ':';
            std::memcpy(w, t, n);
            w += n;
            t += n + 1;
        } else if (type == 'B') {
            if (t_end - t < 5) return fail("BAM record %lld has a tag cut short", number);
            const char sub = static_cast<char>(t[0]);
            const std::size_t n = valueSize(sub);
            const uint64_t items = le32(t + 1);
            t += 5;
            if (n == 0 || sub == 'A')
                return fail("BAM record %lld has an array tag of unknown type", number);
            if (items * n > static_cast<uint64_t>(t_end - t))
                return fail("BAM record %lld has a tag cut short", number);
            *w++ = 'B';
            *w++ = ':';
            *w++ = sub;
            for (uint64_t i = 0; i < items; ++i, t += n) {
                *w++ = ',';
                w = putValue(w, sub, t);
            }
        } else {
            return fail("BAM record %lld has a tag of unknown type", number);
        }
    }
    if (e.comment) *w++ = 0;
    arena_used_ = static_cast<std::size_t>(w - text);
    ++count_;
    return true;
}

BamDecoder::Status BamDecoder::decode(int64_t limit, int32_t max_entries, bool even) noexcept {
    if (!header_done_) {
        if (!readHeader()) return Status::failed;
        if (!header_done_) return Status::need_more;
    }
    while (count_ < max_entries) {
        const auto *p = reinterpret_cast<const unsigned char *>(data_.get()) + pos_;
        const std::size_t n = size_ - pos_;
        if (n < 4) return Status::need_more;
        const uint32_t size = le32(p);
        if (size < kFixedFields || size > kMostRecord) {
            fail("BAM record %lld has an impossible length (%u bytes)",
                 static_cast<long long>(records_ + 1), size);
            return Status::failed;
        }
        if (n - 4 < size) return Status::need_more;
        if (count_ > 0 && !(even && count_ % 2) && text_ + size > limit) return Status::full;
        if (!decodeRecord(p + 4, size)) return Status::failed;
        pos_ += 4 + std::size_t{size};
        ++records_;
        text_ += size;
    }
    return Status::full;
}

}  // namespace fast
