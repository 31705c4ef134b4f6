// The filter pass: the overlap rule over the records of one table, and how a pass ends.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "byte_reader.hpp"
#include "record_scanner.hpp"
#include "record_writer.hpp"

namespace clean_replace {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};

// Column storage: eight zero-filled arrays of one slot per counted line (columns 1 to 7 and
// 9), allocated as the command always has, so that a table too large for memory fails before
// the filter pass with the message of the column that could not be had. The overlap rule needs
// only the record before, so the filter pass keeps that one and leaves the slots untouched
// (filling them cost a fifth of the run time and 32 bytes of resident memory a line).
class LinkTable {
  public:
    // Allocates the eight columns in the command's fixed order. Returns nullptr, or the message
    // of the allocation that failed.
    const char *allocate(unsigned long long slots);

    unsigned long long slots() const { return slots_; }

  private:
    unsigned long long slots_ = 0;
    std::unique_ptr<std::int32_t[], FreeDeleter> columns_[kColumns];
};

enum class FilterEnd { kEndOfInput, kReadError, kWriteError, kOutOfRange };

struct FilterOutcome {
    FilterEnd end;
    const char *why;  // the reason of a read error
    int column;       // column and line of an out-of-range value
    unsigned long long line;
};

// Reads every record, prints each one that survives the overlap rule and stops at the end of
// the input or at the first fault.
FilterOutcome filterLinks(ByteReader &in, RecordWriter &out);

// The whole filter pass as the command runs it: filters, flushes what was printed, reports a
// fault on `err` and returns the exit status.
int runFilterPass(ByteReader &in, std::FILE *out, std::FILE *err);

}  // namespace clean_replace
