#include "payload/FilesInUse.h"

namespace {
const char* const SFilesInUse = "次のファイルが他のプログラムで使用されています";
const char* const SProgramsInUse = "使用しているプログラム：";
const char* const SCloseAndRetry = "プログラムを終了してから再試行してください";

// The first FilesInUseNamed names, each after Separator, then "ほか N 個" for the rest.
std::string NamedThenCounted(const std::vector<std::string>& Names, const char* Separator, const char* Rest)
{
    std::string text;
    for (std::size_t i = 0; i < Names.size() && i < FilesInUseNamed; ++i) {
        if (i > 0) text += Separator;
        text += Names[i];
    }
    if (Names.size() > FilesInUseNamed) {
        text += std::string(Separator) + "ほか " + std::to_string(Names.size() - FilesInUseNamed) + " 個" + Rest;
    }
    return text;
}
} // namespace

std::string FilesInUseMessage(const std::vector<std::string>& Files, const std::vector<std::string>& Programs)
{
    std::string text = std::string(SFilesInUse) + "\n" + NamedThenCounted(Files, "\n", "のファイル") + "\n\n";
    if (!Programs.empty()) {
        text += std::string(SProgramsInUse) + NamedThenCounted(Programs, "、", "") + "\n\n";
    }
    return text + SCloseAndRetry;
}
