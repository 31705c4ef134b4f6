#include "output/output.hpp"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace fast {

namespace {

// Text of about this much goes into one slot.
constexpr std::size_t kSlotBytes = std::size_t{1} << 20;
// Compressing helpers a core at most, whatever the machine, and at most whatever is asked for:
// each holds a few slots.
constexpr int kMostHelpers = 8;
constexpr int kMostThreads = 64;

// write(2) of the whole range: short writes are continued and signals resumed; false with errno.
bool writeAll(int fd, const unsigned char *p, std::size_t n) noexcept {
    while (n > 0) {
        const ssize_t put = ::write(fd, p, std::min<std::size_t>(n, SSIZE_MAX));
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += put;
        n -= static_cast<std::size_t>(put);
    }
    return true;
}

int cores() noexcept {
    const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
    return n < 1 ? 1 : n > kMostHelpers ? kMostHelpers : static_cast<int>(n);
}

// A name of its own beside `path`, "dir/.name.XXXXXXXX.part", with eight random letters.
std::string besideName(const std::string &path, int attempt) {
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string base = path.substr(slash == std::string::npos ? 0 : slash + 1);
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    unsigned char random[8];
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        const uint64_t v = static_cast<uint64_t>(::getpid()) * 0x9e3779b97f4a7c15u +
                           static_cast<uint64_t>(attempt) + reinterpret_cast<uintptr_t>(&path);
        std::memcpy(random, &v, sizeof random);
    }
    char tag[9];
    for (int i = 0; i < 8; ++i) tag[i] = kDigits[random[i] % 36];
    tag[8] = 0;
    return dir + "." + base + "." + tag + ".part";
}

// Tries `make` on fresh names beside `path` until one does not exist yet; the result of the
// last try, with the name in `temp`.
template <class Make>
int besideTries(const std::string &path, std::string &temp, Make make) {
    for (int attempt = 0; attempt < 64; ++attempt) {
        temp = besideName(path, attempt);
        const int rc = make(temp);
        if (rc >= 0 || errno != EEXIST) return rc;
    }
    return -1;
}

// Creates a new file beside `path` with a name of its own, as open(2) would create `path`; -1
// with errno.
int createBeside(const std::string &path, std::string &temp) {
    return besideTries(path, temp, [](const std::string &name) {
        return ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    });
}

// The folder of `path`, for an unnamed file in it.
std::string folderOf(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".")
           : slash == 0               ? std::string("/")
                                      : path.substr(0, slash);
}

}  // namespace

Output::~Output() {
    stopHelpers();
    // An unnamed file goes with its descriptor.
    if (own_fd_ && fd_ >= 0) ::close(fd_);
    if (!temp_.empty() && !finished_) ::unlink(temp_.c_str());
}

// An unnamed file in the final name's folder, created as open(2) would create the name, which
// is given a name by link(). False, with nothing open, where the file system has no unnamed
// files or /proc is not there to link one by.
bool Output::openUnnamed() noexcept {
#ifdef O_TMPFILE
    try {
        const int fd = ::open(folderOf(path_).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (fd < 0) return false;
        char proc[40];
        std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
        struct stat st;
        if (::stat(proc, &st) != 0) {
            ::close(fd);
            return false;
        }
        fd_ = fd;
        unnamed_ = true;
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
#else
    return false;
#endif
}

// Gives the unnamed file the name `name`, which must not exist; false with errno (EEXIST when
// it does).
bool Output::link(const std::string &name) noexcept {
    char proc[40];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd_);
    if (::linkat(AT_FDCWD, proc, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
#ifdef AT_EMPTY_PATH
    // Without /proc, a process that may read any folder links the descriptor itself.
    const int error = errno;
    if (error == ENOENT && ::linkat(fd_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0)
        return true;
    errno = error;
#endif
    return false;
}

// Closes the file, checked.
bool Output::closeFile() noexcept {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) {
        fail(errno);
        return false;
    }
    return true;
}

bool Output::open(const char *path, const FormatInfo *format,
                  const OutputSettings &settings) noexcept {
    const int level = settings.level, threads = settings.threads;
    const std::size_t slot_bytes = settings.slot_bytes;
    sync_ = settings.sync;
    const WriterInfo *w = format ? format->writer : nullptr;
    if (!path || threads < 0 || (format && !w) ||
        (w ? level != 0 && (level < w->min_level || level > w->max_level) : level != 0)) {
        errno = EINVAL;
        return false;
    }
    format_ = format;
    try {
        path_ = path;
        if (path_ == "-") {
            fd_ = STDOUT_FILENO;
        } else {
            struct stat st;
            const bool exists = ::stat(path, &st) == 0;
            if (exists && S_ISDIR(st.st_mode)) {
                errno = EISDIR;
                return false;
            }
            if (path_.empty() || path_.back() == '/') {
                errno = path_.empty() ? ENOENT : EISDIR;
                return false;
            }
            if (exists && !S_ISREG(st.st_mode)) {
                // A pipe, a FIFO or a device: there is nothing to rename.
                fd_ = ::open(path, O_WRONLY | O_CLOEXEC);
            } else {
                if (exists && ::faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) != 0) return false;
                // A link to a file is kept: the file it names is replaced.
                struct stat lst;
                if (exists && ::lstat(path, &lst) == 0 && S_ISLNK(lst.st_mode)) {
                    char *real = ::realpath(path, nullptr);
                    if (!real) return false;
                    path_ = real;
                    std::free(real);
                }
                if (!settings.unnamed || !openUnnamed()) {
                    fd_ = createBeside(path_, temp_);
                    if (fd_ < 0) temp_.clear();
                }
            }
            if (fd_ < 0) return false;
            own_fd_ = true;
        }

        // Threads: with any helper at all, one writes the slots in order, so that no
        // compression waits on the system; blocks compressed apart have one compressing helper
        // a core by default, any other format one (with the compression library's own
        // workers), plain text none.
        const bool apart = w && w->apart;
        const bool threaded = threads != 1;
        const int compressing = !threaded || !w ? 0
                                : !apart        ? 1
                                : threads == 0  ? cores()
                                                : std::min(threads - 1, kMostThreads);
        const int workers = w && !apart && threaded
                                ? (threads == 0 ? cores() : std::min(threads - 1, kMostThreads))
                                : 0;
        for (int i = 0; i < (w ? std::max(compressing, 1) : 0); ++i) {
            compressors_.push_back(w->make(level ? level : w->default_level, workers));
            if (!compressors_.back()) {
                errno = ENOMEM;
                return false;
            }
        }
        const std::size_t unit = w ? w->unit : 1;
        const std::size_t want = slot_bytes ? slot_bytes : kSlotBytes;
        slot_bytes_ = std::max<std::size_t>(1, (want + (slot_bytes ? unit - 1 : 0)) / unit) * unit;
        point_every_ =
            settings.point_text
                ? std::max<std::size_t>(1, (settings.point_text + slot_bytes_ - 1) / slot_bytes_)
                : 0;
        slot_count_ = !threaded ? 1 : apart ? 2 * static_cast<std::size_t>(compressing) + 3 : 3;
        slots_.reset(new (std::nothrow) Slot[slot_count_]);
        if (!slots_) {
            errno = ENOMEM;
            return false;
        }
        for (std::size_t i = 0; i < slot_count_; ++i) {
            Slot &s = slots_[i];
            s.text.reset(new (std::nothrow) char[slot_bytes_]);
            if (!s.text) {
                errno = ENOMEM;
                return false;
            }
        }
        cur_ = slots_[0].text.get();
        lim_ = cur_ + slot_bytes_;
        if (threaded) {
            helpers_.emplace_back([this] { writer(); });
            for (int i = 0; i < compressing; ++i) {
                Compressor *c = compressors_[static_cast<std::size_t>(i)].get();
                helpers_.emplace_back([this, c] { compressor(c); });
            }
        }
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return false;
    } catch (const std::system_error &) {
        // No thread could be started: the slots are compressed and written by the caller.
        stopHelpers();
        helpers_.clear();
    }
    return true;
}

void Output::fail(int error) noexcept {
    if (failed_.load(std::memory_order_relaxed)) return;
    const char *text = std::strerror(error);
    std::snprintf(why_, sizeof why_, "%s", text);
    failed_.store(true, std::memory_order_release);
    work_.notify_all();
    ready_.notify_all();
    freed_.notify_all();
}

bool Output::encode(Slot &slot, Compressor *compressor) noexcept {
    if (!compressor) return true;
    slot.out.clear();
    return compressor->compress(reinterpret_cast<const unsigned char *>(slot.text.get()), slot.len,
                                slot.end, slot.out);
}

bool Output::writeSlot(const Slot &slot) noexcept {
    if (point_every_ && slot.number % point_every_ == 0) {
        try {
            points_.push_back({static_cast<int64_t>(slot.number * slot_bytes_), file_at_});
        } catch (const std::bad_alloc &) {
            errno = ENOMEM;
            return false;
        }
    }
    const unsigned char *p =
        format_ ? slot.out.data() : reinterpret_cast<const unsigned char *>(slot.text.get());
    const std::size_t n = format_ ? slot.out.size() : slot.len;
    file_at_ += static_cast<int64_t>(n);
    return writeAll(fd_, p, n);
}

void Output::compressor(Compressor *compressor) noexcept {
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
        work_.wait(lock, [&] { return stop_ || failed() || claimed_ < filled_; });
        if (stop_ || failed()) return;
        Slot &slot = slots_[claimed_++ % slot_count_];
        lock.unlock();
        const bool encoded = encode(slot, compressor);
        lock.lock();
        if (!encoded) {
            fail(ENOMEM);
            return;
        }
        slot.done = true;
        ready_.notify_one();
    }
}

void Output::writer() noexcept {
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
        ready_.wait(lock, [&] {
            return stop_ || failed() || (written_ < filled_ && slots_[written_ % slot_count_].done);
        });
        if (stop_ || failed()) return;
        Slot &slot = slots_[written_ % slot_count_];
        lock.unlock();
        const bool ok = writeSlot(slot);
        const int error = errno;
        lock.lock();
        if (!ok) {
            fail(error);
            return;
        }
        slot.done = false;
        ++written_;
        freed_.notify_all();
    }
}

bool Output::submit(bool last) noexcept {
    if (failed()) return false;
    const std::size_t k = slot_count_;
    Slot &slot = slots_[filled_ % k];
    slot.len = static_cast<std::size_t>(cur_ - slot.text.get());
    slot.number = filled_;
    // The slot before a split point ends a frame, so that reading can start at the point.
    slot.end = last                                                ? SlotEnd::text
               : point_every_ && (filled_ + 1) % point_every_ == 0 ? SlotEnd::frame
                                                                   : SlotEnd::more;
    if (helpers_.empty()) {
        if (!encode(slot, compressors_.empty() ? nullptr : compressors_[0].get())) {
            fail(ENOMEM);
            return false;
        }
        if (!writeSlot(slot)) {
            fail(errno);
            return false;
        }
        ++filled_;
        ++claimed_;
        ++written_;
    } else {
        std::unique_lock<std::mutex> lock(mu_);
        ++filled_;
        if (compressors_.empty()) {
            // Plain text goes to the writer as it is.
            slot.done = true;
            ++claimed_;
            ready_.notify_one();
        } else {
            work_.notify_one();
        }
        // The next slot is free once the one that used it before has been written.
        freed_.wait(lock, [&] { return failed() || filled_ - written_ < k; });
        if (failed()) return false;
    }
    cur_ = slots_[filled_ % k].text.get();
    lim_ = cur_ + slot_bytes_;
    return true;
}

bool Output::next() noexcept {
    return submit(false);
}

bool Output::putSpilling(const void *p, std::size_t n) noexcept {
    const char *from = static_cast<const char *>(p);
    for (;;) {
        const std::size_t k = std::min(n, static_cast<std::size_t>(lim_ - cur_));
        std::memcpy(cur_, from, k);
        cur_ += k;
        from += k;
        n -= k;
        if (n == 0) return true;
        if (!next()) return false;
    }
}

void Output::stopHelpers() noexcept {
    {
        std::lock_guard<std::mutex> lock(mu_);
        stop_ = true;
    }
    work_.notify_all();
    ready_.notify_all();
    for (std::thread &t : helpers_)
        if (t.joinable()) t.join();
}

bool Output::complete() noexcept {
    if (completed_) return !failed();
    if (finished_ || fd_ < 0) return false;
    if (!submit(true)) return false;
    if (!helpers_.empty()) {
        std::unique_lock<std::mutex> lock(mu_);
        freed_.wait(lock, [&] { return failed() || written_ == filled_; });
    }
    stopHelpers();
    if (failed()) return false;
    if (own_fd_) {
        // A file that is put in place must be on the disk first, unless the caller gives that
        // up; a pipe or a device has nothing to sync, and is done with.
        const bool placing = unnamed_ || !temp_.empty();
        if (placing && sync_ && ::fdatasync(fd_) != 0) {
            fail(errno);
            return false;
        }
        if (when_complete_ && !when_complete_(fd_, when_complete_arg_)) {
            fail(errno);
            return false;
        }
        // An unnamed file stays open until it is linked.
        if (!unnamed_ && !closeFile()) return false;
    }
    completed_ = true;
    return true;
}

bool Output::stage() noexcept {
    if (!completed_ || failed()) return false;
    if (!unnamed_) return true;
    try {
        if (besideTries(path_, temp_,
                        [this](const std::string &name) { return link(name) ? 0 : -1; }) != 0) {
            const int error = errno;
            temp_.clear();
            fail(error);
            return false;
        }
    } catch (const std::bad_alloc &) {
        temp_.clear();
        fail(ENOMEM);
        return false;
    }
    // From here to the rename the file has a name beside the final one, which the
    // destructor removes when it is not put in place.
    unnamed_ = false;
    return closeFile();
}

bool Output::place(bool alone) noexcept {
    if (finished_) return true;
    if (!completed_ || failed()) return false;
    if (unnamed_ && alone) {
        // Where nothing has the name, the link puts the file in place at once; a file that is
        // there stays until the rename replaces it.
        if (link(path_)) {
            unnamed_ = false;
            if (!closeFile()) {
                ::unlink(path_.c_str());
                return false;
            }
            finished_ = true;
            return true;
        }
        if (errno != EEXIST) {
            fail(errno);
            return false;
        }
    }
    if (!stage()) return false;
    if (!temp_.empty() && ::rename(temp_.c_str(), path_.c_str()) != 0) {
        fail(errno);
        return false;
    }
    finished_ = true;
    return true;
}

}  // namespace fast
