#include "Dialogs.h"
#include "PasswordPrompt.h"

#include <QInputDialog>
#include <QLineEdit>

namespace kelvo {

std::optional<QString> QtPasswordPrompt::askPassword(QWidget *owner, const QString &text)
{
    QInputDialog box(owner);
    box.setObjectName(QStringLiteral("dlgSyncPassword"));
    box.setWindowTitle(applicationTitle());
    box.setLabelText(text);
    box.setTextEchoMode(QLineEdit::Password);
    box.setOkButtonText(QStringLiteral("确定"));
    box.setCancelButtonText(QStringLiteral("取消"));
    box.setAccessibleName(QStringLiteral("输入密码"));
    if (QLineEdit *edit = box.findChild<QLineEdit *>())
        edit->setAccessibleName(QStringLiteral("密码"));
    if (box.exec() != QDialog::Accepted)
        return std::nullopt;
    return box.textValue();
}

} // namespace kelvo
