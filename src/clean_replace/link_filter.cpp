#include "link_filter.hpp"

#include <cstring>

namespace clean_replace {

namespace {

struct ColumnAllocation {
    int column;
    const char *message;
};

constexpr ColumnAllocation kAllocationOrder[] = {
    {9, "ERROR Contig_Hist: calloc - hit_reflen"}, {1, "ERROR Contig_Hist: calloc - hit_index"},
    {3, "ERROR Contig_Hist: calloc - hit_index"},  {2, "ERROR Contig_Hist: calloc - hit_index"},
    {4, "ERROR Contig_Hist: calloc - hit_reflen"}, {5, "ERROR Contig_Hist: calloc - hit_index"},
    {6, "ERROR Contig_Hist: calloc - hit_reflen"}, {7, "ERROR Contig_Hist: calloc - hit_index"},
};

constexpr int kGroupColumn = 2;
constexpr int kStartColumn = 6;
constexpr int kEndColumn = 7;

std::int32_t col(const LinkRecord &rec, int number) {
    return rec.cols[number - 1];
}

}  // namespace

const char *LinkTable::allocate(unsigned long long slots) {
    for (const ColumnAllocation &a : kAllocationOrder) {
        void *p = std::calloc(static_cast<std::size_t>(slots), sizeof(std::int32_t));
        if (p == nullptr && slots != 0) return a.message;
        columns_[a.column - 1].reset(static_cast<std::int32_t *>(p));
    }
    slots_ = slots;
    return nullptr;
}

FilterOutcome filterLinks(ByteReader &in, RecordWriter &out) {
    RecordScanner scanner(in);
    LinkRecord rec;
    std::int32_t prev_group = 0;
    std::int32_t prev_end = 0;
    for (unsigned long long k = 0;; ++k) {
        // Unread columns are 0, as in a fresh slot; column 8 keeps the value read before.
        for (int c = 1; c <= kColumns; ++c)
            if (c != 8) rec.cols[c - 1] = 0;
        ScanResult r = scanner.scan(rec);
        if (in.error() != nullptr) return {FilterEnd::kReadError, in.error(), 0, 0};
        if (r.fields < 0) return {FilterEnd::kEndOfInput, nullptr, 0, 0};
        if (r.range_column != 0)
            return {FilterEnd::kOutOfRange, nullptr, r.range_column, r.range_line};
        bool overlaps = col(rec, kGroupColumn) == prev_group && col(rec, kStartColumn) < prev_end;
        if (k > 0 && !overlaps) {
            out.write(rec);
            if (out.error() != 0) return {FilterEnd::kWriteError, nullptr, 0, 0};
        }
        prev_group = col(rec, kGroupColumn);
        prev_end = col(rec, kEndColumn);
    }
}

int runFilterPass(ByteReader &in, std::FILE *out, std::FILE *err) {
    RecordWriter writer(out);
    FilterOutcome outcome = filterLinks(in, writer);
    bool written = writer.flush();
    switch (outcome.end) {
        case FilterEnd::kReadError:
            std::fprintf(err, "ERROR main:: cannot read reads group file: %s\n", outcome.why);
            break;
        case FilterEnd::kOutOfRange:
            std::fprintf(err, "ERROR main:: value out of range in column %d at line %lld\n",
                         outcome.column, static_cast<long long>(outcome.line));
            break;
        case FilterEnd::kWriteError:
        case FilterEnd::kEndOfInput:
            break;
    }
    if (!written)
        std::fprintf(err, "ERROR main:: cannot write output: %s\n", std::strerror(writer.error()));
    return outcome.end == FilterEnd::kEndOfInput && written ? 0 : 1;
}

}  // namespace clean_replace
