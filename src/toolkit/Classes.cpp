#include "toolkit/Classes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "toolkit/SysUtils.h"

#if defined(_WIN32)
#include <io.h>
#define SETUP_FSEEK _fseeki64
#define SETUP_FTELL _ftelli64
#else
#include <unistd.h>
#define SETUP_FSEEK fseeko
#define SETUP_FTELL ftello
#endif

// ---------------------------------------------------------------------------------------------
// TComponent

TComponent::TComponent(TComponent* AOwner)
{
    if (AOwner != nullptr) {
        AOwner->InsertComponent(this);
    }
}

TComponent::~TComponent()
{
    FDestroying = true;
    DestroyComponents();
    if (FOwner != nullptr) {
        FOwner->RemoveComponent(this);
    }
}

TComponent* TComponent::Components(int Index) const
{
    if (Index < 0 || Index >= ComponentCount()) {
        throw EListError("List index out of bounds (" + IntToStr(Index) + ")");
    }
    return FComponents[static_cast<std::size_t>(Index)];
}

void TComponent::DestroyComponents()
{
    while (!FComponents.empty()) {
        TComponent* last = FComponents.back();
        // Detached before deletion, so the child's destructor finds no owner to leave.
        RemoveComponent(last);
        delete last;
    }
}

void TComponent::InsertComponent(TComponent* AComponent)
{
    FComponents.push_back(AComponent);
    AComponent->FOwner = this;
}

void TComponent::RemoveComponent(TComponent* AComponent) noexcept
{
    auto it = std::find(FComponents.rbegin(), FComponents.rend(), AComponent);
    if (it != FComponents.rend()) {
        FComponents.erase(std::next(it).base());
    }
    AComponent->FOwner = nullptr;
}

// ---------------------------------------------------------------------------------------------
// TStream

int64_t TStream::Size()
{
    const int64_t pos = Seek(0, soFromCurrent);
    const int64_t size = Seek(0, soFromEnd);
    Seek(pos, soFromBeginning);
    return size;
}

void TStream::SetSize(int64_t)
{
    throw EStreamError("Stream size cannot be changed");
}

void TStream::ReadBuffer(void* Buffer, int32_t Count)
{
    if (Count != 0 && Read(Buffer, Count) != Count) {
        throw EReadError("Stream read error");
    }
}

void TStream::WriteBuffer(const void* Buffer, int32_t Count)
{
    if (Count != 0 && Write(Buffer, Count) != Count) {
        throw EWriteError("Stream write error");
    }
}

int64_t TStream::CopyFrom(TStream& Source, int64_t Count)
{
    if (Count == 0) {
        Source.SetPosition(0);
        Count = Source.Size();
    }
    constexpr int32_t kChunk = 64 * 1024;
    std::vector<uint8_t> buffer(static_cast<std::size_t>(std::min<int64_t>(Count, kChunk)));
    int64_t left = Count;
    while (left > 0) {
        const auto n = static_cast<int32_t>(std::min<int64_t>(left, kChunk));
        Source.ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        left -= n;
    }
    return Count;
}

// ---------------------------------------------------------------------------------------------
// TMemoryStream

int32_t TMemoryStream::Read(void* Buffer, int32_t Count)
{
    const int64_t size = Size();
    if (Count <= 0 || FPosition >= size) {
        return 0;
    }
    const auto n = static_cast<int32_t>(std::min<int64_t>(Count, size - FPosition));
    std::memcpy(Buffer, FData.data() + FPosition, static_cast<std::size_t>(n));
    FPosition += n;
    return n;
}

int32_t TMemoryStream::Write(const void* Buffer, int32_t Count)
{
    if (Count <= 0) {
        return 0;
    }
    const int64_t end = FPosition + Count;
    if (end > Size()) {
        FData.resize(static_cast<std::size_t>(end));
    }
    std::memcpy(FData.data() + FPosition, Buffer, static_cast<std::size_t>(Count));
    FPosition = end;
    return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, uint16_t Origin)
{
    switch (Origin) {
    case soFromBeginning: FPosition = Offset; break;
    case soFromCurrent: FPosition += Offset; break;
    case soFromEnd: FPosition = Size() + Offset; break;
    default: throw EStreamError("Invalid stream origin");
    }
    // A position past the end is allowed (a later write fills the gap with zeros); before the
    // start is not.
    if (FPosition < 0) {
        FPosition = 0;
    }
    return FPosition;
}

void TMemoryStream::SetSize(int64_t NewSize)
{
    if (NewSize < 0) {
        throw EStreamError("Invalid stream size");
    }
    FData.resize(static_cast<std::size_t>(NewSize));
    if (FPosition > NewSize) {
        FPosition = NewSize;
    }
}

void TMemoryStream::Clear()
{
    FData.clear();
    FData.shrink_to_fit();
    FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& Stream)
{
    Stream.SetPosition(0);
    const int64_t size = Stream.Size();
    SetSize(size);
    Stream.ReadBuffer(FData.data(), static_cast<int32_t>(size));
    FPosition = 0;
}

void TMemoryStream::SaveToStream(TStream& Stream)
{
    Stream.WriteBuffer(FData.data(), static_cast<int32_t>(FData.size()));
}

void TMemoryStream::LoadFromFile(const std::string& FileName)
{
    TFileStream file(FileName, fmOpenRead);
    LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::string& FileName)
{
    TFileStream file(FileName, fmCreate);
    SaveToStream(file);
}

// ---------------------------------------------------------------------------------------------
// TFileStream

TFileStream::TFileStream(const std::string& FileName, uint16_t Mode) : FFileName(FileName)
{
    if (Mode == fmCreate) {
        FFile = std::fopen(FileName.c_str(), "w+b");
        if (FFile == nullptr) {
            throw EFCreateError("Cannot create file \"" + FileName + "\". " + std::strerror(errno));
        }
        return;
    }
    const char* mode = (Mode & 3) == fmOpenRead ? "rb" : "r+b";
    FFile = std::fopen(FileName.c_str(), mode);
    if (FFile == nullptr) {
        throw EFOpenError("Cannot open file \"" + FileName + "\". " + std::strerror(errno));
    }
}

TFileStream::~TFileStream()
{
    if (FFile != nullptr) {
        std::fclose(FFile);
    }
}

int32_t TFileStream::Read(void* Buffer, int32_t Count)
{
    if (Count <= 0) {
        return 0;
    }
    if (FLast == LastOp::Write) {
        std::fflush(FFile);
    }
    FLast = LastOp::Read;
    return static_cast<int32_t>(std::fread(Buffer, 1, static_cast<std::size_t>(Count), FFile));
}

int32_t TFileStream::Write(const void* Buffer, int32_t Count)
{
    if (Count <= 0) {
        return 0;
    }
    if (FLast == LastOp::Read) {
        SETUP_FSEEK(FFile, 0, SEEK_CUR);
    }
    FLast = LastOp::Write;
    return static_cast<int32_t>(std::fwrite(Buffer, 1, static_cast<std::size_t>(Count), FFile));
}

int64_t TFileStream::Seek(int64_t Offset, uint16_t Origin)
{
    int whence = SEEK_SET;
    switch (Origin) {
    case soFromBeginning: whence = SEEK_SET; break;
    case soFromCurrent: whence = SEEK_CUR; break;
    case soFromEnd: whence = SEEK_END; break;
    default: throw EStreamError("Invalid stream origin");
    }
    if (!(Origin == soFromCurrent && Offset == 0) || FLast == LastOp::Write) {
        if (SETUP_FSEEK(FFile, Offset, whence) != 0) {
            throw EStreamError("Seek error in \"" + FFileName + "\"");
        }
        FLast = LastOp::None;
    }
    return SETUP_FTELL(FFile);
}

void TFileStream::SetSize(int64_t NewSize)
{
    std::fflush(FFile);
#if defined(_WIN32)
    const int rc = _chsize_s(_fileno(FFile), NewSize);
#else
    const int rc = ftruncate(fileno(FFile), NewSize);
#endif
    if (rc != 0) {
        throw EStreamError("Cannot set the size of \"" + FFileName + "\"");
    }
    if (Position() > NewSize) {
        Seek(NewSize, soFromBeginning);
    }
}

// ---------------------------------------------------------------------------------------------
// TStringList

void TStringList::CheckIndex(int Index, int Upper) const
{
    if (Index < 0 || Index > Upper) {
        throw EStringListError("List index out of bounds (" + IntToStr(Index) + ")");
    }
}

const std::string& TStringList::Get(int Index) const
{
    CheckIndex(Index, Count() - 1);
    return FItems[static_cast<std::size_t>(Index)];
}

void TStringList::Put(int Index, const std::string& S)
{
    if (FSorted) {
        throw EStringListError("Operation not allowed on sorted list");
    }
    CheckIndex(Index, Count() - 1);
    FItems[static_cast<std::size_t>(Index)] = S;
    Changed();
}

int TStringList::Add(const std::string& S)
{
    int index = Count();
    if (FSorted) {
        Find(S, index);
    }
    InsertItem(index, S);
    return index;
}

void TStringList::Insert(int Index, const std::string& S)
{
    if (FSorted) {
        throw EStringListError("Operation not allowed on sorted list");
    }
    InsertItem(Index, S);
}

void TStringList::InsertItem(int Index, const std::string& S)
{
    CheckIndex(Index, Count());
    FItems.insert(FItems.begin() + Index, S);
    Changed();
}

void TStringList::Delete(int Index)
{
    CheckIndex(Index, Count() - 1);
    FItems.erase(FItems.begin() + Index);
    Changed();
}

void TStringList::Clear()
{
    if (!FItems.empty()) {
        FItems.clear();
        Changed();
    }
}

void TStringList::Assign(const TStringList& Source)
{
    if (&Source == this) {
        return;
    }
    FItems = Source.FItems;
    if (FSorted) {
        Sort();
    }
    Changed();
}

std::string TStringList::Text() const
{
    std::string result;
    for (const auto& line : FItems) {
        result += line;
        result += "\r\n";
    }
    return result;
}

void TStringList::SetText(const std::string& Value)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < Value.size(); ++i) {
        if (Value[i] == '\r' || Value[i] == '\n') {
            lines.emplace_back(Value, start, i - start);
            if (Value[i] == '\r' && i + 1 < Value.size() && Value[i + 1] == '\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    if (start < Value.size()) {
        lines.emplace_back(Value, start, std::string::npos);
    }
    FItems = std::move(lines);
    if (FSorted) {
        Sort();
    }
    Changed();
}

void TStringList::SetSorted(bool Value)
{
    if (Value && !FSorted) {
        Sort();
    }
    FSorted = Value;
}

void TStringList::SetCaseSensitive(bool Value)
{
    FCaseSensitive = Value;
    if (FSorted) {
        Sort();
    }
}

int TStringList::CompareStrings(const std::string& S1, const std::string& S2) const
{
    return FCaseSensitive ? AnsiCompareStr(S1, S2) : AnsiCompareText(S1, S2);
}

void TStringList::Sort()
{
    std::stable_sort(FItems.begin(), FItems.end(),
                     [this](const std::string& a, const std::string& b) { return CompareStrings(a, b) < 0; });
}

void TStringList::Changed()
{
    if (OnChange) {
        OnChange(this);
    }
}

int TStringList::IndexOf(const std::string& S) const
{
    if (FSorted) {
        int index = -1;
        return Find(S, index) ? index : -1;
    }
    for (int i = 0; i < Count(); ++i) {
        if (CompareStrings(FItems[static_cast<std::size_t>(i)], S) == 0) {
            return i;
        }
    }
    return -1;
}

bool TStringList::Find(const std::string& S, int& Index) const
{
    // Lower bound: the first line not less than S, so duplicates are found at their first.
    int low = 0;
    int high = Count();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (CompareStrings(FItems[static_cast<std::size_t>(middle)], S) < 0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    Index = low;
    return low < Count() && CompareStrings(FItems[static_cast<std::size_t>(low)], S) == 0;
}

std::string TStringList::Names(int Index) const
{
    const std::string& line = Get(Index);
    const auto eq = line.find('=');
    return eq == std::string::npos ? std::string() : line.substr(0, eq);
}

int TStringList::IndexOfName(const std::string& Name) const
{
    for (int i = 0; i < Count(); ++i) {
        const std::string& line = FItems[static_cast<std::size_t>(i)];
        const auto eq = line.find('=');
        if (eq != std::string::npos && CompareStrings(line.substr(0, eq), Name) == 0) {
            return i;
        }
    }
    return -1;
}

std::string TStringList::Values(const std::string& Name) const
{
    const int i = IndexOfName(Name);
    return i < 0 ? std::string() : Get(i).substr(Name.size() + 1);
}

void TStringList::SetValues(const std::string& Name, const std::string& Value)
{
    int i = IndexOfName(Name);
    if (Value.empty()) {
        if (i >= 0) {
            Delete(i);
        }
        return;
    }
    if (i < 0) {
        Add(Name + "=" + Value);
    } else {
        Put(i, Name + "=" + Value);
    }
}

void TStringList::LoadFromStream(TStream& Stream)
{
    const int64_t left = Stream.Size() - Stream.Position();
    std::string text(static_cast<std::size_t>(left > 0 ? left : 0), '\0');
    if (!text.empty()) {
        Stream.ReadBuffer(text.data(), static_cast<int32_t>(text.size()));
    }
    SetText(text);
}

void TStringList::SaveToStream(TStream& Stream) const
{
    const std::string text = Text();
    Stream.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}
