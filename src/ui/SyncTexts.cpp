#include "SyncTexts.h"

#include <QRegularExpression>

namespace kelvo {

namespace {

QString statusLead(sync::RemoteStatus status)
{
    using sync::RemoteStatus;
    switch (status) {
    case RemoteStatus::Ok:
        return {};
    case RemoteStatus::PreconditionFailed:
        return QStringLiteral("服务器上的名片在同步时被另一台设备改动了");
    case RemoteStatus::TooLarge:
        return QStringLiteral("服务器拒绝了过大的名片");
    case RemoteStatus::NotFound:
        return QStringLiteral("服务器上找不到这个地址或通讯录");
    case RemoteStatus::AuthFailed:
        return QStringLiteral("用户名或密码不对，服务器拒绝登录");
    case RemoteStatus::Network:
        return QStringLiteral("连接不上服务器（网络断开、地址不对或服务器没有运行）");
    case RemoteStatus::Certificate:
        return QStringLiteral("服务器的证书不可信");
    case RemoteStatus::Insecure:
        return QStringLiteral("不加密的 http 连接没有得到允许");
    case RemoteStatus::Busy:
        return QStringLiteral("服务器正忙，请稍后再试");
    case RemoteStatus::Server:
        return QStringLiteral("服务器出错");
    case RemoteStatus::Protocol:
        return QStringLiteral("服务器的回答无法理解（它可能不是 CardDAV 服务器）");
    }
    return QStringLiteral("同步出错");
}

} // namespace

QString RemoteErrorText(const sync::RemoteError &error)
{
    QString text = statusLead(error.status);
    if (text.isEmpty())
        text = QStringLiteral("同步出错");
    if (!error.text.isEmpty())
        text += QStringLiteral("（%1）").arg(error.text);
    return text;
}

QString StoppedText(sync::RemoteStatus status, const QString &detail)
{
    QString lead = statusLead(status);
    if (lead.isEmpty())
        return detail;
    return detail.isEmpty() ? lead : QStringLiteral("%1（%2）").arg(lead, detail);
}

QString SyncReportText(const sync::SyncReport &report)
{
    QStringList lines;
    if (!report.ok())
        lines.append(QStringLiteral("同步中止：%1").arg(StoppedText(report.stopStatus, report.stopped)));
    lines.append(QStringLiteral("上传 %1，下载 %2，更新 %3，删除 %4，冲突 %5")
                     .arg(report.uploaded)
                     .arg(report.downloaded)
                     .arg(report.updated)
                     .arg(report.deleted)
                     .arg(report.conflicts));
    for (const QString &line : report.conflictLines)
        lines.append(QStringLiteral("冲突：%1").arg(line));
    for (const QString &line : report.failureLines)
        lines.append(QStringLiteral("失败：%1").arg(line));
    for (const QString &line : report.skippedLines)
        lines.append(QStringLiteral("跳过：%1").arg(line));
    return lines.join(QLatin1Char('\n'));
}

QByteArray FingerprintOfCertificateError(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("SHA-256 fingerprint ((?:[0-9A-Fa-f]{2}:?){32})"));
    const QRegularExpressionMatch match = pattern.match(text);
    return match.hasMatch() ? match.captured(1).toLatin1() : QByteArray();
}

} // namespace kelvo
