#pragma once

#include "Shell.h"

namespace kelvo {

// Opens links and files with QDesktopServices.
class QtShell final : public Shell
{
public:
    void openLink(const QString &link) override;
    void openFile(const QString &path) override;
};

} // namespace kelvo
