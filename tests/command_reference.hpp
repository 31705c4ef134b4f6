// Plain references for the command's tests and fuzzers: glibc's fscanf and printf over an
// in-memory stream, beside the command's own scanner and filter pass on the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "byte_reader.hpp"

namespace command_reference {

// Hands out `bytes` (which must outlive the reader) at most `window` bytes per read.
clean_replace::ReadFunction readInWindows(const std::string &bytes, std::size_t window);

constexpr int kColumns = 9;

// One record read, by either side.
struct ScanStep {
    int fields = 0;  // -1 at the end of the input, else the fields read
    std::string name;
    std::int32_t cols[kColumns] = {};  // unread columns keep the values given
    int range_column = 0;              // first column read that lies outside int32, or 0
    unsigned wide_columns = 0;         // fscanf's side: bit i set when column i+1 lies outside
    unsigned long long range_line = 0;
    long long resume = 0;  // bytes consumed after the call
};

// Every record of `bytes` read by fscanf and by the command's scanner (given the bytes in
// windows of `window` bytes), from the same starting values; empty when both agree on every
// field, count, range verdict and resume position, else the first difference.
std::string compareScans(const std::string &bytes, std::size_t window);

struct FilterRun {
    std::string output;
    int range_column = 0;  // 0 when the whole input was read
    unsigned long long range_line = 0;
    std::string read_error;  // the reason of a read error that ended the run, or empty
};

// The overlap rule in one plain pass: fscanf to read, printf to print.
FilterRun referenceFilter(const std::string &bytes);

// The command's counting and filter passes over the same bytes, read in windows of `window`.
// Bytes that start with the magic of a compressed format are read as the command reads such a
// table: in one pass through the input layer, decompressed by its read-ahead thread.
FilterRun commandFilter(const std::string &bytes, std::size_t window);

// Empty when both give the same output and outcome, else a description. The reference filters
// the text of compressed bytes as a plain read of the input layer gives it; when they do not
// decompress (or the build cannot read their format), the command must stop with the same
// reason.
std::string compareFilters(const std::string &bytes, std::size_t window);

// A fuzzer's input for one of the comparisons above: its first byte sets the reader's window
// (mostly small, so that tokens cross window ends everywhere), the rest are the bytes. Aborts,
// printing the difference, when the comparison finds one.
void checkFuzzInput(const unsigned char *data, std::size_t size,
                    std::string (*compare)(const std::string &, std::size_t));

}  // namespace command_reference
