// One Encode or Decode of a byte buffer through memory streams, for the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/NMUUE.h"

// Returns what the processor wrote; SourceEnd, when given, receives the source's final position.
inline std::string UUTransform(UUMethods Method, bool Encode, const void* Data, std::size_t Size,
                               int64_t* SourceEnd = nullptr)
{
    TMemoryStream source;
    TMemoryStream target;
    if (Size > 0) source.WriteBuffer(Data, static_cast<int32_t>(Size));
    source.SetPosition(0);
    TNMUUProcessor uu(nullptr);
    uu.SetMethod(Method);
    uu.SourceStream = &source;
    uu.TargetStream = &target;
    if (Encode) {
        uu.Encode();
    } else {
        uu.Decode();
    }
    if (SourceEnd != nullptr) *SourceEnd = source.Position();
    return std::string(reinterpret_cast<const char*>(target.Memory()), static_cast<std::size_t>(target.Size()));
}
