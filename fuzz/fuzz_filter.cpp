// The whole filter (counting pass, column storage, filter pass, output) against a plain
// fscanf/printf pass of the overlap rule on the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "command_reference.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) return 0;
    std::size_t window = 1 + data[0] % 64;
    std::string bytes(reinterpret_cast<const char *>(data) + 1, size - 1);
    std::string diff = command_reference::compareFilters(bytes, window);
    if (!diff.empty()) {
        std::fprintf(stderr, "window %zu\n%s\n", window, diff.c_str());
        std::abort();
    }
    return 0;
}
