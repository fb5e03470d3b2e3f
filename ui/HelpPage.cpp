#include "HelpPage.h"

#include "MessageBox.h"

#include "platform/desktop/Desktop.h"
#include "player/Messages.h"

#include <filesystem>

namespace {

const char kHelpPage[] = "help.html";
const char kExecutableName[] = "/VelofonPocket";

} // namespace

std::string HelpPagePath(const std::string& strExecutable)
{
    // Only the file name is looked for, at the end of the path: the folder
    // may carry the same name.
    const size_t nNameLength = sizeof kExecutableName - 1;
    std::string strPath = kHelpPage;
    if (strExecutable.size() >= nNameLength &&
        strExecutable.compare(strExecutable.size() - nNameLength, nNameLength, kExecutableName) == 0)
        strPath = strExecutable.substr(0, strExecutable.size() - nNameLength) + "/" + kHelpPage;
    for (size_t nAt = strPath.find("//"); nAt != std::string::npos; nAt = strPath.find("//", nAt))
        strPath.erase(nAt, 1);
    return strPath;
}

void OpenHelpPage(Fl_Window* pOwner)
{
    const std::string strPath = HelpPagePath(GetModuleFileName());
    std::error_code error;
    if (!std::filesystem::is_regular_file(strPath, error))
        ShowMessage(pOwner, HelpMissingMessage(strPath));
    else if (!ShellOpen(strPath))
        ShowMessage(pOwner, HelpNotOpenedMessage(strPath));
}
