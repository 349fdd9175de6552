// The small class library the system is written against: exceptions, owned components,
// events, streams and string lists. Portable: no platform header is included here.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// ---------------------------------------------------------------------------------------------
// Exceptions. Every exception carries one message text (code page 932 bytes).

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const std::string& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

class EStreamError : public Exception { using Exception::Exception; };
class EFCreateError : public EStreamError { using EStreamError::EStreamError; };
class EFOpenError : public EStreamError { using EStreamError::EStreamError; };
class EReadError : public EStreamError { using EStreamError::EStreamError; };
class EWriteError : public EStreamError { using EStreamError::EStreamError; };
// An index outside a list's bounds.
class EListError : public Exception { using Exception::Exception; };
class EStringListError : public EListError { using EListError::EListError; };
// A count or number that does not fit the width it is given to (a 16-bit count, a reply number).
class ERangeError : public Exception { using Exception::Exception; };
// Text that cannot be converted (a number, a date).
class EConvertError : public Exception { using Exception::Exception; };

// ---------------------------------------------------------------------------------------------
// Objects and components.

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;
// A handler event lets the owner mend a condition; setting Handled asks for one more try.
using THandlerEvent = std::function<void(bool& Handled)>;

// The one rule for a handler event: it is asked once per operation. False when it was asked
// before (Asked), is not set, or leaves Handled false: the caller fails then; true means "look
// again".
template <typename Event, typename... Args>
bool AskHandlerOnce(bool& Asked, const Event& Handler, Args&&... Arguments)
{
    if (Asked || !Handler) {
        return false;
    }
    Asked = true;
    bool handled = false;
    Handler(handled, std::forward<Args>(Arguments)...);
    return handled;
}

// A component belongs to its owner, which frees it when it is freed itself. Children are freed
// in the reverse order of their creation, so a component may rely on every component created
// before it (and owned by the same owner) during its own destruction. A child deleted on its
// own leaves its owner's list first.
class TComponent : public TObject {
public:
    explicit TComponent(TComponent* AOwner);
    ~TComponent() override;

    TComponent* Owner() const noexcept { return FOwner; }
    int ComponentCount() const noexcept { return static_cast<int>(FComponents.size()); }
    TComponent* Components(int Index) const;
    // True from the start of the destructor on: events are no longer fired.
    bool Destroying() const noexcept { return FDestroying; }

    const std::string& Name() const noexcept { return FName; }
    void SetName(std::string Value) { FName = std::move(Value); }

    // Frees every owned component now, last created first.
    void DestroyComponents();
    // Called once whoever made the component has given it its properties (a form that set up
    // its components); nothing by default.
    virtual void Loaded() {}

protected:
    // Lets a derived destructor mark the object before its own teardown begins.
    void BeginDestroy() noexcept { FDestroying = true; }

private:
    void InsertComponent(TComponent* AComponent);
    void RemoveComponent(TComponent* AComponent) noexcept;

    TComponent* FOwner = nullptr;
    std::vector<TComponent*> FComponents;
    std::string FName;
    bool FDestroying = false;
};

// ---------------------------------------------------------------------------------------------
// Streams.

enum : uint16_t { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

class TStream : public TObject {
public:
    // Read and Write move up to Count bytes and return how many moved; they never raise for a
    // short transfer. ReadBuffer and WriteBuffer raise when the whole count cannot move.
    virtual int32_t Read(void* Buffer, int32_t Count) = 0;
    virtual int32_t Write(const void* Buffer, int32_t Count) = 0;
    virtual int64_t Seek(int64_t Offset, uint16_t Origin) = 0;

    int64_t Position() { return Seek(0, soFromCurrent); }
    void SetPosition(int64_t Pos) { Seek(Pos, soFromBeginning); }
    virtual int64_t Size();
    virtual void SetSize(int64_t NewSize);

    void ReadBuffer(void* Buffer, int32_t Count);
    void WriteBuffer(const void* Buffer, int32_t Count);
    // Copies Count bytes from Source's position; Count 0 copies all of Source from its start.
    // Returns the number of bytes copied.
    int64_t CopyFrom(TStream& Source, int64_t Count);
};

class TMemoryStream : public TStream {
public:
    int32_t Read(void* Buffer, int32_t Count) override;
    int32_t Write(const void* Buffer, int32_t Count) override;
    int64_t Seek(int64_t Offset, uint16_t Origin) override;
    int64_t Size() override { return static_cast<int64_t>(FData.size()); }
    void SetSize(int64_t NewSize) override;

    void Clear();
    const uint8_t* Memory() const noexcept { return FData.data(); }
    uint8_t* Memory() noexcept { return FData.data(); }
    void LoadFromStream(TStream& Stream);
    void SaveToStream(TStream& Stream);
    void LoadFromFile(const std::string& FileName);
    void SaveToFile(const std::string& FileName);

private:
    std::vector<uint8_t> FData;
    int64_t FPosition = 0;
};

enum : uint16_t {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmCreate = 0xFF00,
};

// A file opened for the stream's lifetime. File names are passed to the C runtime unchanged
// (system code page bytes).
class TFileStream : public TStream {
public:
    TFileStream(const std::string& FileName, uint16_t Mode);
    ~TFileStream() override;

    int32_t Read(void* Buffer, int32_t Count) override;
    int32_t Write(const void* Buffer, int32_t Count) override;
    int64_t Seek(int64_t Offset, uint16_t Origin) override;
    void SetSize(int64_t NewSize) override;
    const std::string& FileName() const noexcept { return FFileName; }

private:
    std::string FFileName;
    std::FILE* FFile = nullptr;
    // The C runtime needs a positioning call between a read and a following write.
    enum class LastOp { None, Read, Write } FLast = LastOp::None;
};

// ---------------------------------------------------------------------------------------------
// String lists.

class TStringList : public TObject {
public:
    TStringList() = default;
    ~TStringList() override = default;

    int Count() const noexcept { return static_cast<int>(FItems.size()); }
    const std::string& Get(int Index) const;
    const std::string& operator[](int Index) const { return Get(Index); }
    virtual void Put(int Index, const std::string& S);
    // Appends, or on a sorted list inserts at the sorted position; returns the index.
    virtual int Add(const std::string& S);
    virtual void Insert(int Index, const std::string& S);
    virtual void Delete(int Index);
    virtual void Clear();
    void Assign(const TStringList& Source);

    // Lines joined by CR LF, each line followed by one. Setting splits at CR LF, LF or CR.
    std::string Text() const;
    void SetText(const std::string& Value);

    bool Sorted() const noexcept { return FSorted; }
    void SetSorted(bool Value);
    bool CaseSensitive() const noexcept { return FCaseSensitive; }
    void SetCaseSensitive(bool Value);

    // Index of the line equal to S (by the list's comparison), or -1.
    virtual int IndexOf(const std::string& S) const;
    // On a sorted list: the index of S, or where it would go; true when found.
    bool Find(const std::string& S, int& Index) const;
    // Lines of the form name=value.
    virtual int IndexOfName(const std::string& Name) const;
    std::string Names(int Index) const;
    std::string Values(const std::string& Name) const;
    void SetValues(const std::string& Name, const std::string& Value);

    void LoadFromStream(TStream& Stream);
    void SaveToStream(TStream& Stream) const;

    TNotifyEvent OnChange;

protected:
    int CompareStrings(const std::string& S1, const std::string& S2) const;
    void Changed();
    void CheckIndex(int Index, int Upper) const;

private:
    void InsertItem(int Index, const std::string& S);
    void Sort();
    std::vector<std::string> FItems;
    bool FSorted = false;
    bool FCaseSensitive = false;
};
