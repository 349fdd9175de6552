// Sending one mail with a 10 MiB attachment to the SMTP test peer (aiosmtpd on loopback), under
// Wine: TNMSMTP's Connect, SendMail (assembly, encoding, transfer) and Disconnect, against
// Python's smtplib connecting, sending a message of the same attachment with send_message and
// quitting (bench/smtp_send.py), to the same peer in the same run. The Python side runs first,
// started as a host program (Wine runs a program that is no Windows program as one of the host),
// and leaves its peer up for this side. Each time is the best of three rounds.
// Ratio = ours / Python's send_message; Python's building and sending is printed beside it.
#include "toolkit/win/Win.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>

#include "BenchUtil.h"
#include "toolkit/win/Handles.h"
#include "mail/win/NMsmtp.h"

namespace {

constexpr std::size_t kBytes = 10u << 20;
constexpr int kRuns = 3;

std::string WindowsPath(const std::string& HostPath)
{
    std::string path = "Z:" + HostPath;
    for (char& c : path) c = c == '/' ? '\\' : c;
    return path;
}

// Runs a host shell command (host paths; no double quotes in it) and returns its standard
// output. Wine starts a host program without a process handle to wait on and without the
// standard handles given to it, so the output goes to a file in Folder that is renamed into
// place once the command has ended, and the rename is awaited.
std::string RunHost(const std::string& Command, const std::string& Folder)
{
    static int runs = 0;
    const std::string out = Folder + "/out-" + std::to_string(++runs);
    std::string line = "/bin/sh -c \"" + Command + " > '" + out + ".tmp'; mv '" + out + ".tmp' '" + out + "'\"";
    STARTUPINFOA start{};
    start.cb = sizeof start;
    PROCESS_INFORMATION started{};
    if (!CreateProcessA("Z:\\bin\\sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start, &started)) {
        std::fprintf(stderr, "bench_smtp_send: cannot start the host shell (error %lu)\n", GetLastError());
        return {};
    }
    const TKernelHandle process(started.hProcess), thread(started.hThread);
    const std::string done = WindowsPath(out);
    for (const DWORD begun = GetTickCount(); GetFileAttributesA(done.c_str()) == INVALID_FILE_ATTRIBUTES; Sleep(100)) {
        if (GetTickCount() - begun > 15 * 60 * 1000) return {};
    }
    std::ifstream in(done, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Removes Folder with the files in it (no subfolders).
void RemoveFolder(const std::string& Folder)
{
    WIN32_FIND_DATAA entry;
    if (const TFindHandle find(FindFirstFileA((Folder + "\\*").c_str(), &entry)); find) {
        do {
            DeleteFileA((Folder + "\\" + entry.cFileName).c_str());
        } while (FindNextFileA(find.Get(), &entry));
    }
    RemoveDirectoryA(Folder.c_str());
}

std::map<std::string, std::string> Values(const std::string& Text)
{
    std::map<std::string, std::string> values;
    std::size_t at = 0;
    while (at < Text.size()) {
        const std::size_t end = Text.find('\n', at);
        const std::string line = Text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        const std::size_t space = line.find(' ');
        if (space != std::string::npos) values[line.substr(0, space)] = line.substr(space + 1);
        at = end == std::string::npos ? Text.size() : end + 1;
    }
    return values;
}

struct TOurs {
    double Seconds = 0;   // the best round: Connect, SendMail, Disconnect
    double Handshake = 0; // the best Connect (with STARTTLS: EHLO, STARTTLS, the handshake, EHLO)
    int64_t Sent = 0;
};

// TNMSMTP sending the attachment to the peer's listener on Port, plain or over STARTTLS trusting
// Authority.
TOurs OurSend(int Port, const std::string& File, const std::string& Authority)
{
    TOurs ours;
    ours.Handshake = 1e30;
    ours.Seconds = BestSeconds(
        [&] {
            TNMSMTP smtp(nullptr);
            smtp.SetHost("127.0.0.1");
            smtp.SetPort(Port);
            smtp.SetUserID("bench");
            smtp.SetTimeOut(120000);
            if (!Authority.empty()) {
                smtp.SetSecurity(ssStartTls);
                smtp.SetCertificateAuthority(Authority);
            }
            TPostMessage& m = smtp.PostMessage();
            m.SetFromAddress("bench@peer.test");
            m.ToAddress().Add("sink@peer.test");
            m.SetSubject("benchmark");
            m.Body().Add("A mail with one attachment.");
            m.Attachments().Add(WindowsPath(File));
            const DWORD begun = GetTickCount();
            smtp.Connect();
            ours.Handshake = std::min(ours.Handshake, (GetTickCount() - begun) / 1000.0);
            smtp.SendMail();
            ours.Sent = smtp.BytesSent();
            smtp.Disconnect();
        },
        kRuns);
    return ours;
}

} // namespace

int main()
{
    const std::string folder = "/tmp/bench_smtp_send_" + std::to_string(GetCurrentProcessId());
    const std::string file = folder + "/attachment.bin";
    const std::string certs = folder + "/certs";
    CreateDirectoryA(WindowsPath(folder).c_str(), nullptr);
    {
        std::string data(kBytes, '\0');
        std::mt19937 rng(20261208);
        for (auto& b : data) b = static_cast<char>(rng());
        TFileStream out(WindowsPath(file), fmCreate);
        out.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
    }
    RunHost("/bin/sh '" MAKE_TEST_CERTS_SCRIPT "' '" + certs + "'", folder);
    std::ifstream in(WindowsPath(certs + "/ca.pem"), std::ios::binary);
    const std::string authority((std::istreambuf_iterator<char>(in)), {});

    bool ok = !authority.empty();
    for (const bool secure : {false, true}) {
        auto python = Values(RunHost(std::string(SETUP_BENCH_PYTHON) + " '" SMTP_SEND_SCRIPT "' --keep-peer --runs " +
                                         std::to_string(kRuns) + " --file '" + file + "'" +
                                         (secure ? " --starttls '" + certs + "'" : std::string()),
                                     folder));
        const int port = std::atoi(python["peer_smtp_port"].c_str());
        TOurs ours;
        bool run = port > 0 && !python["send_seconds"].empty();
        if (run) {
            try {
                ours = OurSend(port, file, secure ? authority : std::string());
            } catch (const Exception& e) {
                std::fprintf(stderr, "bench_smtp_send: %s\n", e.Message().c_str());
                run = false;
            }
        } else {
            std::fprintf(stderr, "bench_smtp_send: the Python side (%s) did not run\n", SMTP_SEND_SCRIPT);
        }
        if (!python["peer_dir"].empty()) {
            RunHost(std::string(SETUP_BENCH_PYTHON) + " '" SMTP_PEER_SCRIPT "' stop '" + python["peer_dir"] + "'; rm -rf '" +
                        python["peer_dir"] + "'",
                    folder);
        }
        if (!run) {
            ok = false;
            continue;
        }
        const double send = std::atof(python["send_seconds"].c_str());
        const char* how = secure ? "over STARTTLS" : "plain";
        std::printf("SendMail of a 10 MiB attachment to the peer, %s: ours %.3f s (%lld bytes of body); Python smtplib "
                    "send_message %.3f s (%s bytes), build and send %s s\n",
                    how, ours.Seconds, static_cast<long long>(ours.Sent), send, python["message_bytes"].c_str(),
                    python["build_send_seconds"].c_str());
        if (secure) {
            std::printf("STARTTLS handshake (connect, greeting, EHLO, STARTTLS, TLS, EHLO): ours %.3f s, Python %s s\n",
                        ours.Handshake, python["handshake_seconds"].c_str());
        }
        ok = ReportRatio(std::string("smtp SendMail vs Python smtplib send_message, 10 MiB attachment, ") + how,
                         ours.Seconds / send, "<=", 1.0) && ok;
    }
    RemoveFolder(WindowsPath(certs));
    RemoveFolder(WindowsPath(folder));
    return ok ? 0 : 1;
}
