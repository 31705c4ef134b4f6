#include <climits>
#include <cstdarg>
#include <cstring>

#include <sys/stat.h>

#include "fast.h"
#include "scan.hpp"
#include "textio.hpp"

namespace fast {

std::FILE *openText(const char *path) noexcept {
    std::FILE *f = std::fopen(path, "r");
    struct stat st;
    if (f && fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(f);
        return nullptr;
    }
    return f;
}

int64_t fileSize(std::FILE *f) noexcept {
    if (std::fseek(f, 0, SEEK_END) != 0) return -1;
    const long size = std::ftell(f);
    std::rewind(f);
    return size < 0 ? -1 : static_cast<int64_t>(size);
}

void warnLine(const char *format, ...) noexcept {
    std::fflush(stdout);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

int64_t loadIntoBuffer(const char *path, char *buffer, uint64_t clear_len,
                       const LoadMessages &messages, LayoutPass &layout) noexcept {
    FilePtr f(openText(path));
    if (!f) {
        std::puts("error: file not found");
        return -1;
    }
    const int64_t size = fileSize(f.get());
    if (size < 0) {
        std::puts("error: file size unknown (not a seekable file)");
        return -1;
    }
    std::memset(buffer, 0, clear_len);
    if (size == 0) {
        f.reset();
        std::puts(messages.empty);
        buffer[0] = 0;
        return -1;
    }
    layout.start(buffer, size);
    const bool complete =
        readAll(f.get(), buffer, size, [&](int64_t, int64_t read) { layout.advance(read); });
    f.reset();
    if (!complete) {
        if (messages.path_before_short) std::puts(path);
        std::puts("error: file is too small");
        return -1;
    }
    buffer[size] = 0;
    return size;
}

void LayoutPass::run(const char *end, bool final) noexcept {
    const char *const last = text_ + size_ - 1;
    const char *p = text_ + pos_;
    while (!done_ && p < end) {
        const char *lf = findByte(p, '\n', end);
        if (state_ == State::header) count_ += countMarks(p, lf ? lf : end);
        if (!lf) {
            p = end;
            break;
        }
        if (lf == last) {
            if (state_ == State::header) std::printf("Corrupt input file [%d].\n", header_end_msg_);
            if (state_ == State::plus) std::printf("Corrupt input file [%d].\n", plus_end_msg_);
            done_ = true;
            break;
        }
        const char next = lf[1];
        if (state_ == State::header || state_ == State::plus) {
            state_ = state_ == State::header ? State::sequence : State::quality;
        } else if (isMark(next)) {
            state_ = State::header;
        } else if (state_ == State::sequence && next == '+') {
            state_ = State::plus;
        }
        p = lf + 1;
    }
    pos_ = p - text_;
    if (final) done_ = true;
}

int32_t LayoutPass::finish() noexcept {
    run(text_ + size_, true);
    return count_ > INT32_MAX ? INT32_MAX : static_cast<int32_t>(count_);
}

}  // namespace fast

extern "C" int32_t extractFastq(const char *path, char *buffer, uint64_t clear_len) {
    static const fast::LoadMessages messages{"error: no data in file", false};
    fast::LayoutPass layout(2, 3);
    if (fast::loadIntoBuffer(path, buffer, clear_len, messages, layout) < 0) return 0;
    if (!fast::isMark(buffer[0]))
        fast::warnLine("Corrupt input file %s *dp=>%c< [1].\n", path, buffer[0]);
    const int32_t count = layout.finish();
    if (count > 0) return count;
    std::puts("error: no segments found");
    return 0;
}
