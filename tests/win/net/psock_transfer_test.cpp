// The socket layer under Wine: captures, files and streams, and peers that misbehave.
#include "PsockTestUtil.h"

namespace {
using namespace psocktest;

// ---------------------------------------------------------------------------------------------
// Captures, files and streams.

TEST_F(Psock, CapturesTakeOneReceiveOrAtLeastTheirSize)
{
    const std::string hundred = Pattern(100);
    TPeer peer([&](TPeer& p) {
        p.Send(hundred);
        p.RecvLine();
        p.Send(hundred);
        p.RecvLine();
        for (char c : std::string("drip")) {
            p.Send(std::string(1, c));
            Sleep(20);
        }
    });
    ConnectTo(peer);
    int packets = 0;
    Sock->OnPacketRecvd = [&](TObject*) { ++packets; };
    const auto waiting = [&](int N) {
        return PumpUntil([&] {
            char buffer[256];
            return recv(Sock->SocketHandle(), buffer, sizeof buffer, MSG_PEEK) == N;
        });
    };
    ASSERT_TRUE(waiting(100));
    TMemoryStream stream;
    Sock->CaptureStream(stream, -1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream.Memory()), static_cast<std::size_t>(stream.Size())), hundred);
    EXPECT_EQ(Sock->BytesRecvd(), 100);
    Sock->CaptureStream(stream, -1); // nothing waits: one receive that takes nothing
    EXPECT_EQ(stream.Size(), 100);
    Sock->Writeln("next");
    ASSERT_TRUE(waiting(100));
    std::string s;
    Sock->CaptureString(s, 10); // a lower bound: the whole block comes back
    EXPECT_EQ(s, hundred);
    Sock->Writeln("drip");
    Sock->CaptureString(s, -1); // single bytes until the peer closes
    EXPECT_EQ(s, "drip");
    EXPECT_GE(packets, 3);
}

TEST_F(Psock, FilterHeaderStopsAtTheBlankLine)
{
    TPeer peer([](TPeer& p) {
        p.Send("From: a\r\nTo: b\r\n");
        Sleep(30);
        p.Send("\r\nbody\r\n");
        p.Recv();
    });
    ConnectTo(peer);
    TMemoryStream stream;
    Sock->FilterHeader(stream);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream.Memory()), static_cast<std::size_t>(stream.Size())),
              "From: a\r\nTo: b\r\n\r\n");
    EXPECT_EQ(Sock->ReadLn(), "body\r\n");
}

TEST_F(Psock, StreamsAndFilesTravelWhole)
{
    const std::string big = Pattern(300000);
    const std::string path = TempFile("send.bin", big);
    TPeer peer([](TPeer& p) {
        p.Recv(600000);
        p.Send("done\r\n"); // the component's close resets: nothing may be left unread
        p.Recv();
    });
    ConnectTo(peer);
    int packets = 0;
    Sock->OnPacketSent = [&](TObject*) { ++packets; };
    TMemoryStream stream;
    stream.WriteBuffer(big.data(), static_cast<int32_t>(big.size()));
    Sock->SendStream(stream);
    EXPECT_EQ(Sock->BytesSent(), 300000);
    EXPECT_EQ(Sock->BytesTotal(), 300000);
    Sock->SendFile(path);
    EXPECT_EQ(Sock->BytesSent(), 600000); // SendFile adds to the count
    EXPECT_GE(packets, 10);
    EXPECT_THROW(Sock->SendFile(path + ".missing"), EFOpenError);
    EXPECT_EQ(Sock->ReadLn(), "done\r\n");
    Sock->Disconnect();
    EXPECT_TRUE(peer.Finish() == big + big);
    DeleteFileA(path.c_str());
}

TEST_F(Psock, CaptureFileAndAppendFileEndWithThePeer)
{
    const std::string big = Pattern(200000);
    const std::string captured = TempFile("capture.bin", "old content");
    const std::string appended = TempFile("append.bin", "head:");
    for (bool append : {false, true}) {
        TPeer peer([&](TPeer& p) {
            p.Send(big.substr(0, 1000));
            Sleep(50);
            p.Send(big.substr(1000));
        });
        ConnectTo(peer);
        if (append) {
            Sock->AppendFile(appended);
            EXPECT_FALSE(Sock->Connected()); // it ends with the close notification
        } else {
            Sock->CaptureFile(captured);
            Sock->Disconnect();
        }
        EXPECT_EQ(Sock->BytesRecvd(), 200000);
    }
    EXPECT_TRUE(FileContent(captured) == big);
    EXPECT_TRUE(FileContent(appended) == "head:" + big);
    DeleteFileA(captured.c_str());
    DeleteFileA(appended.c_str());
}

TEST_F(Psock, CloseNoticeWhileDataWaitsLeavesTheConnection)
{
    TPeer peer([](TPeer& p) {
        p.Send("last\r\n");
        p.Close();
    });
    int disconnects = 0;
    Sock->OnDisconnect = [&](TObject*) { ++disconnects; };
    ConnectTo(peer);
    ASSERT_TRUE(PumpUntil([&] { return Sock->DataAvailable(); }));
    PostMessageA(Sock->MessageWindow(), CM_SOCKETMESSAGE, Sock->SocketHandle(), FD_CLOSE);
    PumpFor(50);
    EXPECT_TRUE(Sock->Connected());
    EXPECT_EQ(disconnects, 0);
    EXPECT_EQ(Sock->ReadLn(), "last\r\n");
    EXPECT_EQ(Sock->ReadLn(), ""); // closed
    EXPECT_TRUE(PumpUntil([&] { return !Sock->Connected(); }));
    EXPECT_EQ(disconnects, 1);
    // A notice for a socket that is no longer the component's changes nothing.
    const uint16_t fresh = Sock->SocketHandle();
    PostMessageA(Sock->MessageWindow(), CM_SOCKETMESSAGE, fresh + 4, FD_CLOSE);
    PumpFor(30);
    EXPECT_EQ(Sock->SocketHandle(), fresh);
    EXPECT_EQ(disconnects, 1);
}

// ---------------------------------------------------------------------------------------------
// Peers that misbehave: every operation ends, within its time-out or by Cancel.

TEST_F(Psock, LongLinesFitTheBufferOrFailClearly)
{
    const std::string fits = std::string(65535, 'x') + "\n";
    TPeer peer([&](TPeer& p) {
        p.Send(fits);
        p.Send(std::string(65536, 'y') + "\nafter\r\n");
        p.Send(std::string(200000, 'z'));
        p.Recv();
    });
    ConnectTo(peer);
    EXPECT_TRUE(Sock->ReadLn() == fits);
    EXPECT_EQ(Raised<ESockError>([&] { Sock->ReadLn(); }), "Socket readln line too long");
    EXPECT_TRUE(Sock->Connected()); // left as it was: the rest of the line is still there
    EXPECT_EQ(Sock->ReadLn(), "\n");
    EXPECT_EQ(Sock->ReadLn(), "after\r\n");
    Sock->SetTimeOut(1000);
    EXPECT_EQ(Raised<ESockError>([&] { Sock->ReadLn(); }), "Socket readln line too long"); // a flood
    EXPECT_TRUE(Sock->Connected());
}

TEST_F(Psock, DrippingPeerFinishesALineAndTheTimeOutBoundsACapture)
{
    TPeer peer([](TPeer& p) {
        for (char c : std::string("250 slow\r\n") + std::string(60, '.')) {
            p.Send(std::string(1, c));
            Sleep(25);
        }
        p.Hold();
    });
    ConnectTo(peer);
    Sock->SetTimeOut(1000);
    EXPECT_EQ(Sock->ReadLn(), "250 slow\r\n");
    // Each block re-arms the time-out without restarting it: it bounds the whole capture.
    std::string s;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Raised<EAbortError>([&] { Sock->CaptureString(s, 1000); }), "Socket capture aborted");
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::milliseconds(2000)); // a restarted count would end after the dots, at 2.5 s
    EXPECT_GT(s.size(), 5u);
    EXPECT_LT(s.size(), 60u);
}

// Every operation that waits on the peer ends, however the peer behaves: with what it sent, by
// the time-out, by a cancel from a handler, or by the peer's end, which is acted on once (the
// connection is marked closed, OnDisconnect fires, a later Disconnect only closes).
TEST_F(Psock, HostilePeersEndEveryOperation)
{
    const std::string mega = Pattern(1 << 20);
    const std::string path = TempFile("hostile.bin", "");
    const auto reads = [&](int32_t Count) {
        return [&, Count]() {
            std::string got;
            while (got.size() < mega.size()) {
                const std::string piece = Sock->Read(Count);
                if (piece.empty()) break;
                got += piece;
            }
            return got == mega ? std::string("whole") : "got " + std::to_string(got.size());
        };
    };
    const auto floods = [&](std::size_t Piece) {
        return [&, Piece](TPeer& p) {
            for (std::size_t at = 0; at < mega.size(); at += Piece) p.Send(mega.substr(at, Piece));
            p.Close(); // the last Read takes what is left
        };
    };
    const auto silent = [](TPeer& p) { p.Hold(); };
    const auto startTls = [&] {
        Sock->StartTls({"localhost", "", false});
        return std::string("secured");
    };
    TMemoryStream big;
    big.SetSize(20 << 20);
    const struct {
        const char* peer;
        std::function<void(TPeer&)> script;
        const char* operation;
        std::function<std::string()> run; // the result, or the exception's text
        const char* ends;
        int32_t timeOut;   // 0: ended by a cancel after 300 ms
        const char* report; // "abort": OnAfterAbort once; "end": OnDisconnect once, not connected
        DWORD mostMs;
        bool otherThread = false; // the cancel after 300 ms comes from another thread
    } rows[] = {
        {"floods 1 MB in pieces of 1,000", floods(1000), "Read(100)", reads(100), "whole", 3000, "", 20000},
        {"floods 1 MB in pieces of 7,919", floods(7919), "Read(1000)", reads(1000), "whole", 3000, "", 20000},
        {"floods 1 MB at once", floods(1 << 20), "Read(4096)", reads(4096), "whole", 3000, "", 20000},
        {"floods 1 MB at once", floods(1 << 20), "Read(65535)", reads(65535), "whole", 3000, "", 20000},
        {"sends 70,000 bytes", [&](TPeer& p) { p.Send(mega.substr(0, 70000)); p.Hold(); }, "Read(0) twice",
         [&] {
             PumpUntil([&] { return Sock->DataAvailable(); });
             Sleep(200); // all of it waits
             const std::string first = Sock->Read(0);
             const std::string rest = Sock->Read(0);
             return std::to_string(first.size()) + (first + rest == mega.substr(0, 70000) ? " of whole" : " of garbled");
         },
         "65536 of whole", 3000, "", 3000},
        {"sends 50 bytes and closes", [&](TPeer& p) { p.Send(mega.substr(0, 50)); p.Close(); }, "Read(100)",
         [&] { return std::to_string(Sock->Read(100).size()); }, "50", 3000, "end", 2000},
        {"sends a part line and resets", [](TPeer& p) { p.Send("25"); Sleep(100); p.Reset(); }, "ReadLn",
         [&] { const std::string line = Sock->ReadLn(); return line.empty() ? "empty" : line; },
         "empty|10054:Connection reset by peer", 3000, "end", 2000},
        {"is silent", silent, "ReadLn", [&] { return Sock->ReadLn(); }, "Socket readln aborted", 500, "abort", 2500},
        {"is silent", silent, "ReadLn", [&] { return Sock->ReadLn(); }, "Socket readln aborted", 0, "abort", 2500},
        {"is silent", silent, "Read(10)", [&] { return Sock->Read(10); }, "Socket send aborted", 500, "abort", 2500},
        {"is silent", silent, "Read(10)", [&] { return Sock->Read(10); }, "Socket send aborted", 0, "abort", 2500},
        {"is silent", silent, "CaptureString",
         [&] { std::string s; Sock->CaptureString(s, 100); return s; }, "Socket capture aborted", 500, "abort", 2500},
        {"is silent", silent, "CaptureFile", [&] { Sock->CaptureFile(path); return ""; }, "Socket send aborted", 500,
         "abort", 2500},
        {"is silent", silent, "AppendFile", [&] { Sock->AppendFile(path); return ""; }, "Socket send aborted", 500,
         "abort", 2500},
        // The time-out of AppendFile bounds the time without progress, not the whole transfer.
        {"sends a piece every 200 ms for 2 s", [&](TPeer& p) {
             for (int i = 0; i < 10; ++i) p.Send(mega.substr(0, 1000)), Sleep(200);
             p.Close();
         },
         "AppendFile",
         [&] {
             const std::string dripped = TempFile("dripped.bin", "");
             Sock->AppendFile(dripped);
             std::ifstream in(dripped, std::ios::binary);
             const std::string got((std::istreambuf_iterator<char>(in)), {});
             return got.size() == 10000 && got.substr(0, 1000) == mega.substr(0, 1000) ? "whole" : "got " + std::to_string(got.size());
         },
         "whole", 500, "end", 5000},
        {"is silent", silent, "ReadLn", [&] { return Sock->ReadLn(); }, "Socket readln aborted", 3000, "abort", 500, true},
        {"stops reading", silent, "Write",
         [&] { for (int i = 0; i < 2000; ++i) Sock->Write(std::string(65535, 's')); return "all written"; },
         "Socket send aborted", 500, "abort", 5000},
        {"stops reading", silent, "SendStream", [&] { Sock->SendStream(big); return ""; }, "Socket send aborted", 500,
         "abort", 5000},
        {"stops reading", silent, "SendStream", [&] { Sock->SendStream(big); return ""; }, "Socket send aborted", 0,
         "abort", 5000},
        // The TLS handshake ends as every operation does, and closes the connection.
        {"closes at the ClientHello", [](TPeer& p) { p.Recv(1); p.Close(); }, "StartTls", startTls,
         "TLS: the server ended the connection during the handshake", 3000, "end", 3000},
        {"is silent", silent, "StartTls", startTls, "TLS: the server did not complete the handshake in time", 500, "end", 2500},
        {"is silent", silent, "StartTls", startTls, "TLS handshake aborted", 0, "abort", 2500},
        {"reads a little and resets", [](TPeer& p) { p.Recv(100000); p.Reset(); }, "SendStream",
         [&] { Sock->SendStream(big); return ""; }, "10054:Connection reset by peer|10053:Software caused connection abort|10057:Socket is not connected",
         3000, "end", 5000},
    };
    std::ofstream(path, std::ios::binary) << std::string(20 << 20, 'f');
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string("the peer ") + row.peer + ", " + row.operation +
                     (row.otherThread ? ", cancelled by a thread" : row.timeOut ? "" : ", cancelled"));
        TPeer peer(row.script);
        ConnectTo(peer);
        int aborts = 0, ends = 0;
        Sock->OnAfterAbort = [&](TObject*) { ++aborts; };
        Sock->OnDisconnect = [&](TObject*) { ++ends; };
        Sock->SetTimeOut(row.timeOut);
        std::optional<TLater> cancel;
        if (row.timeOut == 0) cancel.emplace(300, [&] { Sock->Cancel(); });
        std::thread canceller;
        if (row.otherThread) canceller = std::thread([&] { Sleep(300), Sock->Cancel(); });
        const auto start = std::chrono::steady_clock::now();
        std::string result;
        try {
            result = row.run();
        } catch (const Exception& e) {
            result = e.Message();
        }
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        if (canceller.joinable()) canceller.join();
        EXPECT_NE(("|" + std::string(row.ends) + "|").find("|" + result + "|"), std::string::npos) << result;
        EXPECT_LE(took.count(), static_cast<long long>(row.mostMs));
        EXPECT_EQ(aborts, std::string(row.report) == "abort" ? 1 : 0);
        if (std::string(row.report) == "end") {
            EXPECT_TRUE(PumpUntil([&] { return !Sock->Connected(); }));
            EXPECT_EQ(ends, 1);
            EXPECT_NO_THROW(Sock->Disconnect()); // only closes: nothing to say to a peer that went
        } else {
            Sock->OnDisconnect = nullptr;
            Sock->Disconnect();
        }
        EXPECT_FALSE(Sock->Canceled());
    }
    DeleteFileA(path.c_str());
}


// The small rules of the client: what each operation reports at level 8, ClearInput's one
// receive, ReadLn without a connection, a capture into the middle of a stream.
TEST_F(Psock, SmallRulesOfTheClient)
{
    const std::string block = Pattern(70000);
    TPeer peer([&](TPeer& p) {
        p.Send(block);
        p.RecvLine();
        p.Send("XY");
        p.Hold();
    });
    ConnectTo(peer);
    ASSERT_TRUE(PumpUntil([&] {
        char buffer[65536];
        return recv(Sock->SocketHandle(), buffer, sizeof buffer, MSG_PEEK) == 65536;
    }));
    Sleep(100); // the rest of the block
    Sock->ClearInput(); // one receive: 65,536 bytes go, the rest stays
    EXPECT_EQ(Sock->Read(0), block.substr(65536));
    Sock->Writeln("next");
    TMemoryStream stream;
    stream.WriteBuffer("abcdef", 6);
    stream.SetPosition(2);
    ASSERT_TRUE(PumpUntil([&] { return Sock->DataAvailable(); }));
    Sock->CaptureStream(stream, -1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream.Memory()), 6), "abXYef");

    TSocketHandle spare(socket(AF_INET, SOCK_STREAM, 0));
    std::string error;
    const struct {
        const char* status;
        std::function<void()> run;
    } rows[] = {
        {"Closing Socket", [&] { Sock->Close(spare); }},
        {"Canceling", [&] { Sock->Cancel(); }},
        {"Abort", [&] { Sock->Abort(); }},
        {"Getting Remote IP", [&] { Sock->GetRemoteIP(); }},
        {"Getting Local IP", [&] { Sock->GetLocalIP(); }},
        {"Getting LastError Number", [&] { Sock->LastErrorNo(); }},
        {"Setting LastError Number", [&] { Sock->SetLastErrorNo(0); }},
        {"Setting Winsock Error", [&] { Sock->SetWSAError(10061, "x"); }},
        {"Looking Up Error Message", [&] { Sock->SocketErrorStr(10061, error); }},
        {"Data Available", [&] { Sock->DataAvailable(); }},
        {"Clearing Input", [&] { Sock->ClearInput(); }},
        {"Checking Connection", [&] { Sock->CertifyConnect(); }},
        {"Read( 0 )", [&] { Sock->Read(0); }},
        {"Capture String", [&] { std::string s; Sock->CaptureString(s, -1); }},
        {"Disconnecting", [&] { Sock->Disconnect(); }},
    };
    for (const auto& row : rows) {
        Statuses.clear();
        Sock->SetTimeOut(100);
        try {
            row.run();
        } catch (const Exception&) { // an abort ending, after the status
        }
        EXPECT_EQ(Statuses.empty() ? "" : Statuses.front(), row.status);
    }
    // Not connected any more: ReadLn gives an empty line at once, with the socket's 10057.
    EXPECT_FALSE(Sock->Connected());
    EXPECT_EQ(Sock->ReadLn(), "");
    EXPECT_EQ(Sock->LastErrorNo(), WSAENOTCONN);
}

} // namespace
