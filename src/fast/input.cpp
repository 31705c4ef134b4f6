#include "input.hpp"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "inflate.hpp"

namespace fast {

namespace {

// Compressed data is read in pieces of this size.
constexpr std::size_t kRawCapacity = std::size_t{1} << 18;
// Room beyond a size read from a gzip trailer, so that the read that finds the end has a place.
constexpr int64_t kSpare = int64_t{1} << 16;
#ifndef FAST_HUGE_PAGES
#define FAST_HUGE_PAGES 0
#endif

// What a pipe is asked to hold; the system's limit for everyone is 1 MiB by default.
constexpr int kPipeCapacity = 1 << 20;
// The first block for a text read from a pipe.
constexpr int64_t kPipeGuess = int64_t{8} << 20;
constexpr unsigned char kMagic[2] = {0x1f, 0x8b};

constexpr const char *kCorrupt = "compressed data is corrupt";
constexpr const char *kTruncated = "compressed data is truncated";
constexpr const char *kTrailing = "compressed data is followed by bytes that are not gzip";
constexpr const char *kStopped = "reading was stopped";

// read(2) that resumes after a signal.
ssize_t readSome(int fd, void *buf, std::size_t n) noexcept {
    for (;;) {
        const ssize_t got = ::read(fd, buf, n);
        if (got >= 0 || errno != EINTR) return got;
    }
}

// Waits until fd has something to read or wake_fd is signalled; false for the latter.
bool waitReadable(int fd, int wake_fd) noexcept {
    if (wake_fd < 0) return true;
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0)
        if (errno != EINTR) return true;  // let read() report what is wrong
    return (fds[1].revents & POLLIN) == 0;
}

}  // namespace

struct Input::Gzip {
    MemberInflater inflater;
    enum class Stage { member, between, padding, done } stage = Stage::member;
};

// A ring of slots that the helper thread fills with text and read() empties in order.
struct Input::Ahead {
    static constexpr std::size_t kSlots = 4;
    static constexpr std::size_t kSlot = std::size_t{1} << 20;

    std::unique_ptr<char[]> memory;
    std::size_t length[kSlots] = {};
    std::size_t head = 0, tail = 0;  // slots taken by read() / filled by the thread, ever
    std::size_t offset = 0;          // read()'s position in the head slot
    bool stop = false;
    bool done = false;   // the thread met the end of the text or a failure
    int64_t status = 0;  // then: 0 at the end, -1 on failure
    int wake_fd = -1;
    std::mutex mutex;
    std::condition_variable changed;
    std::thread thread;
};

Input::Input() noexcept = default;

Input::~Input() {
    if (ahead_) {
        {
            std::lock_guard<std::mutex> lock(ahead_->mutex);
            ahead_->stop = true;
        }
        ahead_->changed.notify_all();
        const uint64_t one = 1;
        if (::write(ahead_->wake_fd, &one, sizeof one) < 0) {
            // The thread is then woken by the end of its read instead.
        }
        ahead_->thread.join();
        ::close(ahead_->wake_fd);
    }
    if (own_fd_) ::close(fd_);
}

bool Input::open(const char *path, bool dash_is_stdin) noexcept {
    if (dash_is_stdin && std::strcmp(path, "-") == 0) {
        fd_ = STDIN_FILENO;
    } else {
        fd_ = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) return false;
        own_fd_ = true;
    }
    struct stat st;
    if (::fstat(fd_, &st) != 0) return false;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    unsigned char head[2] = {0, 0};
    std::size_t sniffed = 0;
    regular_ = S_ISREG(st.st_mode);
#ifdef F_SETPIPE_SZ
    // A larger pipe lets the writer run further ahead: fewer wake-ups on both sides.
    if (S_ISFIFO(st.st_mode)) ::fcntl(fd_, F_SETPIPE_SZ, kPipeCapacity);
#endif
    if (regular_) {
        // Standard input may have been read from already: the text starts where it stands.
        const off_t at = ::lseek(fd_, 0, SEEK_CUR);
        const off_t from = at > 0 ? at : 0;
        file_size_ = st.st_size > from ? static_cast<int64_t>(st.st_size - from) : 0;
        const ssize_t got = ::pread(fd_, head, 2, from);
        sniffed = got > 0 ? static_cast<std::size_t>(got) : 0;
        size_hint_ = file_size_ + 1;
        // A single member records its inflated size (modulo 2^32) in its last four bytes.
        unsigned char tail[4];
        if (file_size_ >= 20 && ::pread(fd_, tail, 4, from + file_size_ - 4) == 4) {
            const int64_t recorded = int64_t{tail[0]} | int64_t{tail[1]} << 8 |
                                     int64_t{tail[2]} << 16 | int64_t{tail[3]} << 24;
            size_hint_ = recorded >= file_size_ ? recorded + 1 + kSpare : 4 * file_size_ + 1;
            hint_recorded_ = recorded >= file_size_;
            // No deflate data expands more than 1032 times: a damaged trailer asks no more.
            size_hint_ = std::min(size_hint_, 1032 * file_size_ + kSpare);
        }
    } else {
        size_hint_ = kPipeGuess;
    }
    compressed_ = sniffed == 2 && head[0] == kMagic[0] && head[1] == kMagic[1];
    if (!regular_ || compressed_) {
        raw_.reset(new (std::nothrow) unsigned char[kRawCapacity]);
        if (!raw_) {
            errno = ENOMEM;
            return false;
        }
        raw_cap_ = kRawCapacity;
    }
    if (!regular_) {
        // A pipe is sniffed by reading: the bytes stay in raw_ for the text or the inflater.
        while (raw_end_ < 2) {
            const ssize_t got = readSome(fd_, raw_.get() + raw_end_, 2 - raw_end_);
            if (got <= 0) {
                if (got < 0) fail(std::strerror(errno));
                raw_eof_ = got == 0;
                break;
            }
            raw_end_ += static_cast<std::size_t>(got);
        }
        compressed_ = raw_end_ == 2 && raw_[0] == kMagic[0] && raw_[1] == kMagic[1];
    }
    if (compressed_) {
        gzip_.reset(new (std::nothrow) Gzip);
        if (!gzip_ || !gzip_->inflater.ready()) {
            errno = ENOMEM;
            return false;
        }
    }
    return true;
}

void Input::fail(const char *why) noexcept {
    if (status_ < 0) return;
    // Copied: a strerror() text may be overwritten by the next call.
    std::strncpy(why_, why, sizeof why_ - 1);
    status_ = -1;
}

int64_t Input::fill() noexcept {
    if (raw_eof_) return 0;
    if (raw_pos_ == 0 && raw_end_ == raw_cap_) {
        // A full buffer the inflater cannot use.
        fail(kCorrupt);
        return -1;
    }
    if (raw_pos_ > 0) {
        std::memmove(raw_.get(), raw_.get() + raw_pos_, raw_end_ - raw_pos_);
        raw_end_ -= raw_pos_;
        raw_pos_ = 0;
    }
    if (!waitReadable(fd_, wake_fd_)) {
        fail(kStopped);
        return -1;
    }
    const ssize_t got = readSome(fd_, raw_.get() + raw_end_, raw_cap_ - raw_end_);
    if (got < 0) {
        fail(std::strerror(errno));
        return -1;
    }
    if (got == 0) raw_eof_ = true;
    raw_end_ += static_cast<std::size_t>(got);
    return got;
}

int64_t Input::readPlain(char *buf, std::size_t n) noexcept {
    if (raw_pos_ < raw_end_) {
        const std::size_t take = std::min(n, raw_end_ - raw_pos_);
        std::memcpy(buf, raw_.get() + raw_pos_, take);
        raw_pos_ += take;
        return static_cast<int64_t>(take);
    }
    if (raw_eof_) return 0;
    if (!waitReadable(fd_, wake_fd_)) {
        fail(kStopped);
        return -1;
    }
    const ssize_t got = readSome(fd_, buf, n);
    if (got < 0) {
        fail(std::strerror(errno));
        return -1;
    }
    return got;
}

int64_t Input::readGzip(char *buf, std::size_t n) noexcept {
    using Stage = Gzip::Stage;
    Gzip &gz = *gzip_;
    unsigned char *out = reinterpret_cast<unsigned char *>(buf);
    std::size_t made = 0;
    const char *problem = nullptr;
    while (made < n && gz.stage != Stage::done && !problem) {
        const std::size_t pending = raw_end_ - raw_pos_;
        if (gz.stage == Stage::member) {
            std::size_t used = 0, produced = 0;
            const MemberInflater::Result r = gz.inflater.step(raw_.get() + raw_pos_, pending, used,
                                                              out + made, n - made, produced);
            raw_pos_ += used;
            made += produced;
            if (r == MemberInflater::Result::corrupt) {
                problem = kCorrupt;
            } else if (r == MemberInflater::Result::member_end) {
                gz.stage = Stage::between;
            } else if (used == 0 && produced == 0) {
                const int64_t got = fill();
                if (got < 0) return made > 0 ? static_cast<int64_t>(made) : -1;
                if (got == 0) problem = kTruncated;
            }
            continue;
        }
        // Between members and in the padding after the last: only another member's magic or
        // zero bytes up to the end may follow.
        if (pending == 0 || (gz.stage == Stage::between && pending < 2 && !raw_eof_)) {
            const int64_t got = fill();
            if (got < 0) return made > 0 ? static_cast<int64_t>(made) : -1;
            if (got == 0 && raw_pos_ == raw_end_) gz.stage = Stage::done;
            continue;
        }
        const unsigned char *p = raw_.get() + raw_pos_;
        if (gz.stage == Stage::between && p[0] != 0) {
            if (pending < 2) {
                problem = p[0] == kMagic[0] ? kTruncated : kTrailing;
            } else if (p[0] == kMagic[0] && p[1] == kMagic[1]) {
                gz.inflater.reset();
                gz.stage = Stage::member;
            } else {
                problem = kTrailing;
            }
            continue;
        }
        gz.stage = Stage::padding;
        const unsigned char *end = p + pending;
        while (p < end && *p == 0) ++p;
        raw_pos_ = static_cast<std::size_t>(p - raw_.get());
        if (p < end) problem = kTrailing;
    }
    if (problem) {
        fail(problem);
        // What was inflated before the fault is handed over first.
        return made > 0 ? static_cast<int64_t>(made) : -1;
    }
    return static_cast<int64_t>(made);
}

int64_t Input::readText(char *buf, std::size_t n) noexcept {
    if (status_ < 0) return -1;
    if (status_ > 0 || n == 0) return 0;
    const int64_t got = compressed_ ? readGzip(buf, n) : readPlain(buf, n);
    if (got == 0) status_ = 1;
    return got;
}

int64_t Input::read(char *buf, std::size_t n) noexcept {
    if (!ahead_) return readText(buf, n);
    Ahead &a = *ahead_;
    for (;;) {
        std::unique_lock<std::mutex> lock(a.mutex);
        a.changed.wait(lock, [&] { return a.head != a.tail || a.done; });
        if (a.head == a.tail) return a.status;
        const std::size_t slot = a.head % Ahead::kSlots;
        const std::size_t length = a.length[slot];
        const std::size_t offset = a.offset;
        lock.unlock();
        // The head slot is the thread's again only once head moves on.
        const std::size_t take = std::min(n, length - offset);
        std::memcpy(buf, a.memory.get() + slot * Ahead::kSlot + offset, take);
        lock.lock();
        a.offset += take;
        if (a.offset == length) {
            a.offset = 0;
            ++a.head;
            lock.unlock();
            a.changed.notify_all();
        }
        if (take > 0) return static_cast<int64_t>(take);
    }
}

bool Input::readAhead() noexcept {
    if (ahead_ || fd_ < 0) return ahead_ != nullptr;
    std::unique_ptr<Ahead> a(new (std::nothrow) Ahead);
    if (!a) return false;
    a->memory.reset(new (std::nothrow) char[Ahead::kSlots * Ahead::kSlot]);
    a->wake_fd = ::eventfd(0, EFD_CLOEXEC);
    if (!a->memory || a->wake_fd < 0) {
        if (a->wake_fd >= 0) ::close(a->wake_fd);
        return false;
    }
    wake_fd_ = a->wake_fd;
    Ahead *state = a.get();
    try {
        a->thread = std::thread([this, state] {
            Ahead &s = *state;
            for (;;) {
                std::size_t slot;
                {
                    std::unique_lock<std::mutex> lock(s.mutex);
                    s.changed.wait(lock, [&] { return s.stop || s.tail - s.head < Ahead::kSlots; });
                    if (s.stop) return;
                    slot = s.tail % Ahead::kSlots;
                }
                char *to = s.memory.get() + slot * Ahead::kSlot;
                std::size_t filled = 0;
                int64_t got = 1;
                while (filled < Ahead::kSlot &&
                       (got = readText(to + filled, Ahead::kSlot - filled)) > 0)
                    filled += static_cast<std::size_t>(got);
                {
                    std::lock_guard<std::mutex> lock(s.mutex);
                    s.length[slot] = filled;
                    ++s.tail;
                    if (got <= 0) {
                        s.done = true;
                        s.status = got;
                    }
                }
                s.changed.notify_all();
                if (got <= 0) return;
            }
        });
    } catch (...) {
        wake_fd_ = -1;
        ::close(a->wake_fd);
        return false;
    }
    ahead_ = std::move(a);
    return true;
}

void adviseHugePages(void *p, std::size_t n) noexcept {
#if defined(MADV_HUGEPAGE) && FAST_HUGE_PAGES
    // The advice covers whole 4 KiB pages, out to the block's ends: a large malloc() block is
    // a mapping of its own, and advice on a part of it would split the mapping, after which
    // realloc() can no longer move or grow it without copying.
    constexpr uintptr_t kPage = 4096;
    if (p == nullptr || n < (std::size_t{4} << 20)) return;
    const uintptr_t from = reinterpret_cast<uintptr_t>(p) & ~(kPage - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(p) + n + kPage - 1) & ~(kPage - 1);
    ::madvise(reinterpret_cast<void *>(from), to - from, MADV_HUGEPAGE);
#else
    (void)p;
    (void)n;
#endif
}

Prefault::Prefault(void *p, std::size_t n) noexcept {
#ifdef MADV_POPULATE_WRITE
    if (p == nullptr || n < (std::size_t{4} << 20)) return;
    constexpr uintptr_t kPage = 4096;
    constexpr uintptr_t kStep = uintptr_t{4} << 20;
    const uintptr_t from = reinterpret_cast<uintptr_t>(p) & ~(kPage - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(p) + n + kPage - 1) & ~(kPage - 1);
    try {
        thread_ = std::thread([this, from, to] {
            for (uintptr_t at = from; at < to && !stop_.load(std::memory_order_relaxed);
                 at += kStep) {
                const uintptr_t len = to - at < kStep ? to - at : kStep;
                if (::madvise(reinterpret_cast<void *>(at), len, MADV_POPULATE_WRITE) != 0) return;
            }
        });
    } catch (...) {
        // Without a thread the caller's writes fault the pages in themselves.
    }
#else
    (void)p;
    (void)n;
#endif
}

void Prefault::stop() noexcept {
    stop_.store(true, std::memory_order_relaxed);
    if (thread_.joinable()) thread_.join();
}

}  // namespace fast
