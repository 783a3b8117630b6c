#include "QtDialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace kelvo {

QString applicationTitle()
{
    return QStringLiteral("Kelvo");
}

namespace {

// Texts carry CR LF line breaks; a message box wants plain line feeds.
QString forDisplay(const QString &text)
{
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return shown;
}

int runBox(QWidget *owner, QMessageBox::Icon icon, const QString &caption, const QString &text,
           QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, caption, forDisplay(text), buttons, owner);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultButton);
    return box.exec();
}

} // namespace

void QtDialogs::notice(QWidget *owner, const QString &text)
{
    runBox(owner, QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok, QMessageBox::Ok);
}

bool QtDialogs::question(QWidget *owner, const QString &text, const QString &caption)
{
    return runBox(owner, QMessageBox::NoIcon, caption, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes)
        == QMessageBox::Yes;
}

void QtDialogs::message(QWidget *owner, const QString &text, const QString &caption)
{
    runBox(owner, QMessageBox::NoIcon, caption, text, QMessageBox::Ok, QMessageBox::Ok);
}

void QtDialogs::error(QWidget *owner, const QString &text)
{
    runBox(owner, QMessageBox::Warning, applicationTitle(), text, QMessageBox::Ok, QMessageBox::Ok);
}

std::optional<QString> QtDialogs::saveFileName(QWidget *owner, const QString &title, const QString &filter,
                                               const QString &defaultSuffix, const QString &initialName)
{
    QFileDialog dialog(owner, title, QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(defaultSuffix);
    if (!initialName.isEmpty())
        dialog.selectFile(initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

} // namespace kelvo
