// Split points: places in a file where reading can start afresh, at a known offset of its text.
// The input layer reports them while it reads (to build a record index) and starts at one when
// asked (to read a span of the text).
#ifndef FAST_POINTS_HPP
#define FAST_POINTS_HPP

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace fast {

// The most a deflate window holds.
constexpr std::size_t kDeflateWindow = std::size_t{1} << 15;

enum class PointKind : uint8_t {
    text = 0,    // plain text: `at` is the byte of the text at `text`
    stream = 1,  // a gzip member (a BGZF block), a zstd frame, an xz or bzip2 stream starts at `at`
    deflate = 2,  // a deflate block inside a gzip member: it starts `bits` bits before byte `at`,
                  // and the `window` is the text before it
};

struct StartPoint {
    PointKind kind = PointKind::text;
    uint8_t bits = 0;  // deflate: bits of the byte before `at` that belong to the block (0 to 7)
    int64_t at = 0;    // the file offset where reading starts
    int64_t text = 0;  // the text offset that reading from there starts at
    std::vector<unsigned char> window;  // deflate: up to 32 KiB of text before the block
};

// Where the input layer reports the points it passes: those that keep a window (a deflate block
// inside a member) at most one every `spacing` bytes of text, the others, which cost a few bytes
// each, eight times as often. The layer calls add() from its readers' threads, in the text's
// order.
class PointSink {
  public:
    explicit PointSink(int64_t spacing) noexcept
        : spacing_(spacing > 0 ? spacing : 1), fine_(std::max<int64_t>(1, spacing_ / 8)) {}
    virtual ~PointSink() = default;
    PointSink(const PointSink &) = delete;
    PointSink &operator=(const PointSink &) = delete;

    // Whether a point at text offset `text` is wanted, of a kind that keeps a window or not.
    // Only the layer's reader calls it.
    bool wants(int64_t text, bool windowed = false) const noexcept {
        return last_ < 0 || text >= last_ + (windowed ? spacing_ : fine_);
    }
    // The least text offset of the next point without a window that is wanted. Only the
    // layer's reader calls it.
    int64_t wanted() const noexcept { return last_ < 0 ? 0 : last_ + fine_; }
    // Records a point (after wants() said yes).
    void add(StartPoint &&point);

    // The points recorded and not yet taken, oldest first, and the least text offset any later
    // point can have; both under the sink's lock.
    template <class F>
    auto withPoints(F f) {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(points_, wanted());
    }

  private:
    const int64_t spacing_, fine_;
    std::mutex mutex_;
    int64_t last_ = -1;  // the text offset of the last point
    std::vector<StartPoint> points_;
};

}  // namespace fast

#endif
