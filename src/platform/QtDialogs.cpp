#include "QtDialogs.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLocale>
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

// The boxes' buttons read 是, 否 and 确定 whatever translation of Qt's own
// texts is installed (Qt's catalogue adds a Latin mnemonic, "是(&Y)").
void setChineseButtonTexts(QMessageBox &box)
{
    const struct
    {
        QMessageBox::StandardButton button;
        const char16_t *text;
    } texts[] = {{QMessageBox::Yes, u"是"}, {QMessageBox::No, u"否"}, {QMessageBox::Ok, u"确定"}};
    for (const auto &entry : texts) {
        if (QAbstractButton *button = box.button(entry.button))
            button->setText(QString::fromUtf16(entry.text));
    }
}

int runBox(QWidget *owner, QMessageBox::Icon icon, const QString &caption, const QString &text,
           QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, caption, forDisplay(text), buttons, owner);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultButton);
    setChineseButtonTexts(box);
    return box.exec();
}

// The desktop's type names, sizes and dates in the file list follow the
// user's locale; outside a Chinese one the dialog's file list names types by
// their suffix and shows sizes and dates the Chinese way.
bool userLocaleIsChinese()
{
    return QLocale().language() == QLocale::Chinese;
}

class ChineseFileIconProvider final : public QFileIconProvider
{
public:
    QString type(const QFileInfo &info) const override
    {
        if (userLocaleIsChinese())
            return QFileIconProvider::type(info);
        if (info.isDir())
            return QStringLiteral("文件夹");
        const QString suffix = info.suffix();
        if (suffix.isEmpty())
            return QStringLiteral("文件");
        return QStringLiteral("%1 文件").arg(suffix.toUpper());
    }
};

class ChineseFileListModel final : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex &index, int role) const override
    {
        const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel());
        if (role != Qt::DisplayRole || !files || userLocaleIsChinese())
            return QIdentityProxyModel::data(index, role);
        const QModelIndex source = mapToSource(index);
        const QLocale chinese(QLocale::Chinese, QLocale::China);
        switch (index.column()) {
        case SizeColumn:
            return files->isDir(source) ? QVariant(QString())
                                        : QVariant(chinese.formattedDataSize(files->size(source)));
        case DateColumn:
            return chinese.toString(files->lastModified(source), QLocale::ShortFormat);
        default:
            return QIdentityProxyModel::data(index, role);
        }
    }

private:
    // QFileSystemModel's columns: name, size, type, date modified.
    static constexpr int SizeColumn = 1;
    static constexpr int DateColumn = 3;
};

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
    ChineseFileIconProvider iconProvider; // outlives the dialog that uses it
    QFileDialog dialog(owner, title, QString(), filter);
    // Qt's own dialog, not the desktop's: the desktop's follows the user's
    // language, and every text the user sees here is Chinese.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setIconProvider(&iconProvider);
    dialog.setProxyModel(new ChineseFileListModel(&dialog));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("查找范围："));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("文件名："));
    dialog.setLabelText(QFileDialog::FileType, QStringLiteral("文件类型："));
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("保存"));
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("取消"));
    dialog.setDefaultSuffix(defaultSuffix);
    if (!initialName.isEmpty())
        dialog.selectFile(initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

QStringList QtDialogs::askOpenFileNames(QWidget *owner, const QString &title, const QString &filter)
{
    ChineseFileIconProvider iconProvider; // outlives the dialog that uses it
    QFileDialog dialog(owner, title, QString(), filter);
    dialog.setOption(QFileDialog::DontUseNativeDialog); // Chinese, as the save dialog
    dialog.setIconProvider(&iconProvider);
    dialog.setProxyModel(new ChineseFileListModel(&dialog));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("查找范围："));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("文件名："));
    dialog.setLabelText(QFileDialog::FileType, QStringLiteral("文件类型："));
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("打开"));
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("取消"));
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

} // namespace kelvo
