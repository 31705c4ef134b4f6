#include "record_scanner.hpp"

#include <array>

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

}  // namespace

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
    // Saturates far above the 32-bit range, so any run of digits (leading zeros included)
    // gives the right verdict.
    constexpr std::uint64_t kSaturated = 100000000000ull;
    std::uint64_t v = 0;
    for (;;) {
        const char *p = in_.pos;
        while (is(*p, kDigit)) {
            v = v < kSaturated ? v * 10 + static_cast<unsigned>(*p - '0') : kSaturated;
            ++p;
        }
        in_.pos = p;
        if (p != in_.end || !in_.refill()) break;
    }
    in_range = v <= (negative ? 2147483648ull : 2147483647ull);
    if (in_range)
        value = static_cast<std::int32_t>(negative ? 0 - static_cast<std::int64_t>(v)
                                                   : static_cast<std::int64_t>(v));
    return true;
}

ScanResult RecordScanner::scan(LinkRecord &rec) {
    ScanResult result{-1, 0, 0};
    if (skipBlanks() == EOF) return result;
    readName(rec.name);
    result.fields = 1;
    for (std::int32_t &col : rec.cols) {
        bool in_range = true;
        if (!readNumber(col, in_range)) break;
        if (!in_range && result.range_column == 0) {
            result.range_column = result.fields;
            result.range_line = line_;  // a number holds no line feed
        }
        ++result.fields;
    }
    return result;
}

}  // namespace clean_replace
