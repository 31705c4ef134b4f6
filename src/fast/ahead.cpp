// Reading ahead: helper threads fill a ring of blocks with text while the reader uses the ones
// filled before. Blocks are claimed, filled and handed over in order; a block goes back to the
// helpers only when its taker gives it back, so a taker may hold several.
#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include <sys/eventfd.h>
#include <unistd.h>

#include "input.hpp"

namespace fast {

namespace {

constexpr std::size_t kLine = 64;

constexpr std::size_t roundUp(std::size_t n, std::size_t to) {
    return (n + to - 1) / to * to;
}

}  // namespace

struct Input::Ahead {
    struct Slot {
        char *data = nullptr;
        std::size_t size = 0;
        bool ready = false;
    };

    AheadOptions options;
    std::unique_ptr<char[]> memory;
    std::unique_ptr<Slot[]> slots;
    // Counts over the whole text: blocks given back by the taker, claimed by a filler, taken.
    std::size_t released = 0, claimed = 0, taken = 0;
    // Set once a filler met the end of the text or a failure: the block `last` is the final
    // one, and `status` (0 or -1) is what take() returns after it.
    bool finished = false;
    std::size_t last = 0;
    int64_t status = 0;
    bool stop = false;
    int wake_fd = -1;
    std::mutex mutex;
    std::condition_variable changed;
    // Held while a block is claimed and its text read, so that blocks follow the text's order.
    std::mutex reading;
    std::unique_ptr<std::thread[]> threads;
    int started = 0;

    Slot &slot(std::size_t k) noexcept { return slots[k % options.slots]; }
};

// Defined where Ahead is complete.
Input::Input() noexcept = default;

Input::~Input() {
    if (ahead_) {
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
        if (a.wake_fd >= 0) ::close(a.wake_fd);
    }
    if (own_fd_) ::close(fd_);
}

bool Input::readAhead(const AheadOptions &options) noexcept {
    if (ahead_ || fd_ < 0) return ahead_ != nullptr;
    std::unique_ptr<Ahead> a(new (std::nothrow) Ahead);
    if (!a) return false;
    a->options = options;
    if (a->options.slots < 2) a->options.slots = 2;
    if (a->options.slot == 0) a->options.slot = 1;
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
                Ahead &t = *ahead_;
                std::lock_guard<std::mutex> reading(t.reading);
                while (fillSlot(true)) {
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

// Claims the next block and fills it with text, in the calling thread, which holds `reading`:
// false when there is nothing more to claim (stopped, or the text has ended), or when no block
// is free and `wait` is not set.
bool Input::fillSlot(bool wait) noexcept {
    Ahead &a = *ahead_;
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
    std::size_t filled = 0;
    int64_t got = 1;
    while (filled < a.options.slot &&
           (got = readText(slot.data + filled, a.options.slot - filled)) > 0)
        filled += static_cast<std::size_t>(got);
    {
        std::lock_guard<std::mutex> lock(a.mutex);
        slot.size = filled;
        slot.ready = true;
        if (got <= 0) {
            a.finished = true;
            a.last = k;
            a.status = got;
        }
    }
    a.changed.notify_all();
    return got > 0;
}

int64_t Input::take(Chunk &chunk) noexcept {
    Ahead &a = *ahead_;
    if (a.options.helpers == 0) {
        std::lock_guard<std::mutex> reading(a.reading);
        fillSlot(false);
    }
    std::unique_lock<std::mutex> lock(a.mutex);
    a.changed.wait(lock, [&] {
        return (a.taken < a.claimed && a.slot(a.taken).ready) || (a.finished && a.taken > a.last) ||
               (a.options.helpers == 0 && a.taken == a.claimed);
    });
    if (a.taken >= a.claimed) return a.finished ? a.status : -1;
    Ahead::Slot &slot = a.slot(a.taken);
    // The final block may be empty: the text ended where the one before it did.
    if (slot.size == 0) return a.status;
    ++a.taken;
    chunk.data = slot.data;
    chunk.size = slot.size;
    return static_cast<int64_t>(slot.size);
}

void Input::giveBack() noexcept {
    Ahead &a = *ahead_;
    {
        std::lock_guard<std::mutex> lock(a.mutex);
        if (a.released == a.taken) return;
        a.slot(a.released).ready = false;
        ++a.released;
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
    std::memcpy(buf, copying_.data + copied_, count);
    copied_ += count;
    return static_cast<int64_t>(count);
}

}  // namespace fast
