// TPowersock: cancelling, the time-out, the one wait and the one runner of every operation (the
// jobs themselves: PsockDeadline.h, PsockWaiter.h).
#include "net/win/PsockClient.h"

#include "toolkit/win/MessagePump.h"
#include "toolkit/SysUtils.h"

void TPowersock::Cancel()
{
    StatusMessage(8, "Canceling");
    FCanceled = true;
    WakeWaiter();
}

void TPowersock::Abort()
{
    StatusMessage(8, "Abort");
    Cancel();
}

void TPowersock::AbortEnding(const char* Text)
{
    if (FCanceled) {
        FCanceled = false;
        if (OnAfterAbort) {
            OnAfterAbort(this);
        }
        throw EAbortError(Text);
    }
}

TPowersock::TTimerScope::TTimerScope(TPowersock& Socket) : FSocket(Socket)
{
    if (FSocket.FDeadline.Enter()) {
        try {
            FSocket.TimerOn();
        } catch (...) {
            FSocket.FDeadline.Leave();
            throw;
        }
    }
}

TPowersock::TTimerScope::~TTimerScope()
{
    if (FSocket.FDeadline.Leave()) {
        FSocket.TimerOff();
    }
}

void TPowersock::TimerOn()
{
    StatusMessage(8, "Timer On");
    FTimedOut = false;
    if (FTimeOut < 0) {
        throw ERangeError("Time-out out of range: " + IntToStr(FTimeOut));
    }
    FDeadline.Start(FTimeOut);
}

void TPowersock::TimerOff()
{
    StatusMessage(8, "Timer Off");
    FDeadline.Stop();
}

void TPowersock::TimerFired(TObject*)
{
    StatusMessage(8, "Timer Triggered");
    TimerOff();
    FTimedOut = true;
    FAsyncDone = true;
    Abort();
    WakeWaiter();
}

bool TPowersock::WaitUntil(const std::function<bool()>& Done)
{
    while (!FCanceled) {
        if (Done()) {
            return true;
        }
        if (FCanceled) {
            break;
        }
        FWaiter.Sleep([this] { return FDeadline.Check(); }, FCanceled);
        FDeadline.Check();
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// The operations that wait on the peer: what each reports as it starts (at its level), what its
// abort raises, and whether its progress starts the time-out again. The senders of files and
// streams and AppendFile, whose transfers may rightly take long, are bounded by their time
// without progress; the others as a whole.

namespace {

struct TOperationRow {
    uint8_t Level;
    const char* Status; // null: the operation reports itself (its text names an argument)
    const char* Aborted;
    bool ProgressRestarts;
};

constexpr TOperationRow Operations[] = {
    {4, "Sending Buffer", "Socket send aborted", false}, // SendBuffer
    {8, "SendFile", "Socket send aborted", true},        // SendFile
    {8, "SendStream", "Socket send aborted", true},      // SendStream
    {8, nullptr, "Socket send aborted", false},          // Read
    {8, "ReadLn", "Socket readln aborted", false},       // ReadLn
    {8, "Append File", "Socket send aborted", true},     // AppendFile
    {8, "CaptureFile", "Socket send aborted", false},    // CaptureFile
    {8, "Capture Stream", "Socket capture aborted", false}, // CaptureStream
    {8, "Capture String", "Socket capture aborted", false}, // CaptureString
    {8, "Start TLS", "TLS handshake aborted", false},    // StartTls
};

} // namespace

void TPowersock::Run(TOperation Operation, const std::function<bool()>& Body)
{
    const TOperationRow& row = Operations[static_cast<std::size_t>(Operation)];
    if (row.Status != nullptr) {
        StatusMessage(row.Level, row.Status);
    }
    bool ending = true;
    {
        TTimerScope timer(*this);
        // An operation inside another (Writeln inside Transaction) gives the outer one its rule
        // back on every way out.
        struct TRule {
            TPsockDeadline& Deadline;
            const bool Outer;
            ~TRule() { Deadline.SetProgressRestarts(Outer); }
        } rule{FDeadline, FDeadline.ProgressRestarts()};
        FDeadline.SetProgressRestarts(row.ProgressRestarts);
        ending = Body();
    }
    if (ending) {
        AbortEnding(row.Aborted);
    }
}

bool TPowersock::Progressed(int32_t Count, int64_t& Counter, const TNotifyEvent& Event)
{
    Counter += Count;
    if (FDeadline.ProgressRestarts()) {
        FDeadline.Restart();
    } else {
        // The count runs on; only a time-out that has fired is armed again (its Canceled ends
        // the operation all the same).
        TimerOn();
    }
    if (Event) {
        Event(this);
    }
    // A long transfer keeps the program's windows alive.
    ProcessThreadMessages();
    return FCanceled;
}
