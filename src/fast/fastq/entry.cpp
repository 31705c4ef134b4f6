// Operations on single entries: quality count, the two copies, case change.
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fast.h"

namespace {

constexpr std::array<unsigned char, 256> makeComplement() {
    std::array<unsigned char, 256> t{};
    for (int c = 0; c < 256; ++c) t[c] = static_cast<unsigned char>(c);
    t['A'] = 'T';
    t['C'] = 'G';
    t['G'] = 'C';
    t['T'] = 'A';
    return t;
}
constexpr std::array<unsigned char, 256> kComplement = makeComplement();

// One block for a copy: `data` bytes of bases and quality room, then the name, then room for
// aux_text (`extra` bytes). The size keeps the historical slack of 9 name lengths + 39 bytes
// after the name; it is computed in 64 bits so that long entries cannot wrap it.
char *allocCopy(int64_t data, size_t name_len, size_t extra) {
    const uint64_t size = static_cast<uint64_t>(data) + 10 * static_cast<uint64_t>(name_len) + 40 +
                          static_cast<uint64_t>(extra);
    char *block = size > SIZE_MAX ? nullptr : static_cast<char *>(std::malloc(size));
    if (!block) std::puts("ERROR reverseCompliment: malloc");
    return block;
}

// Copies the name to block + data and points dst->name at it; returns the byte after it.
char *placeName(const SeqEntry *src, SeqEntry *dst, char *block, int64_t data, size_t name_len) {
    dst->name = block + data;
    if (name_len) std::memcpy(dst->name, src->name, name_len);
    dst->name[name_len] = 0;
    return dst->name + name_len + 1;
}

size_t lengthOf(const char *s) {
    return s ? std::strlen(s) : 0;
}

void mapBases(SeqEntry *entries, int32_t count, int (*map)(int)) {
    unsigned char table[256];
    for (int c = 0; c < 256; ++c) table[c] = static_cast<unsigned char>(map(c));
    for (int32_t i = 0; i < count; ++i) {
        unsigned char *b = reinterpret_cast<unsigned char *>(entries[i].bases);
        if (!b) continue;
        for (int32_t k = 0; k < entries[i].length; ++k) b[k] = table[b[k]];
    }
}

}  // namespace

extern "C" {

int32_t countQthresh(const SeqEntry *entry, int32_t threshold) {
    if (entry->is_fasta) return entry->length;
    if (!entry->quals || entry->length <= 0) return 0;
    if (threshold <= INT8_MIN) return entry->length;
    if (threshold > INT8_MAX) return 0;
    // Byte against byte, so that the loop compares many values at once.
    const int8_t t = static_cast<int8_t>(threshold);
    int32_t n = 0;
    for (int32_t i = 0; i < entry->length; ++i) n += entry->quals[i] >= t;
    return n;
}

int32_t duplicateRead(const SeqEntry *src, SeqEntry *dst) {
    dst->bases = nullptr;
    dst->length = 0;
    const int64_t k = (src->bases != nullptr) + (src->is_fasta == 0);
    const int64_t data = k * src->length;
    if (data <= 0 || !src->bases) return 1;
    const size_t name_len = lengthOf(src->name);
    const size_t aux_len = src->aux_text ? std::strlen(src->aux_text) + 1 : 0;
    char *block = allocCopy(data, name_len, aux_len);
    if (!block) return 1;
    const int32_t length = src->length;
    dst->bases = block;
    char *after_name = placeName(src, dst, block, data, name_len);
    dst->aux = src->aux;
    dst->aux_text = nullptr;
    if (src->aux_text) {
        dst->aux_text = after_name;
        std::memcpy(after_name, src->aux_text, aux_len);
    }
    dst->is_fasta = src->is_fasta;
    dst->length = length;
    std::memcpy(block, src->bases, static_cast<size_t>(length));
    dst->quals = nullptr;
    if (src->is_fasta == 0) {
        dst->quals = reinterpret_cast<int8_t *>(block + length);
        if (src->quals)
            std::memcpy(dst->quals, src->quals, static_cast<size_t>(length));
        else
            std::memset(dst->quals, 0, static_cast<size_t>(length));
    }
    return 0;
}

int32_t reverseCompliment(const SeqEntry *src, SeqEntry *dst) {
    dst->length = 0;
    const int64_t k = (src->bases != nullptr) + (src->quals != nullptr);
    const int64_t data = k * src->length;
    if (data <= 0 || !src->bases) return 1;
    const size_t name_len = lengthOf(src->name);
    char *block = allocCopy(data, name_len, 0);
    if (!block) {
        dst->bases = nullptr;
        return 1;
    }
    const int32_t length = src->length;
    dst->bases = block;
    placeName(src, dst, block, data, name_len);
    dst->aux = src->aux;
    dst->length = length;
    dst->is_fasta = src->is_fasta;
    dst->quals = src->quals ? reinterpret_cast<int8_t *>(block + length) : nullptr;
    const unsigned char *in = reinterpret_cast<const unsigned char *>(src->bases);
    for (int32_t i = 0; i < length; ++i)
        block[i] = static_cast<char>(kComplement[in[length - 1 - i]]);
    if (src->quals)
        for (int32_t i = 0; i < length; ++i) dst->quals[i] = src->quals[length - 1 - i];
    return 0;
}

void fastaUC(SeqEntry *entries, int32_t count) {
    mapBases(entries, count, [](int c) { return std::toupper(c); });
}

void fastaLC(SeqEntry *entries, int32_t count) {
    mapBases(entries, count, [](int c) { return std::tolower(c); });
}

}  // extern "C"
