#include "update/update_paths.h"

#include "rules/folders.h"

namespace update {

UpdatePaths MakeUpdatePaths(const settings::Offer& offer)
{
    UpdatePaths p;
    p.packageName = offer.packageName;
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = offer.exePath.find(L'\\', start);
        parts.push_back(offer.exePath.substr(start, end - start));
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    if (parts.size() < 2) return p;
    p.wizardName = parts.back();
    parts.pop_back();
    p.wizardFolders = parts;
    return p;
}

bool IsComplete(const UpdatePaths& paths)
{
    if (paths.packageName.empty() || paths.wizardName.empty() || paths.wizardFolders.empty())
        return false;
    for (const std::wstring& name : paths.wizardFolders)
        if (name.empty()) return false;
    return true;
}

std::wstring JoinPaths(const std::wstring& folder, const std::vector<std::wstring>& names)
{
    std::wstring path = folder;
    for (const std::wstring& name : names) path = rules::JoinPath(path, name);
    return path;
}

std::wstring PackageCommandLine(const std::wstring& package)
{
    return rules::QuoteArgument(package);
}

std::wstring NewWizardCommandLine(const std::wstring& wizard, const std::wstring& appDir)
{
    return rules::QuoteArgument(wizard) + L" " + rules::PathArgument(appDir);
}

}  // namespace update
