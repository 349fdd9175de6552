// uuencode decoding of arbitrary bytes: it must stay within the source and its buffers, end, and
// write at most 63 bytes for every line it consumes; and the input itself, encoded, must decode
// back to itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "NMUUE.h"

namespace {

std::string Transform(UUMethods method, bool encode, const uint8_t* data, size_t size, int64_t* sourceEnd)
{
    TMemoryStream source;
    TMemoryStream target;
    if (size > 0) source.WriteBuffer(data, static_cast<int32_t>(size));
    source.SetPosition(0);
    TNMUUProcessor uu(nullptr);
    uu.SetMethod(method);
    uu.SourceStream = &source;
    uu.TargetStream = &target;
    if (encode) {
        uu.Encode();
    } else {
        uu.Decode();
    }
    if (sourceEnd != nullptr) *sourceEnd = source.Position();
    return std::string(reinterpret_cast<const char*>(target.Memory()), static_cast<size_t>(target.Size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20)) return 0;
    int64_t end = 0;
    const std::string decoded = Transform(uuCode, false, data, size, &end);
    if (end != static_cast<int64_t>(size)) std::abort();
    if (decoded.size() > 63 * size) std::abort();

    const std::string encoded = Transform(uuCode, true, data, size, nullptr);
    const std::string back = Transform(uuCode, false, reinterpret_cast<const uint8_t*>(encoded.data()), encoded.size(), nullptr);
    if (back != std::string(reinterpret_cast<const char*>(data), size)) std::abort();
    return 0;
}
