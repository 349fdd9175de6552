#include "mail/NMExtstr.h"

#include <string_view>

#include "toolkit/SysUtils.h"

namespace {

// The name of a header line: the text before its first ":". Lines without one have the empty
// name; HasName tells the two apart where it matters.
std::string_view LineName(const std::string& Line, bool& HasName)
{
    const auto colon = Line.find(':');
    HasName = colon != std::string::npos;
    return HasName ? std::string_view(Line).substr(0, colon) : std::string_view();
}

} // namespace

int TExStringList::IndexOfName(const std::string& Name) const
{
    bool hasName = false;
    if (!Sorted()) {
        for (int i = 0; i < Count(); ++i) {
            const std::string_view name = LineName(Get(i), hasName);
            if (hasName && AnsiCompareText(name, Name) == 0) {
                return i;
            }
        }
        return -1;
    }
    int low = 0;
    int high = Count() - 1;
    while (low <= high) {
        const int middle = low + (high - low) / 2;
        const int c = AnsiCompareText(LineName(Get(middle), hasName), Name);
        if (c == 0) {
            return middle;
        }
        if (c < 0) {
            low = middle + 1;
        } else {
            high = middle - 1;
        }
    }
    return -1;
}

std::string TExStringList::GetValue(const std::string& Name) const
{
    const int index = IndexOfName(Name);
    if (index < 0) {
        return std::string();
    }
    // A match has a name as long as Name, so the ":" sits right after it.
    const std::string& line = Get(index);
    std::size_t start = Name.size() + 1;
    if (start < line.size() && line[start] == ' ') {
        ++start;
    }
    return start < line.size() ? line.substr(start) : std::string();
}

void TExStringList::SetValue(const std::string& Name, const std::string& Value)
{
    const int index = IndexOfName(Name);
    if (Value.empty()) {
        if (index >= 0) {
            Delete(index);
        }
        return;
    }
    const std::string line = Name + ": " + Value;
    if (index < 0) {
        Add(line);
    } else if (Sorted()) {
        Delete(index);
        Add(line);
    } else {
        Put(index, line);
    }
}
