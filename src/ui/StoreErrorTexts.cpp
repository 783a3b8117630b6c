#include "StoreErrorTexts.h"

#include "DataFile.h"
#include "Result.h"

#include <QDir>

namespace kelvo {

namespace {

// The phrase for what failed, with %1 for the path.
QString phraseFor(ErrorCode code)
{
    switch (code) {
    case ErrorCode::None:
        return QString();
    case ErrorCode::FolderNotCreated:
        return QStringLiteral("无法创建文件夹 %1");
    case ErrorCode::ReadFailed:
        return QStringLiteral("无法读取 %1");
    case ErrorCode::WriteFailed:
        return QStringLiteral("无法写入 %1");
    case ErrorCode::ReplaceFailed:
        return QStringLiteral("无法替换 %1");
    case ErrorCode::RemoveFailed:
        return QStringLiteral("无法删除 %1");
    case ErrorCode::NotFound:
        return QStringLiteral("找不到 %1");
    case ErrorCode::TreeChanged:
        return QStringLiteral("保存期间名片树发生了变化，%1 没有改动");
    case ErrorCode::DataDamaged:
        return QStringLiteral("%1 已经损坏");
    case ErrorCode::MoveAsideFailed:
        return QStringLiteral("无法移开已损坏的 %1");
    case ErrorCode::InUse:
        return QStringLiteral("Kelvo 正在使用 %1");
    }
    return QStringLiteral("%1 出错");
}

// Whether an error's text is the system's own words (worth showing), rather
// than the store's English description of its own finding.
bool textIsTheSystems(ErrorCode code)
{
    return code != ErrorCode::TreeChanged && code != ErrorCode::DataDamaged && code != ErrorCode::InUse;
}

} // namespace

QString describeForUser(const Error &error)
{
    QString text = phraseFor(error.code).arg(QDir::toNativeSeparators(error.path));
    if (textIsTheSystems(error.code) && !error.text.isEmpty())
        text += QStringLiteral("：") + error.text;
    return text;
}

QString saveFailureText(const Error &error)
{
    return QStringLiteral("数据没有保存成功，修改仍未写入数据文件：\n%1").arg(describeForUser(error));
}

QString backupFailureText(const SaveResult &result)
{
    QStringList lines;
    if (!result.backup.ok())
        lines << QStringLiteral("备份文件没有保存成功：\n%1").arg(describeForUser(result.backup.error()));
    if (!result.history.ok())
        lines << QStringLiteral("备份历史没有保存成功：\n%1").arg(describeForUser(result.history.error()));
    if (lines.isEmpty())
        return QString();
    if (result.ok())
        lines << QStringLiteral("数据文件已经保存。");
    return lines.join(QLatin1Char('\n'));
}

} // namespace kelvo
