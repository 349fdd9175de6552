// Assembling a mail with a 10 MiB attachment (file read, Base64 encoding, header and body
// stream, header text) against Python's email package building and flattening a mail with the
// same attachment, each the best of several runs in this same process run. Ratio = our time /
// Python's. Python's send of that mail to the SMTP test peer is printed as well: it is what the
// client's SendMail (assembly and transfer) is measured against under Wine.
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "BenchUtil.h"
#include "mail/NMsmtpMail.h"

namespace {

constexpr std::size_t kBytes = 10u << 20;
constexpr int kRuns = 5;

// Runs the Python side and reads its "name value" lines.
std::map<std::string, double> RunPython(const std::string& file, const char* what)
{
    std::map<std::string, double> out;
    const std::string command = std::string(SETUP_BENCH_PYTHON) + " '" + SMTP_SEND_SCRIPT + "' --file '" + file +
                                "' --what " + what + " --runs " + std::to_string(kRuns);
    std::FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return out;
    char name[64];
    double value = 0;
    while (std::fscanf(p, "%63s %lf", name, &value) == 2) out[name] = value;
    if (pclose(p) != 0) out.clear();
    return out;
}

} // namespace

int main()
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "bench_smtp";
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "attachment.bin").string();
    {
        std::string data(kBytes, '\0');
        std::mt19937 rng(20261208);
        for (auto& b : data) b = static_cast<char>(rng());
        TFileStream out(file, fmCreate);
        out.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
    }

    TPostMessage msg;
    msg.SetFromAddress("bench@peer.test");
    msg.ToAddress().Add("sink@peer.test");
    msg.SetSubject("benchmark");
    msg.Body().Add("A mail with one attachment.");
    msg.Attachments().Add(file);
    TExStringList header;
    TMemoryStream body;
    std::string boundary;
    std::size_t size = 0;
    const double ours = BestSeconds(
        [&] {
            AssembleMail(msg, TMailFormat{}, TAttachmentEvents{}, header, body, boundary);
            size = HeaderText(header).size() + static_cast<std::size_t>(body.Size());
        },
        kRuns);

    const auto build = RunPython(file, "build");
    const auto send = RunPython(file, "send");
    std::filesystem::remove_all(dir);
    if (build.count("build_seconds") == 0 || send.count("build_send_seconds") == 0) {
        std::fprintf(stderr, "bench_smtp: the Python side (%s) did not run\n", SMTP_SEND_SCRIPT);
        return 1;
    }
    std::printf("assemble: ours %.3f s for %zu bytes; Python build and flatten %.3f s for %.0f bytes\n", ours, size,
                build.at("build_seconds"), build.at("message_bytes"));
    std::printf("python smtplib to the peer: send_message %.3f s, build and send %.3f s (SendMail's yardstick)\n",
                send.at("send_seconds"), send.at("build_send_seconds"));
    return ReportRatio("smtp_assemble_vs_python_email", ours / build.at("build_seconds"), "<=", 1.0) ? 0 : 1;
}
