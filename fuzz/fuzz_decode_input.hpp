// Shared by the decoder harnesses: the input bytes as a file, quiet standard streams, and the
// invariants of a decodeFastq2 result.
#ifndef FAST_FUZZ_DECODE_INPUT_HPP
#define FAST_FUZZ_DECODE_INPUT_HPP

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fast.h"

namespace fuzz {

// The decoders read a path: the bytes go to a memory file that is named through /proc.
class InputFile {
  public:
    InputFile() : fd_(memfd_create("fuzz_input", 0)) {
        if (fd_ < 0) std::abort();
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    const char *write(const uint8_t *data, size_t size) {
        if (ftruncate(fd_, 0) != 0) std::abort();
        if (size && pwrite(fd_, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
        return path_.c_str();
    }

  private:
    int fd_;
    std::string path_;
};

// What the decoders printed on standard output since the last capturedOutput().
struct Captured {
    char *text = nullptr;
    size_t size = 0;
};
inline Captured &captured() {
    static Captured c;
    return c;
}

// Points the decoders' stdio streams away from the terminal (the fuzzer keeps its own handle
// on the original standard error, and sanitizer reports use the descriptor). Standard output
// goes to a memory stream that capturedOutput() reads back: no system call per input.
inline void quietStreams() {
    stdout = open_memstream(&captured().text, &captured().size);
    stderr = std::fopen("/dev/null", "w");
    if (!stdout || !stderr) std::abort();
}

inline std::string capturedOutput() {
    std::fflush(stdout);
    std::string text(captured().text, captured().size);
    // Back to the start: the stream's size is where it stands.
    if (fseeko(stdout, 0, SEEK_SET) != 0) std::abort();
    return text;
}

// The input bytes as a file path, on first use also quieting the standard streams.
inline const char *inputPath(const uint8_t *data, size_t size) {
    static InputFile *input = [] {
        quietStreams();
        return new InputFile;
    }();
    return input->write(data, size);
}

// The text size to pass for compressed data, whose text may be longer than its bytes: the
// buffer decodeFastq2 hands back then tells it (it is trimmed to the text and its closing zero).
constexpr size_t kSizeOfBuffer = SIZE_MAX;

// Decodes `path` (a text of `size` bytes, or kSizeOfBuffer) and checks the invariants: the records
// are packed from the buffer's first byte in file order, every pointer stays inside the buffer, and
// the summary matches the records. Returns what was printed and the records, as one text.
inline std::string decode2Checked(const char *path, size_t size) {
    int32_t count = -7;
    int64_t total = -7;
    SeqEntry *e = decodeFastq2(path, &count, &total, 20);
    std::string out = capturedOutput();
    if (!e) {
        if (count != -7 || total != -7) std::abort();
        return out;
    }
    const char *base = e[0].name;
    if (size == kSizeOfBuffer && base) size = malloc_usable_size(e[0].name) - 1;
    const char *cursor = base;
    int64_t bases = 0;
    int64_t qbases = 0;
    std::string shown;
    for (int32_t i = 0; i < count; ++i) {
        const SeqEntry &r = e[i];
        if (r.name != cursor || r.length < 0 || r.aux != 0 || r.aux_text) std::abort();
        if (r.is_fasta != (r.quals == nullptr)) std::abort();
        const char *after_header = r.bases;
        if (after_header <= r.name || after_header[-1] != 0) std::abort();
        if (r.comment && (r.comment <= r.name || r.comment >= r.bases || r.comment[-1] != 0))
            std::abort();
        if (std::memchr(r.bases, '\n', static_cast<size_t>(r.length))) std::abort();
        cursor = r.bases + r.length;
        if (!r.is_fasta) {
            if (reinterpret_cast<const char *>(r.quals) != cursor) std::abort();
            cursor += r.length;
        }
        if (cursor > base + size) std::abort();
        bases += r.length;
        shown.append(r.name).append(1, '|').append(r.bases, static_cast<size_t>(r.length));
        if (r.quals)
            shown.append(reinterpret_cast<const char *>(r.quals), static_cast<size_t>(r.length));
        shown += '\n';
        qbases += countQthresh(&r, 20);
    }
    if (total != bases) std::abort();
    char expected[160];
    std::snprintf(expected, sizeof expected,
                  "Total memory = %ld, total bases = %ld, Qbases(20) = %ld, segments = %d\n",
                  static_cast<long>(cursor - base), static_cast<long>(bases),
                  static_cast<long>(qbases), count);
    const size_t at = out.rfind("Total memory = ");
    if (at == std::string::npos || out.compare(at, std::string::npos, expected) != 0) std::abort();
    if (count == 0 && base) std::abort();
    free(e[0].name);
    free(e);
    return out + shown;
}

// One entry as text, to compare the entries of two readings: name, comment ("-" for none),
// bases, quality values, and the kind.
inline void addEntry(std::string &out, const SeqEntry &e) {
    out.append(e.name).append(1, '|');
    if (e.comment) out.append(e.comment);
    out.append(1, e.comment ? '|' : '-');
    out.append(e.bases, static_cast<size_t>(e.length));
    if (e.quals) out.append(reinterpret_cast<const char *>(e.quals), static_cast<size_t>(e.length));
    out.append(e.is_fasta ? ">\n" : "@\n");
}

}  // namespace fuzz

#endif
