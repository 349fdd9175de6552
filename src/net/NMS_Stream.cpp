#include "net/NMS_Stream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

int32_t BufferSize = 32768;

TS_BufferStream::TS_BufferStream(TStream& ASource)
    : Source(&ASource), Capacity(std::max<int32_t>(BufferSize, 1))
{
    Buffer = std::make_unique<uint8_t[]>(static_cast<std::size_t>(Capacity));
    Limit = Buffer.get() + Capacity;
}

TS_BufferStream::~TS_BufferStream()
{
    if (Mode == bsWrite) {
        try {
            FlushBuffer();
        } catch (...) {
            // Nothing can be reported from here; the bytes are lost.
        }
    }
}

bool TS_BufferStream::FillBuffer()
{
    const int32_t n = std::clamp(Source->Read(Buffer.get(), Capacity), 0, Capacity);
    Cursor = Buffer.get();
    Limit = Cursor + n;
    Mode = n > 0 ? bsRead : bsUnknown;
    AfterFillBuffer();
    return n > 0;
}

bool TS_BufferStream::FlushBuffer()
{
    // Only a write buffer holds bytes for the wrapped stream; in any other state the bytes
    // before Cursor are read data or stale, and writing them would corrupt the stream.
    if (Mode != bsWrite) {
        FFlushed = 0;
        AfterFlushBuffer();
        return true;
    }
    const auto count = static_cast<int32_t>(Cursor - Buffer.get());
    FFlushed = std::clamp(Source->Write(Buffer.get(), count), 0, count);
    Cursor = Buffer.get();
    Mode = bsUnknown;
    AfterFlushBuffer();
    return FFlushed == count;
}

void TS_BufferStream::AfterFillBuffer()
{
    if (OnAfterFill) {
        OnAfterFill(this);
    }
}

void TS_BufferStream::AfterFlushBuffer()
{
    if (OnAfterFlush) {
        OnAfterFlush(this);
    }
}

int32_t TS_BufferStream::Read(void* Dest, int32_t Count)
{
    if (Mode == bsWrite && !FlushBuffer()) {
        throw EWriteError("Stream write error");
    }
    // Outside reading the buffer holds nothing to deliver (it may hold bytes just written).
    if (Mode != bsRead) {
        Cursor = Limit;
    }
    auto* dest = static_cast<uint8_t*>(Dest);
    int32_t total = 0;
    while (Count > 0) {
        if (Cursor == Limit && !FillBuffer()) {
            break;
        }
        const int32_t n = std::min(static_cast<int32_t>(Limit - Cursor), Count);
        HMemCpy(dest, Cursor, n);
        Cursor += n;
        dest += n;
        Count -= n;
        total += n;
    }
    return total;
}

int32_t TS_BufferStream::Write(const void* Src, int32_t Count)
{
    // The common case of an encoder's small writes: the bytes fit without filling the buffer.
    if (Mode == bsWrite && Count > 0 && Count < Limit - Cursor) {
        std::memcpy(Cursor, Src, static_cast<std::size_t>(Count));
        Cursor += Count;
        return Count;
    }
    if (Mode != bsWrite) {
        if (Mode == bsRead) {
            // Drops the read-ahead: the wrapped stream goes back to where the reader stands.
            Source->Seek(Source->Position() + GetBufPosition(), soFromBeginning);
        }
        Cursor = Buffer.get();
        Limit = Cursor + Capacity;
        Mode = bsUnknown;
    }
    const auto* src = static_cast<const uint8_t*>(Src);
    int32_t total = 0;
    while (Count > 0) {
        const int32_t n = std::min(static_cast<int32_t>(Limit - Cursor), Count);
        HMemCpy(Cursor, src, n);
        Cursor += n;
        src += n;
        Mode = bsWrite;
        Count -= n;
        total += n;
        if (Cursor == Limit && !FlushBuffer()) {
            // The block's tail went unwritten, and this call's bytes are the last of the block.
            total -= std::min(n, Capacity - FFlushed);
            break;
        }
    }
    return total;
}

int64_t TS_BufferStream::Seek(int64_t Offset, uint16_t Origin)
{
    if (Origin > soFromEnd) {
        throw Exception("Invalid seek origin = " + std::to_string(Origin));
    }
    if (Offset < std::numeric_limits<int32_t>::min() || Offset > std::numeric_limits<int32_t>::max()) {
        throw EStreamError("Seek error");
    }
    const int64_t current = Source->Position() + GetBufPosition();
    int64_t target = Offset;
    if (Origin == soFromCurrent) {
        target = current + Offset;
    } else if (Origin == soFromEnd) {
        // Bytes buffered for writing beyond the wrapped stream's end belong to the stream too;
        // leaving them out would put the end before them and let the next write overwrite them.
        int64_t end = Source->Size();
        if (Mode == bsWrite && current > end) {
            end = current;
        }
        target = end - Offset;
    }
    if (target == current) {
        return target;
    }
    if (Mode == bsWrite && !FlushBuffer()) {
        throw EStreamError("Seek error");
    }
    const int64_t result = Source->Seek(target, soFromBeginning);
    Cursor = nullptr;
    Mode = bsUnknown;
    return result;
}

int32_t TS_BufferStream::GetBufPosition() const noexcept
{
    switch (Mode) {
    case bsRead: return static_cast<int32_t>(Cursor - Limit);
    case bsWrite: return static_cast<int32_t>(Cursor - Buffer.get());
    default: return 0;
    }
}

void TS_BufferStream::PutBack(char Ch)
{
    // Outside reading, the bytes before Cursor are not ones this stream delivered: in a write
    // buffer they are still to be written.
    if (Mode != bsRead || Cursor == nullptr || Cursor == Buffer.get()) {
        throw EStreamError("PutBack overflow");
    }
    --Cursor;
    *Cursor = static_cast<uint8_t>(Ch);
}

bool TS_BufferStream::IsEof()
{
    return Cursor != nullptr && Cursor == Limit && Source->Position() == Source->Size();
}
