#pragma once

#include "Dialogs.h"

namespace kelvo {

// Dialogs shown with QMessageBox and QFileDialog.
class QtDialogs final : public Dialogs
{
public:
    void notice(QWidget *owner, const QString &text) override;
    bool question(QWidget *owner, const QString &text, const QString &caption) override;
    void message(QWidget *owner, const QString &text, const QString &caption) override;
    void error(QWidget *owner, const QString &text) override;
    std::optional<QString> saveFileName(QWidget *owner, const QString &title, const QString &filter,
                                        const QString &defaultSuffix, const QString &initialName) override;
    QStringList askOpenFileNames(QWidget *owner, const QString &title, const QString &filter) override;
};

} // namespace kelvo
