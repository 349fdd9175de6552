// uuencode decoding of arbitrary bytes: it must stay within the source and its buffers, end at
// the source's end, and write at most 63 bytes for every line it consumes; and the input itself,
// encoded, must decode back to itself.
#include <cstdlib>

#include "uu_transform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20)) return 0;
    int64_t end = 0;
    const std::string decoded = UUTransform(uuCode, false, data, size, &end);
    if (end != static_cast<int64_t>(size) || decoded.size() > 63 * size) std::abort();

    const std::string encoded = UUTransform(uuCode, true, data, size);
    if (UUTransform(uuCode, false, encoded.data(), encoded.size()) != std::string(reinterpret_cast<const char*>(data), size)) {
        std::abort();
    }
    return 0;
}
