#include "common/Library.h"

TLibrary* Library = nullptr;

bool TLibrary::ReplaceFirst(std::string& Text, const std::string& Target, const std::string& Replacement)
{
    if (Target.empty() || Text.empty()) {
        return false;
    }
    const std::size_t position = Text.find(Target);
    if (position == std::string::npos) {
        return false;
    }
    Text.replace(position, Target.size(), Replacement);
    return true;
}
