// The whole filter (counting pass, column storage, filter pass, output) against a plain
// fscanf/printf pass of the overlap rule on the same bytes. Bytes that start with the magic of a
// compressed format are decompressed through the input layer, as the command reads such a table.
#include <cstddef>
#include <cstdint>

#include "command_reference.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    command_reference::checkFuzzInput(data, size, command_reference::compareFilters);
    return 0;
}
