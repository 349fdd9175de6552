// The SMTP peer (tests/peers/smtp_peer.py, the smtp_peer fixture) as the Win32 mail tests talk
// to it: its control connection, listeners with scripted replies, transcripts matched line by
// line and the mails it recorded checked by Python's email package.
#pragma once

#include <gtest/gtest.h>

#include "toolkit/win/Win.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "net/win/Psock.h"

// The peer's control connection: a request is a line; a response is a line ("OK ..." or
// "ERR ..."), and TRANSCRIPT's "OK n" is followed by its n lines.
class TPeerControl : public TPowersock {
public:
    TPeerControl() : TPowersock(nullptr)
    {
        const char* dir = std::getenv("SMTP_PEER_DIR");
        Folder = std::string("Z:") + (dir ? dir : "?");
        std::replace(Folder.begin(), Folder.end(), '/', '\\');
        std::ifstream ports(Folder + "\\peer.ports"); // "smtp P", "control P", ...
        std::string key;
        int port = 0;
        while (ports >> key >> port && key != "control") {
        }
        SetHost("127.0.0.1");
        SetPort(port);
        try {
            Connect();
        } catch (const Exception&) { // Connected() stays false
        }
    }
    std::vector<std::string> Request(const std::string& Line)
    {
        std::vector<std::string> lines{Transaction(Line)};
        for (int n = Line.rfind("TRANSCRIPT", 0) == 0 ? std::atoi(lines[0].c_str() + 3) : 0; n > 0; --n) lines.push_back(ReadLn());
        for (auto& l : lines) l = l.substr(0, l.find('\n'));
        return lines;
    }
    // A listener answering as Rules (a JSON list) say, with the script's other settings in
    // Settings (JSON members: "tls", "auth" ...): its id and port, or -1 and 0.
    std::pair<int, int> Listen(const std::string& Rules, const std::string& Settings = "")
    {
        std::string rules = Rules;
        rules.erase(std::remove(rules.begin(), rules.end(), '\n'), rules.end());
        const auto reply = Request("LISTEN {\"rules\":" + rules + (Settings.empty() ? "" : "," + Settings) + "}");
        int id = -1, port = 0;
        EXPECT_EQ(std::sscanf(reply[0].c_str(), "OK %d %d", &id, &port), 2) << reply[0];
        return {id, port};
    }
    std::string Folder;
};

inline TPeerControl& Peer()
{
    static auto* peer = new TPeerControl; // kept to the process's end
    return *peer;
}

// A JSON string of the bytes of S (ASCII text; other bytes are handed over as "hex:" texts).
inline std::string Json(const std::string& S)
{
    std::string out = "\"";
    for (char c : S) out += c == '\\' ? "\\\\" : c == '"' ? "\\\"" : c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
    return out + "\"";
}

// "hex:" and the bytes of S in hex: how the checker takes Shift_JIS texts exactly.
inline std::string Hex(const std::string& S)
{
    std::string out = "hex:";
    char digits[3];
    for (unsigned char c : S) {
        std::snprintf(digits, sizeof digits, "%02x", c);
        out += digits;
    }
    return out;
}

inline bool Glob(const char* Pattern, const char* Text)
{
    if (*Pattern == '*') return Glob(Pattern + 1, Text) || (*Text != 0 && Glob(Pattern, Text + 1));
    return *Pattern == *Text && (*Text == 0 || Glob(Pattern + 1, Text + 1));
}

// The parts with "|" between them; empty parts add nothing.
inline std::string Joined(const std::vector<std::string>& Parts)
{
    std::string out;
    for (const auto& p : Parts) out += (out.empty() || p.empty() ? "" : "|") + p;
    return out;
}

// The listener's sessions, "|" between lines, match Want (a "*" in a line matches any text).
// No session at all is "" (the peer is given a second for one to come).
inline ::testing::AssertionResult TranscriptIs(int Id, const std::string& Want)
{
    const auto got = Peer().Request("TRANSCRIPT " + std::to_string(Id) + (Want.empty() ? " 1" : ""));
    if (got[0].rfind("OK", 0) != 0) return ::testing::AssertionFailure() << got[0];
    std::vector<std::string> want;
    for (std::size_t at = 0, end = 0; !Want.empty() && end != std::string::npos; at = end + 1) {
        end = Want.find('|', at);
        want.push_back(Want.substr(at, end - at));
    }
    bool same = got.size() == want.size() + 1;
    for (std::size_t i = 0; same && i < want.size(); ++i) same = Glob(want[i].c_str(), got[i + 1].c_str());
    if (same) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "transcript:\n  " << Joined({got.begin() + 1, got.end()}) << "\nwanted:\n  " << Want;
}

// The TLS peer (tests/peers/tls_peer.py, the tls_peer fixture): a file of its folder
// (TLS_PEER_DIR), the port of one of its listeners, and STATS of one: "OK ... <commands>".
inline std::string TlsPeerFile(const std::string& Name)
{
    const char* dir = std::getenv("TLS_PEER_DIR");
    std::string path = std::string("Z:") + (dir ? dir : "?") + "/" + Name;
    std::replace(path.begin(), path.end(), '/', '\\');
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline int TlsPeerPort(const std::string& Listener)
{
    const std::string ports = "\n" + TlsPeerFile("peer.ports");
    const std::size_t at = ports.find("\n" + Listener + " ");
    EXPECT_NE(at, std::string::npos) << "no TLS peer listener " << Listener;
    return at == std::string::npos ? 0 : std::atoi(ports.c_str() + at + Listener.size() + 2);
}

inline std::string TlsPeerStats(const std::string& Listener)
{
    TPowersock control(nullptr);
    control.SetHost("127.0.0.1");
    control.SetPort(TlsPeerPort("control"));
    control.SetTimeOut(15000);
    control.Connect();
    std::string line = control.Transaction("STATS " + Listener);
    control.Disconnect();
    return line.substr(0, line.find('\n'));
}
