// The inflate back end: one gzip member at a time, behind the few calls the input layer needs,
// so that ISA-L and zlib can stand in for each other. Exactly one back end is compiled in.
#ifndef FAST_INFLATE_HPP
#define FAST_INFLATE_HPP

#include <cstddef>
#include <cstdint>
#include <memory>

namespace fast {

class MemberInflater {
  public:
    enum class Result {
        progress,    // consumed input or produced output; call again
        member_end,  // the member and its trailer are complete; its CRC and size checked
        corrupt,     // the data is not a valid gzip member
    };

    MemberInflater();
    ~MemberInflater();
    MemberInflater(const MemberInflater &) = delete;
    MemberInflater &operator=(const MemberInflater &) = delete;

    // False when the back end's state could not be allocated.
    bool ready() const noexcept { return state_ != nullptr; }

    // Starts a new member; the first byte of the next input is its first byte.
    void reset() noexcept;

    // Inflates from in[0, in_len) into out[0, out_len). `consumed` and `produced` report what was
    // used; input after a member's end is never consumed. A call that returns progress with
    // nothing consumed or produced needs more input.
    Result step(const unsigned char *in, std::size_t in_len, std::size_t &consumed,
                unsigned char *out, std::size_t out_len, std::size_t &produced) noexcept;

    // Inflates the member that is the whole of in[0, in_len) into out[0, out_len) in one call,
    // as a back end may do faster than step by step: true, with the text's size in `produced`,
    // when it is one sound member with its CRC and size checked. False for anything else, or
    // where the back end has no such call: step() then tells what is wrong. The state must be
    // reset before the next step().
    bool whole(const unsigned char *in, std::size_t in_len, unsigned char *out, std::size_t out_len,
               std::size_t &produced) noexcept;

    // Starts inside a member, at a deflate block whose first `bits` bits are the high bits of
    // `byte`, with `window` (at most 32 KiB) as the text before it: raw deflate data follows,
    // whose end is the member's end (its trailer is the caller's). False when the back end
    // refuses; reset() goes back to whole members.
    bool startInside(unsigned bits, unsigned char byte, const unsigned char *window,
                     std::size_t window_len) noexcept;

    // After a member's end inside which it started: the bytes after the deflate data that the
    // back end has consumed already (ISA-L reads ahead into its bit buffer; zlib does not).
    std::size_t heldBytes() const noexcept;

    // "ISA-L" or "zlib".
    static const char *backend() noexcept;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// One call of a back end whose stream takes its buffers as next_in/avail_in and
// next_out/avail_out with lengths of 32 bits: the lengths are cut to fit (the output to 1 GiB)
// and what the call used is reported as `consumed` and `produced`.
template <class Stream, class Call>
int inflateCall(Stream &s, const unsigned char *in, std::size_t in_len, std::size_t &consumed,
                unsigned char *out, std::size_t out_len, std::size_t &produced, Call call) {
    const auto in_avail =
        static_cast<decltype(s.avail_in)>(in_len < UINT32_MAX ? in_len : std::size_t{UINT32_MAX});
    const auto out_avail = static_cast<decltype(s.avail_out)>(
        out_len < (std::size_t{1} << 30) ? out_len : std::size_t{1} << 30);
    s.next_in = reinterpret_cast<decltype(s.next_in)>(const_cast<unsigned char *>(in));
    s.avail_in = in_avail;
    s.next_out = reinterpret_cast<decltype(s.next_out)>(out);
    s.avail_out = out_avail;
    const int rc = call(s);
    consumed = in_avail - s.avail_in;
    produced = out_avail - s.avail_out;
    return rc;
}

}  // namespace fast

#endif
