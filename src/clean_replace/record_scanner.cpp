#include "record_scanner.hpp"

#include <array>
#include <cstring>

namespace clean_replace {

namespace {

enum : unsigned char { kBlank = 1, kDigit = 2, kNameStop = 4 };

// isspace() and isdigit() of the C locale; a name stops at a blank, and at NUL so that the
// window's terminating NUL is seen (a NUL inside the window belongs to the name).
constexpr std::array<unsigned char, 256> makeClasses() {
    std::array<unsigned char, 256> t{};
    for (char c : {' ', '\t', '\n', '\v', '\f', '\r'})
        t[static_cast<unsigned char>(c)] = kBlank | kNameStop;
    for (int c = '0'; c <= '9'; ++c) t[c] = kDigit;
    t[0] = kNameStop;
    return t;
}
constexpr std::array<unsigned char, 256> kClasses = makeClasses();

inline bool is(char c, unsigned char cls) {
    return kClasses[static_cast<unsigned char>(c)] & cls;
}

// Saturates far above the 32-bit range, so any run of digits (leading zeros included) gives
// the right verdict.
constexpr std::uint64_t kSaturated = 100000000000ull;

constexpr std::uint64_t kPowers[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

inline std::uint64_t appendDigits(std::uint64_t v, std::uint64_t digits, unsigned count) {
    return v < kSaturated ? v * kPowers[count] + digits : kSaturated;
}

// The value of the digits starting at p, up to eight of them, and their count; the first other
// byte may be the window's terminating NUL.
inline std::uint64_t eightDigits(const char *p, unsigned &count) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    // Bytes are the digit values for '0'..'9'; the first other byte gets its high bit set
    // (borrows and carries only reach the bytes after it).
    std::uint64_t values = word - 0x3030303030303030ull;
    std::uint64_t stops = (values | (word + 0x4646464646464646ull)) & 0x8080808080808080ull;
    count = stops != 0 ? static_cast<unsigned>(__builtin_ctzll(stops)) / 8 : 8;
    if (count == 0) return 0;
    // Eight digits with leading zeros, combined pairwise.
    std::uint64_t x = values << (64 - 8 * count);
    x = x * 10 + (x >> 8);
    return (((x & 0x000000FF000000FFull) * 0x000F424000000064ull) +
            (((x >> 16) & 0x000000FF000000FFull) * 0x0000271000000001ull)) >>
           32;
}

// Consumes the run of digits at p into v, which holds the digits read before them.
inline const char *readDigits(const char *p, std::uint64_t &v) {
    for (;;) {
        unsigned count;
        std::uint64_t digits = eightDigits(p, count);
        v = appendDigits(v, digits, count);
        p += count;
        if (count < 8) return p;
    }
}

// The first byte below '!' from p on: every blank and NUL is one, most name bytes are not.
inline const char *findControl(const char *p) {
    for (;; p += 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        std::uint64_t low = (word - 0x2121212121212121ull) & ~word & 0x8080808080808080ull;
        if (low != 0) return p + __builtin_ctzll(low) / 8;
    }
}

inline bool storeNumber(std::uint64_t v, bool negative, std::int32_t &value) {
    if (v > (negative ? 2147483648ull : 2147483647ull)) return false;
    value = static_cast<std::int32_t>(negative ? 0 - static_cast<std::int64_t>(v)
                                               : static_cast<std::int64_t>(v));
    return true;
}

inline void noteRange(ScanResult &result, bool in_range, unsigned long long line) {
    if (in_range || result.range_column != 0) return;
    result.range_column = result.fields;
    result.range_line = line;  // a number holds no line feed
}

}  // namespace

ScanResult RecordScanner::scan(LinkRecord &rec) {
    ScanResult result{-1, 0, 0};
    if (scanInWindow(rec, result)) return result;
    // Some token reaches the window's end: read the record again byte by byte across refills.
    // Nothing was consumed, and every field stored meanwhile is stored again with its value.
    result = ScanResult{-1, 0, 0};
    if (skipBlanks() == EOF) return result;
    readName(rec.long_name);
    rec.name = rec.long_name;
    rec.text = std::string_view();
    result.fields = 1;
    for (std::int32_t &col : rec.cols) {
        bool in_range = true;
        if (!readNumber(col, in_range)) break;
        noteRange(result, in_range, line_);
        ++result.fields;
    }
    return result;
}

bool RecordScanner::scanInWindow(LinkRecord &rec, ScanResult &result) {
    const char *p = in_.pos;
    const char *const end = in_.end;
    unsigned long long line = line_;
    bool canonical = true;
    auto skip = [&] {
        if (*p == ' ' && !is(p[1], kBlank)) {
            ++p;
        } else {
            canonical = false;
            while (is(*p, kBlank)) line += *p++ == '\n';
        }
        return p != end;
    };
    if (!skip()) return false;
    canonical = true;
    const char *name = p;
    for (;;) {
        p = findControl(p);
        if (is(*p, kNameStop)) {
            if (p == end) return false;
            if (*p != '\0') break;
            canonical = false;  // the name is printed up to its NUL
        }
        ++p;  // a NUL or other control byte inside the name
    }
    rec.name = std::string_view(name, static_cast<std::size_t>(p - name));
    result.fields = 1;
    for (std::int32_t &col : rec.cols) {
        if (!skip()) return false;
        bool negative = *p == '-';
        if (*p == '+') canonical = false;
        if (negative || *p == '+') ++p;
        const char *digits = p;
        unsigned count;
        std::uint64_t v = eightDigits(p, count);
        p += count;
        if (count == 8) p = readDigits(p, v);
        if (p == end) return false;
        if (p == digits) break;  // no digit: a sign stays consumed, the byte after it does not
        if ((*digits == '0' && p - digits > 1) || (negative && v == 0)) canonical = false;
        noteRange(result, storeNumber(v, negative, col), line);
        ++result.fields;
    }
    rec.text = canonical && result.fields == kColumns + 1
                   ? std::string_view(name, static_cast<std::size_t>(p - name))
                   : std::string_view();
    in_.pos = p;
    line_ = line;
    return true;
}

int RecordScanner::skipBlanks() {
    for (;;) {
        const char *p = in_.pos;
        unsigned long long lines = 0;
        while (is(*p, kBlank)) lines += *p++ == '\n';
        line_ += lines;
        in_.pos = p;
        if (p != in_.end) return static_cast<unsigned char>(*p);
        if (!in_.refill()) return EOF;
    }
}

void RecordScanner::readName(std::string &name) {
    name.clear();
    const char *start = in_.pos;
    const char *p = start;
    for (;;) {
        while (!is(*p, kNameStop)) ++p;
        if (p != in_.end) {
            if (*p != '\0') break;
            ++p;
            continue;
        }
        name.append(start, p);
        in_.pos = p;
        if (!in_.refill()) return;
        start = p = in_.pos;
    }
    name.append(start, p);
    in_.pos = p;
}

bool RecordScanner::readNumber(std::int32_t &value, bool &in_range) {
    int c = skipBlanks();
    if (c == EOF) return false;
    bool negative = false;
    if (c == '-' || c == '+') {
        negative = c == '-';
        ++in_.pos;
        c = in_.peek();
    }
    if (c == EOF || !is(static_cast<char>(c), kDigit)) return false;
    std::uint64_t v = 0;
    for (;;) {
        in_.pos = readDigits(in_.pos, v);
        if (in_.pos != in_.end || !in_.refill()) break;
    }
    in_range = storeNumber(v, negative, value);
    return true;
}

}  // namespace clean_replace
