#include "input/input.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "input/input_io.hpp"

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

constexpr const char *kCorrupt = "compressed data is corrupt";
constexpr const char *kTruncated = "compressed data is truncated";
constexpr const char *kTrailing = "compressed data is followed by bytes that are not %s";
constexpr const char *kUnreadable = "%s-compressed data, not supported by this build";
constexpr const char *kStopped = "reading was stopped";

}  // namespace

int64_t Input::sizeHint() noexcept {
    if (size_hint_ == -2) {
        // What a regular compressed file's data records, else a few times its size.
        const int64_t text =
            format_->recorded_size ? format_->recorded_size(fd_, from_, file_size_) : -1;
        hint_recorded_ = text >= 0;
        size_hint_ = hint_recorded_ ? text + 1 + kSpare : 4 * file_size_ + 1;
    }
    return size_hint_;
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
    regular_ = S_ISREG(st.st_mode);
#ifdef F_SETPIPE_SZ
    // A larger pipe lets the writer run further ahead: fewer wake-ups on both sides.
    if (S_ISFIFO(st.st_mode)) ::fcntl(fd_, F_SETPIPE_SZ, kPipeCapacity);
#endif
    unsigned char head[kMagicBytes] = {};
    std::size_t sniffed = 0;
    bool undecided = false;
    off_t from = 0;
    if (regular_) {
        // Standard input may have been read from already: the text starts where it stands.
        const off_t at = ::lseek(fd_, 0, SEEK_CUR);
        from = at > 0 ? at : 0;
        read_at_ = static_cast<int64_t>(from);
        file_size_ = st.st_size > from ? static_cast<int64_t>(st.st_size - from) : 0;
        const ssize_t got = ::pread(fd_, head, kMagicBytes, from);
        sniffed = got > 0 ? static_cast<std::size_t>(got) : 0;
        format_ = formatOf(head, sniffed, undecided);
    } else {
        size_hint_ = kPipeGuess;
        // A pipe is sniffed by reading, only as far as a magic could still match: the bytes stay
        // in raw_ for the text or the decompressor.
        raw_.reset(new (std::nothrow) unsigned char[kRawCapacity]);
        if (!raw_) {
            errno = ENOMEM;
            return false;
        }
        raw_cap_ = kRawCapacity;
        do {
            const ssize_t got = readSome(fd_, raw_.get() + raw_end_, kMagicBytes - raw_end_);
            if (got <= 0) {
                if (got < 0) fail(std::strerror(errno));
                raw_eof_ = got == 0;
                break;
            }
            raw_end_ += static_cast<std::size_t>(got);
            format_ = formatOf(raw_.get(), raw_end_, undecided);
        } while (undecided && !format_ && raw_end_ < kMagicBytes);
    }
    if (!format_) {
        if (regular_) size_hint_ = file_size_ + 1;
        return true;
    }
    if (regular_) {
        from_ = static_cast<int64_t>(from);
        size_hint_ = -2;
    }
    if (!format_->make) {
        fail(kUnreadable, format_->name);
        return true;
    }
    if (!raw_) {
        // A small file needs room for itself and one byte more, where the read that finds its
        // end goes.
        raw_cap_ = std::min<std::size_t>(kRawCapacity, static_cast<std::size_t>(file_size_) + 1);
        raw_.reset(new (std::nothrow) unsigned char[raw_cap_]);
    }
    decompressor_ = format_->make();
    if (!raw_ || !decompressor_) {
        errno = ENOMEM;
        return false;
    }
    return true;
}

void PointSink::add(StartPoint &&point) {
    std::lock_guard<std::mutex> lock(mutex_);
    last_ = point.text;
    points_.push_back(std::move(point));
}

bool Input::observe(PointSink *sink) noexcept {
    points_ = sink;
    if (format_ && format_->make_points && decompressor_) {
        std::unique_ptr<Decompressor> d = format_->make_points();
        if (!d) {
            errno = ENOMEM;
            return false;
        }
        decompressor_ = std::move(d);
    }
    return true;
}

void Input::notePoint(PointKind kind, int64_t at, int64_t text, int bits) noexcept {
    if (!points_ || !points_->wants(text, kind == PointKind::deflate)) return;
    try {
        StartPoint p;
        p.kind = kind;
        p.bits = static_cast<uint8_t>(bits);
        p.at = at;
        p.text = text;
        if (kind == PointKind::deflate) {
            p.window.resize(kDeflateWindow);
            p.window.resize(decompressor_->window(p.window.data()));
        }
        points_->add(std::move(p));
    } catch (...) {
        // A point that cannot be kept is left out: the index has one fewer.
    }
}

bool Input::startAt(const StartPoint &point) noexcept {
    if (!regular_ || point.at < from_ || point.at > from_ + file_size_ ||
        (point.kind == PointKind::text) != (format_ == nullptr) ||
        (point.kind == PointKind::deflate && point.at <= from_)) {
        errno = EINVAL;
        return false;
    }
    unsigned char byte = 0;
    if (point.kind == PointKind::deflate) {
        std::unique_ptr<Decompressor> d = format_->make();
        if (!d) {
            errno = ENOMEM;
            return false;
        }
        if ((point.bits > 0 && ::pread(fd_, &byte, 1, point.at - 1) != 1) ||
            !d->startInside(point.bits, byte, point.window.data(), point.window.size())) {
            errno = EINVAL;
            return false;
        }
        decompressor_ = std::move(d);
        stage_ = Stage::stream;
    } else {
        stage_ = Stage::between;
    }
    if (::lseek(fd_, point.at, SEEK_SET) < 0) return false;
    raw_pos_ = raw_end_ = 0;
    raw_eof_ = false;
    read_at_ = point.at;
    text_at_ = point.text;
    return true;
}

void Input::fail(const char *why, const char *detail) noexcept {
    if (status_ < 0) return;
    // Copied: a strerror() text may be overwritten by the next call.
    if (detail) {
        std::snprintf(why_, sizeof why_, why, detail);
    } else {
        std::strncpy(why_, why, sizeof why_ - 1);
    }
    status_ = -1;
}

int64_t Input::fill() noexcept {
    if (raw_eof_) return 0;
    if (raw_pos_ == 0 && raw_end_ == raw_cap_) {
        // A full buffer the decompressor cannot use.
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
    read_at_ += got;
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
    read_at_ += got;
    return got;
}

int64_t Input::readCompressed(char *buf, std::size_t n) noexcept {
    unsigned char *out = reinterpret_cast<unsigned char *>(buf);
    std::size_t made = 0;
    const char *problem = nullptr;
    while (made < n && stage_ != Stage::done && !problem) {
        const std::size_t pending = raw_end_ - raw_pos_;
        if (stage_ == Stage::stream) {
            std::size_t used = 0, produced = 0;
            const Decompressor::Result r = decompressor_->step(
                raw_.get() + raw_pos_, pending, used, out + made, n - made, produced, raw_eof_);
            raw_pos_ += used;
            made += produced;
            if (points_ && r == Decompressor::Result::progress) {
                const int bits = decompressor_->blockBits();
                if (bits >= 0)
                    notePoint(PointKind::deflate, rawOffset(),
                              text_at_ + static_cast<int64_t>(made), bits);
            }
            if (r == Decompressor::Result::corrupt) {
                problem = kCorrupt;
            } else if (r == Decompressor::Result::stream_end) {
                stage_ = Stage::between;
            } else if (used == 0 && produced == 0) {
                const int64_t got = fill();
                if (got < 0) return made > 0 ? static_cast<int64_t>(made) : -1;
                if (got == 0) problem = kTruncated;
            }
            continue;
        }
        // Between streams and in padding: only another stream's magic, or zero bytes where the
        // format allows them, may follow.
        if (pending == 0) {
            const int64_t got = fill();
            if (got < 0) return made > 0 ? static_cast<int64_t>(made) : -1;
            if (got == 0) {
                if (stage_ == Stage::padding && padded_ % format_->padding != 0) {
                    problem = kTrailing;
                } else {
                    stage_ = Stage::done;
                }
            }
            continue;
        }
        const unsigned char *p = raw_.get() + raw_pos_;
        if (stage_ == Stage::between && (p[0] != 0 || format_->padding == 0)) {
            const Magic m = format_->magic(p, pending);
            if (m == Magic::prefix && !raw_eof_) {
                const int64_t got = fill();
                if (got < 0) return made > 0 ? static_cast<int64_t>(made) : -1;
            } else if (m == Magic::yes) {
                notePoint(PointKind::stream, rawOffset(), text_at_ + static_cast<int64_t>(made));
                decompressor_->reset();
                stage_ = Stage::stream;
            } else {
                problem = m == Magic::prefix ? kTruncated : kTrailing;
            }
            continue;
        }
        if (stage_ != Stage::padding) padded_ = 0;
        stage_ = Stage::padding;
        const unsigned char *end = p + pending;
        const unsigned char *const from = p;
        while (p < end && *p == 0) ++p;
        padded_ += static_cast<uint64_t>(p - from);
        raw_pos_ = static_cast<std::size_t>(p - raw_.get());
        if (p < end) {
            // Whole units of padding may be followed by another stream where the format allows.
            if (format_->padding_between && padded_ % format_->padding == 0) {
                stage_ = Stage::between;
            } else {
                problem = kTrailing;
            }
        }
    }
    if (problem) {
        fail(problem, format_->name);
        // What was decompressed before the fault is handed over first.
        return made > 0 ? static_cast<int64_t>(made) : -1;
    }
    return static_cast<int64_t>(made);
}

int64_t Input::readText(char *buf, std::size_t n) noexcept {
    if (status_ < 0) return -1;
    if (status_ > 0 || n == 0) return 0;
    const int64_t got = format_ ? readCompressed(buf, n) : readPlain(buf, n);
    if (got == 0) status_ = 1;
    if (got <= 0) return got;
    // Any byte of plain text is a split point: one a spacing, wherever it falls.
    if (!format_ && points_)
        for (int64_t t = points_->wanted(); t < text_at_ + got; t = points_->wanted())
            notePoint(PointKind::text, from_ + std::max(t, text_at_), std::max(t, text_at_));
    text_at_ += got;
    return got;
}

int64_t Input::read(char *buf, std::size_t n) noexcept {
    return ahead_ ? readAheadCopy(buf, n) : readText(buf, n);
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
