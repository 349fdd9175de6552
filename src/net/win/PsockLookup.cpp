#include "net/win/PsockLookup.h"

#include <algorithm>

#include "net/PsockText.h"

TPsockLookup::TPsockLookup() : FBuffer(std::make_unique<TBuffer>()) {}

TPsockLookup::~TPsockLookup()
{
    if (FTask != nullptr) {
        WSACancelAsyncRequest(FTask);
        (void)FBuffer.release();
    }
    for (auto& [task, buffer] : FAbandoned) {
        WSACancelAsyncRequest(task);
        (void)buffer.release();
    }
}

bool TPsockLookup::Start(HWND Window, UINT Message, const std::string& Name)
{
    FBuffer->Name = Name;
    FTask = WSAAsyncGetHostByName(Window, Message, FBuffer->Name.c_str(), FBuffer->Entry.data(),
                                  static_cast<int>(FBuffer->Entry.size()));
    return FTask != nullptr;
}

bool TPsockLookup::Completed(HANDLE Task) noexcept
{
    if (Task != nullptr && Task == FTask) {
        FTask = nullptr;
        return true;
    }
    FAbandoned.erase(std::remove_if(FAbandoned.begin(), FAbandoned.end(), [Task](const auto& entry) { return entry.first == Task; }),
                     FAbandoned.end());
    return false;
}

void TPsockLookup::GiveUp()
{
    if (FTask == nullptr) {
        return;
    }
    WSACancelAsyncRequest(FTask);
    FAbandoned.emplace_back(FTask, std::move(FBuffer));
    FBuffer = std::make_unique<TBuffer>();
    FTask = nullptr;
}

bool TPsockLookup::Address(uint8_t (&Address)[4]) const noexcept
{
    return FirstLookupAddress(FBuffer->Entry.data(), FBuffer->Entry.size(), Address);
}
