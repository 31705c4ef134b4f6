// Shared by the decoder harnesses: the input bytes as a file, and quiet standard streams.
#ifndef FAST_FUZZ_DECODE_INPUT_HPP
#define FAST_FUZZ_DECODE_INPUT_HPP

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

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

// Points the decoders' stdio streams away from the terminal (the fuzzer keeps its own handle
// on the original standard error, and sanitizer reports use the descriptor). Standard output
// goes to a scratch file that capturedOutput() reads back.
inline void quietStreams() {
    stdout = std::tmpfile();
    stderr = std::fopen("/dev/null", "w");
    if (!stdout || !stderr) std::abort();
}

inline std::string capturedOutput() {
    std::fflush(stdout);
    std::string text;
    std::rewind(stdout);
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, stdout)) > 0) text.append(chunk, n);
    if (ftruncate(fileno(stdout), 0) != 0) std::abort();
    std::rewind(stdout);
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

}  // namespace fuzz

#endif
