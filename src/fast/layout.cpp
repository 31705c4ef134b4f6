#include <climits>
#include <cstdarg>
#include <cstring>

#include "fast.h"
#include "scan.hpp"
#include "textio.hpp"

namespace fast {

int64_t fileSize(std::FILE *f) noexcept {
    if (std::fseek(f, 0, SEEK_END) != 0) return -1;
    const long size = std::ftell(f);
    std::rewind(f);
    return size < 0 ? -1 : static_cast<int64_t>(size);
}

bool readAll(std::FILE *f, char *buf, int64_t size) noexcept {
    for (int64_t offset = 0; offset < size; offset += kReadChunk) {
        const size_t want =
            static_cast<size_t>(size - offset < kReadChunk ? size - offset : kReadChunk);
        if (std::fread(buf + offset, 1, want, f) != want) return false;
    }
    return true;
}

void warnLine(const char *format, ...) noexcept {
    std::fflush(stdout);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

int64_t loadIntoBuffer(const char *path, char *buffer, uint64_t clear_len,
                       const LoadMessages &messages) noexcept {
    FilePtr f(std::fopen(path, "r"));
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
    const bool complete = readAll(f.get(), buffer, size);
    f.reset();
    if (!complete) {
        if (messages.path_before_short) std::puts(path);
        std::puts("error: file is too small");
        return -1;
    }
    buffer[size] = 0;
    return size;
}

int32_t layoutPass(const char *text, int64_t size, int header_end_msg, int plus_end_msg) noexcept {
    enum class State { header, sequence, plus, quality };
    const char *p = text;
    const char *const end = text + size;
    const char *const last = end - 1;
    State state = State::header;
    int64_t count = 0;
    while (p < end) {
        const char *lf = static_cast<const char *>(std::memchr(p, '\n', end - p));
        if (state == State::header) {
            count += countMarks(p, lf ? lf : end);
            if (!lf) break;
            if (lf == last) {
                std::printf("Corrupt input file [%d].\n", header_end_msg);
                break;
            }
            state = State::sequence;
        } else {
            if (!lf) break;
            if (lf == last) {
                if (state == State::plus) std::printf("Corrupt input file [%d].\n", plus_end_msg);
                break;
            }
            const char next = lf[1];
            if (state == State::plus) {
                state = State::quality;
            } else if (isMark(next)) {
                state = State::header;
            } else if (state == State::sequence && next == '+') {
                state = State::plus;
            }
        }
        p = lf + 1;
    }
    return count > INT32_MAX ? INT32_MAX : static_cast<int32_t>(count);
}

}  // namespace fast

extern "C" int32_t extractFastq(const char *path, char *buffer, uint64_t clear_len) {
    static const fast::LoadMessages messages{"error: no data in file", false};
    const int64_t size = fast::loadIntoBuffer(path, buffer, clear_len, messages);
    if (size < 0) return 0;
    if (!fast::isMark(buffer[0]))
        fast::warnLine("Corrupt input file %s *dp=>%c< [1].\n", path, buffer[0]);
    const int32_t count = fast::layoutPass(buffer, size, 2, 3);
    if (count > 0) return count;
    std::puts("error: no segments found");
    return 0;
}
