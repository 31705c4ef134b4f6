// Reads link records exactly as fscanf(f, "%s %d %d %d %d %d %d %d %d %d", ...) does in the
// C locale, over a ByteReader instead of a FILE.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "byte_reader.hpp"

namespace clean_replace {

constexpr int kColumns = 9;

struct LinkRecord {
    // Every byte of the token, NUL bytes included. Points into the reader's window or into
    // long_name, and stays valid until the next scan.
    std::string_view name;
    std::int32_t cols[kColumns] = {};  // columns 1 to 9
    std::string long_name;             // a name that crossed the end of a window
    // The record's own bytes, from the name to the last digit, when they are exactly what the
    // output format prints for it (single blanks, all nine columns, plain decimals); else empty.
    // Valid until the next scan.
    std::string_view text;
};

struct ScanResult {
    // -1 when the input ends before a name, otherwise the number of fields read (1 to 10).
    int fields;
    // The first column (1 to 9) whose value lies outside the signed 32-bit range, or 0; such a
    // column is consumed like any other but not stored.
    int range_column;
    unsigned long long range_line;  // the line (from 1) holding that value's first digit
};

class RecordScanner {
  public:
    explicit RecordScanner(ByteReader &in) : in_(in) {}

    // Fields that are not read keep their values. The next scan resumes at the first byte not
    // consumed: after a sign that is not followed by a digit, that is the byte after the sign.
    ScanResult scan(LinkRecord &rec);

  private:
    // The whole record within the current window; false, with nothing consumed, when a token
    // reaches the window's end.
    bool scanInWindow(LinkRecord &rec, ScanResult &result);
    int skipBlanks();
    void readName(std::string &name);
    bool readNumber(std::int32_t &value, bool &in_range);

    ByteReader &in_;
    unsigned long long line_ = 1;
};

}  // namespace clean_replace
