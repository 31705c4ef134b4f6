// The record scanner against glibc's fscanf on the same bytes: any difference in a field, the
// count of fields, the range verdict or the resume position is a crash.
#include <cstddef>
#include <cstdint>

#include "command_reference.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    command_reference::checkFuzzInput(data, size, command_reference::compareScans);
    return 0;
}
