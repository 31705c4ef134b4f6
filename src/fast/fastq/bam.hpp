// Reads as BAM records give them: each primary record is one entry, as the instrument read it.
// The decoder is fed the inflated BAM data in pieces and decodes whole records into entries
// whose text is its own; it never sees where the bytes come from.
#ifndef FAST_BAM_HPP
#define FAST_BAM_HPP

#include <cstddef>
#include <cstdint>

#include "fast.h"
#include "fastq/textio.hpp"

namespace fast {

// Whether text that starts with these n bytes is BAM data (its magic, "BAM\1"). Fewer than
// four bytes are never BAM.
bool isBam(const char *p, std::size_t n) noexcept;

// What the readers of text say of BAM data, each in its own form, rather than read its records
// as lines.
constexpr const char *kBamRefused = "BAM data: read it with the streaming reader";

// Tells, of text that arrives in pieces, whether its first bytes are the BAM magic.
class BamSniffer {
  public:
    // Looks at the next piece; true once the first four bytes of the text are the magic.
    bool bam(const char *p, std::size_t n) noexcept;

  private:
    int matched_ = 0;  // bytes of the magic seen so far; -1 once the text cannot be BAM
};

class BamDecoder {
  public:
    // What decode() found.
    enum class Status {
        full,       // the batch is full: hand it over
        need_more,  // no whole record is left: feed() more, or the data has ended
        failed,     // the data is damaged: why() says how
    };

    // Appends the next n bytes of the inflated data. False when memory cannot be had.
    bool feed(const char *p, std::size_t n) noexcept;

    // Empties the batch; the entries handed out before are no longer valid.
    void startBatch() noexcept;
    // Decodes records into the batch until it holds max_entries, or the next record would take
    // its text past `limit` bytes (the first never does), or no whole record is left.
    // Secondary and supplementary records, and records without bases, are passed over. With
    // `even`, the limit ends a batch only where it holds an even count (of interleaved mates).
    Status decode(int64_t limit, int32_t max_entries, bool even = false) noexcept;
    SeqEntry *entries() noexcept { return entries_.get(); }
    int32_t count() const noexcept { return count_; }

    // Whether every byte fed was decoded, the header included: at the end of the data, anything
    // else means that it was cut short.
    bool drained() const noexcept { return header_done_ && pos_ == size_; }
    // Why decoding failed.
    const char *why() const noexcept { return why_; }
    // Why the data is cut short, when it ends undrained.
    const char *whyCut() noexcept;

  private:
    bool readHeader() noexcept;
    bool decodeRecord(const unsigned char *p, uint32_t size) noexcept;
    bool reserveText(std::size_t need) noexcept;
    [[gnu::format(printf, 2, 3)]] bool fail(const char *format, ...) noexcept;

    MallocPtr<char> data_;  // fed bytes, [pos_, size_) not yet decoded
    std::size_t cap_ = 0, pos_ = 0, size_ = 0;
    bool header_done_ = false;
    int64_t records_ = 0;  // records decoded, passed over or not
    MallocPtr<SeqEntry> entries_;
    std::size_t entries_cap_ = 0;
    int32_t count_ = 0;
    int64_t text_ = 0;       // the batch's bytes of records
    MallocPtr<char> arena_;  // the batch's text
    std::size_t arena_cap_ = 0, arena_used_ = 0;
    char why_[160] = {};
};

}  // namespace fast

#endif
