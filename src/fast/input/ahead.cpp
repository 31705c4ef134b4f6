// Reading ahead: helper threads fill a ring of blocks with text while the reader uses the ones
// filled before. Blocks are claimed in the text's order, one claim at a time; a claimer either
// reads the block's text through (plain text, and compressed streams read in turn) or, where
// the compressed data is a run of BGZF blocks, takes the blocks that fill it and inflates them
// after letting the next claimer in, so that several blocks inflate at once. Blocks are handed
// over in order, and go back to the helpers only when their taker gives them back, so a taker
// may hold several.
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include <sys/eventfd.h>
#include <unistd.h>

#include "codecs/gzip.hpp"
#include "input/input.hpp"
#include "input/input_io.hpp"

namespace fast {

namespace {

constexpr std::size_t kLine = 64;
// Helpers when the text decides: one a core for gzip data, up to this.
constexpr int32_t kMostAutoHelpers = 8;
// Helpers at the most, whatever is asked.
constexpr int32_t kMostHelpers = 63;

constexpr std::size_t roundUp(std::size_t n, std::size_t to) {
    return (n + to - 1) / to * to;
}

}  // namespace

// BGZF blocks taken for one block of text: their compressed bytes, one after another, and
// where each one's text goes.
struct Input::BgzfJob {
    struct Block {
        std::size_t in, len, out, text;
    };
    std::unique_ptr<unsigned char[]> raw;
    std::size_t raw_cap = 0, raw_len = 0;
    std::unique_ptr<Block[]> blocks;
    std::size_t block_cap = 0, count = 0;
    std::unique_ptr<Decompressor> inflater;

    // The text of all the blocks taken.
    std::size_t textSize() const noexcept {
        return count == 0 ? 0 : blocks[count - 1].out + blocks[count - 1].text;
    }

    // Inflates the blocks into out[0, room): the text of the blocks that inflated whole, in
    // order, with `failed` set when one did not (the text is then that of the blocks before it).
    std::size_t inflate(char *out, std::size_t room, bool &failed) noexcept {
        failed = false;
        std::size_t text = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const Block &b = blocks[i];
            std::size_t whole = 0;
            if (inflater->whole(raw.get() + b.in, b.len,
                                reinterpret_cast<unsigned char *>(out) + b.out, room - b.out,
                                whole) &&
                whole == b.text) {
                text = b.out + b.text;
                continue;
            }
            // Step by step, which also tells a damaged block from one the fast way declined.
            inflater->reset();
            std::size_t in = 0, at = b.out;
            for (;;) {
                std::size_t used = 0, made = 0;
                const Decompressor::Result r = inflater->step(
                    raw.get() + b.in + in, b.len - in, used,
                    reinterpret_cast<unsigned char *>(out) + at, room - at, made, true);
                in += used;
                at += made;
                if (r == Decompressor::Result::stream_end && at - b.out == b.text) break;
                if (r != Decompressor::Result::progress || (used == 0 && made == 0)) {
                    failed = true;
                    return text;
                }
            }
            text = b.out + b.text;
        }
        return text;
    }
};

struct Input::Ahead {
    struct Slot {
        char *data = nullptr;  // the block's own memory
        char *text = nullptr;  // where its text is: there, or in the place
        std::size_t size = 0;
        bool ready = false;
    };

    AheadOptions options;
    std::unique_ptr<char[]> memory;
    std::unique_ptr<Slot[]> slots;
    // Counts over the whole text: blocks given back by the taker, claimed by a filler, taken.
    std::size_t released = 0, claimed = 0, taken = 0;
    // Set once a filler met the end of the text or a failure: the block `last` is the final
    // one, and take() returns `status` (0, or -1 with `why`) after it. The earliest wins.
    bool finished = false;
    std::size_t last = 0;
    int64_t status = 0;
    char why[sizeof Input::why_] = {};
    bool stop = false;
    int wake_fd = -1;
    std::mutex mutex;
    std::condition_variable changed;
    // Held while a block is claimed and its text or compressed data read, so that blocks
    // follow the text's order. Taken before `mutex` where both are held.
    std::mutex reading;
    std::unique_ptr<std::thread[]> threads;
    int started = 0;
    bool joined = false;
    // While text still goes into the place: how much of it is there. Held under `reading`.
    bool placing = false;
    std::size_t placed = 0;
    // Without helpers, the taker inflates BGZF blocks with this one: text is handed over only
    // once its block has inflated whole and checked, however many threads read.
    BgzfJob own_job;

    Slot &slot(std::size_t k) noexcept { return slots[k % options.slots]; }

    // Where the next block's text goes, and how much of it there may be: in the place as long
    // as some fits there (all of it when `exact`), else in the block's own memory, for good.
    // Called under `reading`, in the text's order; the caller adds what it put in the place.
    char *target(Slot &s, std::size_t &room, bool exact) noexcept {
        const std::size_t left = options.place_size - placed;
        if (placing && (exact ? room <= left : left > 0)) {
            room = std::min(room, left);
            return s.text = options.place + placed;
        }
        placing = false;
        return s.text = s.data;
    }

    // Records that block k is the final one, ending with `end_status`, unless an earlier block
    // already is. Called with `mutex` held.
    void finish(std::size_t k, int64_t end_status, const char *reason) noexcept {
        if (finished && last <= k) return;
        finished = true;
        last = k;
        status = end_status;
        if (reason) std::snprintf(why, sizeof why, "%s", reason);
    }
};

// Defined where Ahead is complete.
Input::Input() noexcept = default;

Input::~Input() {
    stopAhead();
    if (ahead_ && ahead_->wake_fd >= 0) ::close(ahead_->wake_fd);
    if (own_fd_) ::close(fd_);
}

void Input::stopAhead() noexcept {
    if (!ahead_ || ahead_->joined) return;
    Ahead &a = *ahead_;
    {
        std::lock_guard<std::mutex> lock(a.mutex);
        a.stop = true;
    }
    a.changed.notify_all();
    const uint64_t one = 1;
    if (a.wake_fd >= 0 && ::write(a.wake_fd, &one, sizeof one) < 0) {
        // The helpers are then woken by the end of their reads instead.
    }
    for (int i = 0; i < a.started; ++i) a.threads[i].join();
    a.joined = true;
}

const char *Input::why() const noexcept {
    return ahead_ && ahead_->why[0] ? ahead_->why : why_;
}

Input::AheadOptions Input::aheadFor(int32_t threads, bool busy_taker) const noexcept {
    AheadOptions options;
    int32_t helpers = threads - 1;
    if (threads <= 0) {
        // hardware_concurrency() is 0 where the system cannot tell.
        const int32_t cores = static_cast<int32_t>(std::thread::hardware_concurrency());
        helpers = format_ && format_->format == Format::gzip
                      ? std::clamp(cores - (busy_taker ? 1 : 0), 1, kMostAutoHelpers)
                      : 1;
    }
    options.helpers = std::min(helpers, kMostHelpers);
    options.slots = static_cast<std::size_t>(options.helpers) + 3;
    return options;
}

bool Input::readAhead(const AheadOptions &options) noexcept {
    if (ahead_ || fd_ < 0) return ahead_ != nullptr;
    std::unique_ptr<Ahead> a(new (std::nothrow) Ahead);
    if (!a) return false;
    a->options = options;
    a->options.slots = std::max<std::size_t>(a->options.slots, 2);
    a->options.slot = std::max<std::size_t>(a->options.slot, 1);
    a->options.helpers = std::max(a->options.helpers, 0);
    // Each block starts on a cache line: the system copies into aligned memory several times
    // faster on some processors.
    const std::size_t headroom = roundUp(a->options.headroom, kLine);
    const std::size_t stride = headroom + roundUp(a->options.slot + 1, kLine);
    a->memory.reset(new (std::nothrow) char[stride * a->options.slots + kLine]);
    a->slots.reset(new (std::nothrow) Ahead::Slot[a->options.slots]);
    if (!a->memory || !a->slots) return false;
    char *base =
        reinterpret_cast<char *>(roundUp(reinterpret_cast<std::uintptr_t>(a->memory.get()), kLine));
    for (std::size_t i = 0; i < a->options.slots; ++i)
        a->slots[i].data = base + i * stride + headroom;
    a->placing = a->options.place != nullptr;
    if (a->options.helpers > 0) {
        a->wake_fd = ::eventfd(0, EFD_CLOEXEC);
        a->threads.reset(new (std::nothrow)
                             std::thread[static_cast<std::size_t>(a->options.helpers)]);
        if (a->wake_fd < 0 || !a->threads) a->options.helpers = 0;
    }
    ahead_ = std::move(a);
    Ahead &s = *ahead_;
    if (s.options.helpers > 0) wake_fd_ = s.wake_fd;
    for (int i = 0; i < s.options.helpers; ++i) {
        try {
            s.threads[i] = std::thread([this] {
                BgzfJob job;
                while (fillSlot(true, job)) {
                }
            });
            ++s.started;
        } catch (...) {
            break;
        }
    }
    // Without a helper, take() fills each block itself.
    s.options.helpers = s.started;
    if (s.started == 0) wake_fd_ = -1;
    return true;
}

int64_t Input::readRaw(unsigned char *to, std::size_t n) noexcept {
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = readSome(fd_, to + got, n - got);
        if (r < 0) {
            fail(std::strerror(errno));
            return -1;
        }
        if (r == 0) {
            raw_eof_ = true;
            break;
        }
        got += static_cast<std::size_t>(r);
        read_at_ += r;
    }
    return static_cast<int64_t>(got);
}

bool Input::takeBlocks(BgzfJob &job, std::size_t room) noexcept {
    job.raw_len = 0;
    job.count = 0;
    if (!format_ || format_->format != Format::gzip || stage_ != Stage::between || status_ != 0)
        return false;
    if (!job.inflater) job.inflater = format_->make();
    if (job.raw_cap < room + kBgzfMaxBlock) {
        // Room for the largest block, and for as many as fill a slot when they compress.
        job.raw_cap = room + kBgzfMaxBlock;
        job.block_cap = room / 16 + 2;
        job.raw.reset(new (std::nothrow) unsigned char[job.raw_cap]);
        job.blocks.reset(new (std::nothrow) BgzfJob::Block[job.block_cap]);
    }
    if (!job.inflater || !job.raw || !job.blocks) {
        job.raw_cap = job.block_cap = 0;
        return false;
    }
    // A regular file's blocks are read straight into the job, each together with the header of
    // the next, so that they are never copied; what was read before and not used (little, once
    // reading goes this way) is moved in first. A pipe's are copied out of raw_ as it fills.
    std::size_t carried = raw_end_ - raw_pos_;
    const bool direct = regular_ && carried <= job.raw_cap;
    if (direct) {
        std::memcpy(job.raw.get(), raw_.get() + raw_pos_, carried);
        raw_pos_ = raw_end_ = 0;
    }
    // Reads on until the next block's first `want` bytes are in the job, or the file ends;
    // false on a read error.
    const auto readTo = [&](std::size_t want) {
        if (carried >= want || raw_eof_) return true;
        const int64_t got = readRaw(job.raw.get() + job.raw_len + carried, want - carried);
        carried += got > 0 ? static_cast<std::size_t>(got) : 0;
        return got >= 0;
    };
    std::size_t text = 0;
    for (;;) {
        // The next block's first `have` bytes are at p.
        const unsigned char *p;
        std::size_t have;
        if (direct) {
            const unsigned char *const at = job.raw.get() + job.raw_len;
            // A BGZF header holds 18 bytes, more when its extra field holds other subfields.
            const std::size_t space = job.raw_cap - job.raw_len;
            if (!readTo(std::min(kBgzfHeader, space)) ||
                !readTo(std::min(bgzfHeaderSize(at, carried), space)))
                break;
            p = at;
            have = carried;
        } else {
            if (raw_end_ - raw_pos_ < kBgzfHeader && !raw_eof_ && fill() < 0) break;
            p = raw_.get() + raw_pos_;
            have = raw_end_ - raw_pos_;
        }
        const std::size_t size = bgzfBlockSize(p, have);
        if (size == 0) break;
        if (direct) {
            // The block, and the next one's header when there is room for it.
            const std::size_t want = std::min(size + kBgzfHeader, job.raw_cap - job.raw_len);
            if (want < size || !readTo(want) || carried < size) break;
        } else {
            while (raw_end_ - raw_pos_ < size && !raw_eof_)
                if (fill() < 0) break;
            if (raw_end_ - raw_pos_ < size) break;
            p = raw_.get() + raw_pos_;
        }
        const std::size_t block_text = le32(p + size - 4);
        if (block_text > kBgzfMaxBlock || text + block_text > room) break;
        if (job.count == job.block_cap) break;
        notePoint(PointKind::stream,
                  direct ? read_at_ - static_cast<int64_t>(carried) : rawOffset(),
                  text_at_ + static_cast<int64_t>(text));
        if (direct) {
            carried -= size;
        } else {
            if (job.raw_len + size > job.raw_cap) break;
            std::memcpy(job.raw.get() + job.raw_len, p, size);
            raw_pos_ += size;
        }
        job.blocks[job.count++] = {job.raw_len, size, text, block_text};
        job.raw_len += size;
        text += block_text;
    }
    text_at_ += static_cast<int64_t>(text);
    // What was read of the blocks not taken is where the next reader looks. It fits unless the
    // file grew after raw_ was sized by it.
    if (direct && status_ == 0) {
        if (carried > raw_cap_) {
            raw_.reset(new (std::nothrow) unsigned char[carried]);
            raw_cap_ = raw_ ? carried : 0;
            if (!raw_) fail(std::strerror(ENOMEM));
        }
        if (raw_) std::memcpy(raw_.get(), job.raw.get() + job.raw_len, carried);
        raw_end_ = raw_ ? carried : 0;
    }
    return job.count > 0;
}

// Claims the next block and fills it, in the calling thread, inflating BGZF blocks with that
// thread's `job`: false when there is nothing more to claim (stopped, or the text has ended),
// or when no block is free and `wait` is not set.
bool Input::fillSlot(bool wait, BgzfJob &job) noexcept {
    Ahead &a = *ahead_;
    std::unique_lock<std::mutex> reading(a.reading);
    std::size_t k;
    {
        std::unique_lock<std::mutex> lock(a.mutex);
        if (wait)
            a.changed.wait(lock, [&] {
                return a.stop || a.finished || a.claimed - a.released < a.options.slots;
            });
        if (a.stop || a.finished || a.claimed - a.released == a.options.slots) return false;
        k = a.claimed++;
    }
    Ahead::Slot &slot = a.slot(k);
    std::size_t room = a.options.slot;
    if (takeBlocks(job, room)) {
        // In the place the blocks get exactly the room their text takes, as another helper may
        // be writing right after it.
        std::size_t text_size = job.textSize();
        if (a.target(slot, text_size, true) != slot.data) {
            a.placed += text_size;
            room = text_size;
        }
        // The next claimer reads on while these blocks inflate.
        reading.unlock();
        bool failed = false;
        const std::size_t text = job.inflate(slot.text, room, failed);
        {
            std::lock_guard<std::mutex> lock(a.mutex);
            slot.size = text;
            slot.ready = true;
            if (failed) a.finish(k, -1, "compressed data is corrupt");
        }
        a.changed.notify_all();
        return !failed;
    }
    char *const to = a.target(slot, room, false);
    std::size_t filled = 0;
    int64_t got = 1;
    while (filled < room && (got = readText(to + filled, room - filled)) > 0)
        filled += static_cast<std::size_t>(got);
    if (to != slot.data) a.placed += filled;
    {
        std::lock_guard<std::mutex> lock(a.mutex);
        slot.size = filled;
        slot.ready = true;
        if (got <= 0) a.finish(k, got, got < 0 ? why_ : nullptr);
    }
    a.changed.notify_all();
    return got > 0;
}

int64_t Input::take(Chunk &chunk) noexcept {
    Ahead &a = *ahead_;
    for (;;) {
        if (a.options.helpers == 0) fillSlot(false, a.own_job);
        std::unique_lock<std::mutex> lock(a.mutex);
        a.changed.wait(lock, [&] {
            return a.stop || (a.taken < a.claimed && a.slot(a.taken).ready) ||
                   (a.finished && a.taken > a.last) ||
                   (a.options.helpers == 0 && a.taken == a.claimed);
        });
        if (a.stop || a.taken >= a.claimed || (a.finished && a.taken > a.last))
            return a.finished && !a.stop ? a.status : -1;
        Ahead::Slot &slot = a.slot(a.taken);
        ++a.taken;
        if (slot.size > 0) {
            chunk.data = slot.text;
            chunk.size = slot.size;
            return static_cast<int64_t>(slot.size);
        }
        // An empty block: the text ended where the one before it did, or BGZF blocks of no
        // text filled it. It goes back at once if nothing taken before it is still held.
        if (a.finished && a.taken > a.last) return a.status;
        if (a.released + 1 == a.taken) {
            slot.ready = false;
            ++a.released;
            lock.unlock();
            a.changed.notify_all();
        }
    }
}

void Input::giveBack() noexcept {
    Ahead &a = *ahead_;
    {
        std::lock_guard<std::mutex> lock(a.mutex);
        if (a.released == a.taken) return;
        a.slot(a.released).ready = false;
        ++a.released;
        // Empty blocks taken after it were held back only by it.
        while (a.released < a.taken && a.slot(a.released).size == 0) {
            a.slot(a.released).ready = false;
            ++a.released;
        }
    }
    a.changed.notify_all();
}

int64_t Input::readAheadCopy(char *buf, std::size_t n) noexcept {
    if (copied_ == copying_.size) {
        if (copying_.data) giveBack();
        copying_ = Chunk{};
        copied_ = 0;
        const int64_t got = take(copying_);
        if (got <= 0) return got;
    }
    const std::size_t count = std::min(n, copying_.size - copied_);
    // Text put where the reader wants it is there already.
    if (copying_.data + copied_ != buf) std::memcpy(buf, copying_.data + copied_, count);
    copied_ += count;
    return static_cast<int64_t>(count);
}

}  // namespace fast
