#include "toolkit/win/ResourceStream.h"

#include <algorithm>
#include <cstring>

#include "toolkit/win/Handles.h"

TResourceStream::TResourceStream(HINSTANCE Instance, const std::string& ResName, const std::string& ResType)
{
    HRSRC info = FindResourceA(Instance, ResName.c_str(), ResType.c_str());
    HGLOBAL loaded = info != nullptr ? LoadResource(Instance, info) : nullptr;
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) {
        throw EResNotFound("リソース " + ResName + " が見つかりません");
    }
    FData = static_cast<const uint8_t*>(data);
    FSize = SizeofResource(Instance, info);
}

int32_t TResourceStream::Read(void* Buffer, int32_t Count)
{
    if (Count <= 0 || FPosition >= static_cast<int64_t>(FSize)) {
        return 0;
    }
    const auto n = static_cast<int32_t>(std::min<int64_t>(Count, static_cast<int64_t>(FSize) - FPosition));
    std::memcpy(Buffer, FData + FPosition, static_cast<std::size_t>(n));
    FPosition += n;
    return n;
}

int32_t TResourceStream::Write(const void*, int32_t)
{
    throw EStreamError("Can't write to a read-only resource stream");
}

int64_t TResourceStream::Seek(int64_t Offset, uint16_t Origin)
{
    int64_t target = 0;
    switch (Origin) {
    case soFromBeginning: target = Offset; break;
    case soFromCurrent: target = FPosition + Offset; break;
    case soFromEnd: target = static_cast<int64_t>(FSize) + Offset; break;
    default: throw EStreamError("Invalid stream origin");
    }
    FPosition = std::max<int64_t>(0, target);
    return FPosition;
}

void TResourceStream::SaveToFile(const std::string& FileName)
{
    const TKernelHandle file(
        CreateFileA(FileName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        throw EFCreateError("ファイル " + FileName + " を作成できません");
    }
    std::size_t done = 0;
    while (done < FSize) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(FSize - done, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file.Get(), FData + done, chunk, &written, nullptr) || written == 0) {
            throw EWriteError("ファイル " + FileName + " に書き込めません");
        }
        done += written;
    }
}
