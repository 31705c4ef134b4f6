// The table of compressed formats that the input layer recognises.
#include <cstring>
#include <string>

#include "decompress.hpp"

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

constexpr FormatInfo kFormats[] = {
    {Format::gzip, "gzip", gzipMagic, true, makeGzipDecompressor},
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
