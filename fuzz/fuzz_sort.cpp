// Arbitrary bytes decoded into a sort member and its input; the library must leave the keys
// ordered, keep the same multiset and keep each record together, and a member with companion
// arrays must agree with the step model. Without companions only the sorted array is fixed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "arrays_model.hpp"

namespace {

using arrays_model::Member;

constexpr size_t kMaxCount = 4096;

class Bytes {
  public:
    Bytes(const uint8_t *data, size_t size) : p_(data), end_(data + size) {}
    bool empty() const { return p_ == end_; }
    uint8_t next() { return p_ == end_ ? 0 : *p_++; }
    int64_t wide() {
        uint64_t v = 0;
        for (int k = 0; k < 8; ++k) v = v << 8 | next();
        return static_cast<int64_t>(v);
    }

  private:
    const uint8_t *p_, *end_;
};

// Mostly small keys, so that equal keys are common; now and then any 64-bit value.
int64_t key(Bytes &in) {
    const uint8_t b = in.next();
    return b < 224 ? b % 8 - 3 : in.wide();
}

// Short strings over a few letters (bytes above 127 included, as the order is unsigned), now
// and then one past 63 characters sharing a long prefix with the others.
std::string text(Bytes &in) {
    static const char kLetters[] = {'a', 'A', 'b', '\x80', '\xff'};
    const uint8_t b = in.next();
    std::string s = b < 240 ? "" : std::string(56 + (b - 240) * 8, 'p');
    for (int len = b % 5; len > 0; --len) s += kLetters[in.next() % sizeof kLetters];
    return s;
}

void check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Bytes in(data, size);
    const Member m = arrays_model::kMembers[in.next() % 7];
    arrays_model::Input input;
    std::vector<std::string> strings;
    while (!in.empty() && input.keys.size() < kMaxCount) {
        if (m == Member::String)
            strings.push_back(text(in));
        else
            input.keys.push_back(key(in));
    }
    size_t width = 1;
    for (const auto &s : strings) width = std::max(width, s.size() + 1);
    for (const auto &s : strings) {
        std::vector<char> slot(width + size % 3, '#');
        std::memcpy(slot.data(), s.c_str(), s.size() + 1);
        input.slots.push_back(slot);
    }

    bool kept = true;
    const arrays_model::Result got = arrays_model::product(m, input, &kept);
    check(kept && (arrays_model::companions(m) == 0 || got == arrays_model::model(m, input)));

    // Independent of the model: order, multiset, and records kept together.
    const size_t n = m == Member::String ? strings.size() : input.keys.size();
    for (size_t k = 0; k < got.b.size(); ++k) check(got.b[k] >= 0 && size_t(got.b[k]) < n);
    if (m == Member::String) {
        for (size_t k = 0; k + 1 < n; ++k)
            check(std::strcmp(got.slots[k].data(), got.slots[k + 1].data()) <= 0);
        for (size_t k = 0; k < n; ++k) check(strings[got.b[k]] == got.slots[k].data());
        std::vector<std::string> before = strings, after;
        for (const auto &s : got.slots) after.emplace_back(s.data());
        std::sort(before.begin(), before.end());
        std::sort(after.begin(), after.end());
        check(before == after);
        return 0;
    }
    std::vector<int64_t> keys = input.keys;
    if (arrays_model::narrow(m))
        for (auto &k : keys) k = static_cast<int32_t>(k);
    for (size_t k = 0; k + 1 < n; ++k)
        check(m == Member::Int2Down ? got.keys[k] >= got.keys[k + 1]
                                    : got.keys[k] <= got.keys[k + 1]);
    for (size_t k = 0; k < got.b.size(); ++k) check(keys[got.b[k]] == got.keys[k]);
    for (size_t k = 0; k < got.c.size(); ++k)
        check(got.c[k] == got.b[k] + arrays_model::kSecondOffset);
    std::vector<int64_t> after = got.keys;
    std::sort(keys.begin(), keys.end());
    std::sort(after.begin(), after.end());
    check(keys == after);
    return 0;
}
