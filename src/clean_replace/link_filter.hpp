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

// Column storage: one zero-filled slot per counted line for columns 1 to 7 and 9; column 8 is
// kept only for the current record. Records beyond the counted lines (a last line without a
// line feed, several records on one line) are filtered all the same but not stored.
class LinkTable {
  public:
    // Allocates the eight columns in the command's fixed order. Returns nullptr, or the message
    // of the allocation that failed.
    const char *allocate(unsigned long long slots);

    void store(unsigned long long index, const LinkRecord &rec);

    unsigned long long slots() const { return slots_; }
    const std::int32_t *column(int number) const { return columns_[number - 1].get(); }

  private:
    unsigned long long slots_ = 0;
    std::unique_ptr<std::int32_t[], FreeDeleter> columns_[kColumns];
};

enum class FilterEnd { kEndOfInput, kReadError, kWriteError, kOutOfRange };

struct FilterOutcome {
    FilterEnd end;
    int error;   // errno of a read or write error
    int column;  // column and line of an out-of-range value
    unsigned long long line;
};

// Reads every record, prints each one that survives the overlap rule and stops at the end of
// the input or at the first fault.
FilterOutcome filterLinks(ByteReader &in, LinkTable &table, RecordWriter &out);

// The whole filter pass as the command runs it: filters, flushes what was printed, reports a
// fault on `err` and returns the exit status.
int runFilterPass(ByteReader &in, LinkTable &table, std::FILE *out, std::FILE *err);

}  // namespace clean_replace
