// The compressed formats of the input layer. Each format is one back end behind Decompressor,
// described by one FormatInfo: its magic bytes, what may follow its last stream, and how to make
// its decompressor (none when this build has no library for it). The input layer recognises a
// format by its first bytes alone and drives every back end the same way.
#ifndef FAST_DECOMPRESS_HPP
#define FAST_DECOMPRESS_HPP

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace fast {

struct WriterInfo;

// One compressed stream after another (gzip members, zstd frames, xz streams, bzip2 streams).
class Decompressor {
  public:
    enum class Result {
        progress,    // consumed input or produced output; call again
        stream_end,  // the stream is complete and checked; input after it is never consumed
        corrupt,     // the data is not a valid stream
    };
    virtual ~Decompressor() = default;

    // Starts a new stream; the first byte of the next input is its first byte.
    virtual void reset() noexcept = 0;

    // Decompresses from in[0, in_len) into out[0, out_len), reporting what was used in
    // `consumed` and `produced`. `last` says that no input follows in_len: a stream that is not
    // complete then is truncated. A call that returns progress with nothing consumed or produced
    // needs more input (or, with `last`, is truncated).
    virtual Result step(const unsigned char *in, std::size_t in_len, std::size_t &consumed,
                        unsigned char *out, std::size_t out_len, std::size_t &produced,
                        bool last) noexcept = 0;

    // Decompresses the stream that is the whole of in[0, in_len) into out[0, out_len) in one
    // call where the back end has a faster way: true, with the text's size in `produced`, when
    // it is one sound stream. False for anything else (step() then tells what), and always
    // where there is no faster way. reset() must come before the next step().
    virtual bool whole(const unsigned char * /*in*/, std::size_t /*in_len*/,
                       unsigned char * /*out*/, std::size_t /*out_len*/,
                       std::size_t & /*produced*/) noexcept {
        return false;
    }

    // After a step() that returned progress: the bits (0 to 7) of the last byte consumed that
    // belong to the deflate block starting there, when the step stopped at the boundary of a
    // block inside a stream that is not its first or last; -1 otherwise, always in back ends
    // that do not stop at blocks (only those made by FormatInfo::make_points do, at the pace
    // of zlib, for building indexes).
    virtual int blockBits() noexcept { return -1; }
    // The text before that boundary, up to 32 KiB of it, copied to out: its size.
    virtual std::size_t window(unsigned char * /*out*/) noexcept { return 0; }
    // Starts inside a stream, at a deflate block whose first `bits` bits are the high bits of
    // `byte` (the byte before the next input), with `window` as the text before it. The
    // stream's checksum cannot then be checked. False where the back end cannot (only gzip's
    // can, over whichever inflate library the build uses).
    virtual bool startInside(unsigned bits, unsigned char /*byte*/,
                             const unsigned char * /*window*/,
                             std::size_t /*window_len*/) noexcept {
        (void)bits;
        return false;
    }
};

enum class Format { plain, gzip, zstd, xz, bzip2 };

// How the first bytes of a text compare with a format's magic.
enum class Magic { no, yes, prefix /* the bytes so far begin the magic; more are needed */ };

struct FormatInfo {
    Format format;
    const char *name;  // "gzip", as in "gzip-compressed"
    // The magic test over the first n bytes of a stream.
    Magic (*magic)(const unsigned char *p, std::size_t n) noexcept;
    // Zero bytes that may follow a stream: none when 0, else a run of a multiple of this many,
    // after the last stream (gzip writers may leave any count there), and between streams too
    // when padding_between is set (xz streams are padded in fours).
    unsigned padding;
    bool padding_between;
    // A new decompressor (nullptr when it cannot be had), or nullptr for the whole format when
    // this build reads it not.
    std::unique_ptr<Decompressor> (*make)();
    // The text's size as the compressed data records it, read from the regular file `fd` whose
    // data is `size` bytes from offset `from`: exact for a single stream or a file of BGZF
    // blocks, never more than that much data can give, -1 when nothing records it; nullptr when
    // the format never records it or the build cannot read it.
    int64_t (*recorded_size)(int fd, int64_t from, int64_t size) noexcept;
    // A decompressor that also stops at points inside a stream (blockBits()), or nullptr when
    // the format has none.
    std::unique_ptr<Decompressor> (*make_points)();
    // The file name endings that ask for the format when written ("" for none), each with its
    // dot, separated by blanks.
    const char *suffixes;
    // How the format is written (compress.hpp), or nullptr when it is not: xz and bzip2 are
    // archive formats, too slow to write in a pipeline, and a build without zstd cannot.
    const struct WriterInfo *writer;
};

// The most bytes a magic test needs.
constexpr std::size_t kMagicBytes = 10;

// The compressed format whose magic the first n bytes hold, nullptr for plain text; `undecided`
// is set when the bytes begin a magic and more of them would tell.
const FormatInfo *formatOf(const unsigned char *p, std::size_t n, bool &undecided) noexcept;

// The format whose name ending `path` has, nullptr for any other ending.
const FormatInfo *formatOfPath(const char *path) noexcept;

// The format of a written-format number (FAST_WRITE_BGZF: gzip), nullptr for plain or any other.
const FormatInfo *formatNamed(Format format) noexcept;

// The formats this build reads, for messages: "plain and gzip", "plain, gzip, zstd and xz".
const char *readableFormats() noexcept;

// A new back end of type D, or nullptr when it or its library's state cannot be had.
template <class D>
std::unique_ptr<Decompressor> makeReady() {
    std::unique_ptr<D> d(new (std::nothrow) D);
    if (!d || !d->ready()) return nullptr;
    return d;
}

// The back ends, each built when its library is: gzip over whichever inflate library the build
// uses, zstd over libzstd, xz over liblzma, bzip2 over libbz2.
std::unique_ptr<Decompressor> makeGzipDecompressor();
std::unique_ptr<Decompressor> makeZstdDecompressor();
std::unique_ptr<Decompressor> makeXzDecompressor();
std::unique_ptr<Decompressor> makeBzip2Decompressor();
std::unique_ptr<Decompressor> makeGzipPointDecompressor();
int64_t gzipRecordedSize(int fd, int64_t from, int64_t size) noexcept;
int64_t zstdRecordedSize(int fd, int64_t from, int64_t size) noexcept;

}  // namespace fast

#endif
