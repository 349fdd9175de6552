// The bytes of a resource of a loaded module, as a read-only stream.
#pragma once

#include "toolkit/win/Win.h"

#include <string>

#include "toolkit/Classes.h"

class EResNotFound : public Exception { using Exception::Exception; };

class TResourceStream : public TStream {
public:
    // Finds the resource by name and type (both compared without regard to case); a missing
    // one raises EResNotFound. The bytes stay owned by the module.
    TResourceStream(HINSTANCE Instance, const std::string& ResName, const std::string& ResType);

    int32_t Read(void* Buffer, int32_t Count) override;
    // Resources are read-only: writing raises EStreamError.
    int32_t Write(const void* Buffer, int32_t Count) override;
    int64_t Seek(int64_t Offset, uint16_t Origin) override;
    int64_t Size() override { return static_cast<int64_t>(FSize); }

    const uint8_t* Memory() const noexcept { return FData; }
    // Writes every byte to FileName, created or overwritten (CreateFileA); raises EFCreateError
    // when it cannot be created and EWriteError when it cannot be written whole.
    void SaveToFile(const std::string& FileName);

private:
    const uint8_t* FData = nullptr;
    std::size_t FSize = 0;
    int64_t FPosition = 0;
};
