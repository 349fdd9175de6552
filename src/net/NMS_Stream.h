// TS_BufferStream: a stream that puts a memory buffer in front of another stream. Reads are
// served from blocks read ahead, writes are collected and handed on in whole blocks, and a
// parser may push characters back within the block last read. Portable.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "toolkit/Classes.h"

// The buffer size given to streams created from now on (32,768 bytes at start). Process-wide;
// a value below 1 is taken as 1.
extern int32_t BufferSize;

enum TS_BufferState { bsUnknown, bsRead, bsWrite };

// The byte copy used by the buffer code; overlapping ranges are allowed.
inline void HMemCpy(void* Dest, const void* Src, int32_t Count) noexcept
{
    if (Count > 0) {
        std::memmove(Dest, Src, static_cast<std::size_t>(Count));
    }
}

class TS_BufferStream : public TStream {
public:
    // ASource stays the caller's and must outlive this stream.
    explicit TS_BufferStream(TStream& ASource);
    // Hands on bytes still buffered for writing. A failure here cannot be reported; call
    // FlushBuffer first to learn about it.
    ~TS_BufferStream() override;

    // Raises EWriteError when bytes buffered for writing cannot be handed on first.
    int32_t Read(void* Dest, int32_t Count) override;
    // Returns the bytes that reached the wrapped stream or are buffered for it; less than Count
    // when the wrapped stream took a block short.
    int32_t Write(const void* Src, int32_t Count) override;
    // Origin soFromEnd counts backwards: the target is the end minus Offset. Offsets are
    // 32-bit; one outside that range raises EStreamError.
    int64_t Seek(int64_t Offset, uint16_t Origin) override;

    // Reads the next block ahead; true when something was read.
    virtual bool FillBuffer();
    // Makes Ch the next byte that Read delivers. Works within the bytes delivered since the last
    // fill; anywhere else raises EStreamError "PutBack overflow".
    virtual void PutBack(char Ch);
    virtual void AfterFillBuffer();
    virtual void AfterFlushBuffer();
    // Hands the bytes buffered for writing to the wrapped stream; true when all were taken. The
    // buffer is empty afterwards either way. Outside writing there is nothing to hand on.
    virtual bool FlushBuffer();

    // The logical position minus the wrapped stream's position: read ahead (negative) or
    // buffered for writing (positive).
    int32_t GetBufPosition() const noexcept;
    // True once the last block read is used up and the wrapped stream is at its end.
    bool IsEof();

    TNotifyEvent OnAfterFill;
    TNotifyEvent OnAfterFlush;

protected:
    TStream* Source;
    std::unique_ptr<uint8_t[]> Buffer;
    // Reading: the next byte to deliver; writing: the next free byte. Null after creation and
    // after a repositioning seek.
    uint8_t* Cursor = nullptr;
    // Reading: the end of the bytes read ahead; writing: the end of the buffer.
    uint8_t* Limit = nullptr;
    int32_t Capacity;
    TS_BufferState Mode = bsUnknown;

private:
    // How many bytes the wrapped stream took in the last flush.
    int32_t FFlushed = 0;
};
