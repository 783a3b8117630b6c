#pragma once

#include "CardDavRemote.h"
#include "SyncEngine.h"

#include <QString>

namespace kelvo {

// The window's Chinese words for what the sync met.

// What went wrong with the server, in Chinese, followed by the client's own
// (English) detail in brackets.
QString RemoteErrorText(const sync::RemoteError &error);
// Why a run stopped, from its status and the engine's text.
QString StoppedText(sync::RemoteStatus status, const QString &detail);
// "上传 N，下载 M，更新 K，删除 D，冲突 C", then one line per conflict,
// failure and passed-over card; a run that stopped begins with why.
QString SyncReportText(const sync::SyncReport &report);
// The SHA-256 fingerprint named in a certificate error's text ("AB:CD:..."),
// or empty.
QByteArray FingerprintOfCertificateError(const QString &text);

} // namespace kelvo
