#include "CaptureProcess.h"

#include "CaptureJson.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStandardPaths>

namespace kelvo::capture {

namespace {

// An answer line is a few kilobytes; a helper that writes more without a line
// break is not answering.
constexpr qsizetype MaxAnswerBytes = 4 * 1024 * 1024;

} // namespace

CaptureProcess::CaptureProcess(const QString &toolPath, QObject *parent)
    : QObject(parent)
    , m_toolPath(toolPath.isEmpty() ? defaultToolPath() : toolPath)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { end(QStringLiteral("the reader took too long and was stopped")); });
}

CaptureProcess::~CaptureProcess()
{
    cancel();
}

QString CaptureProcess::defaultToolPath()
{
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString &candidate : {dir + QStringLiteral("/kelvo-tool"), dir + QStringLiteral("/../tool/kelvo-tool")})
        if (QFileInfo(candidate).isExecutable())
            return QDir::cleanPath(candidate);
    const QString inPath = QStandardPaths::findExecutable(QStringLiteral("kelvo-tool"));
    return inPath.isEmpty() ? dir + QStringLiteral("/kelvo-tool") : inPath;
}

void CaptureProcess::setTimeoutPerPicture(int milliseconds)
{
    m_timeout = std::max(1, milliseconds);
}

bool CaptureProcess::isRunning() const
{
    return m_process != nullptr;
}

bool CaptureProcess::start(const QStringList &pictures, const OcrOptions &options)
{
    if (m_process || pictures.isEmpty())
        return false;
    QStringList args{QStringLiteral("scan"), QStringLiteral("--dry-run"), QStringLiteral("--json"),
                     QStringLiteral("--lines")};
    if (options.layout == OcrOptions::Layout::Vertical)
        args << QStringLiteral("--vertical");
    else if (options.layout == OcrOptions::Layout::Horizontal)
        args << QStringLiteral("--horizontal");
    if (options.rotation != 0 || !options.detectOrientation)
        args << QStringLiteral("--rotate") << QString::number(((options.rotation % 360) + 360) % 360);
    // A dry run opens no data file; the name only fills its place.
    args << QProcess::nullDevice() << QStringLiteral("--");
    args += pictures;

    m_pending = pictures;
    m_buffer.clear();
    m_process = new QProcess(this);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("OMP_THREAD_LIMIT"), QStringLiteral("1"));
    m_process->setProcessEnvironment(environment);
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->setStandardErrorFile(QProcess::nullDevice());
    m_process->setStandardInputFile(QProcess::nullDevice());
    connect(m_process, &QProcess::readyReadStandardOutput, this, &CaptureProcess::readAnswers);
    connect(m_process, &QProcess::finished, this, &CaptureProcess::helperFinished);
    connect(m_process, &QProcess::errorOccurred, this, &CaptureProcess::helperFailed);
    m_timer.start(m_timeout);
    m_process->start(m_toolPath, args);
    return true;
}

void CaptureProcess::cancel()
{
    m_timer.stop();
    if (!m_process)
        return;
    QProcess *process = m_process;
    m_process = nullptr;
    process->disconnect(this);
    process->kill();
    process->waitForFinished(5000);
    process->deleteLater();
    m_pending.clear();
}

void CaptureProcess::readAnswers()
{
    if (!m_process)
        return;
    m_buffer += m_process->readAllStandardOutput();
    qsizetype newline;
    while (m_process && (newline = m_buffer.indexOf('\n')) >= 0) {
        const QByteArray line = m_buffer.left(newline);
        m_buffer.remove(0, newline + 1);
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (object.isEmpty() || m_pending.isEmpty())
            continue;
        const QString picture = m_pending.takeFirst();
        CaptureResult result = captureFromJson(object);
        emit cardRead(picture, result);
        m_timer.start(m_timeout);
    }
    if (m_process && m_buffer.size() > MaxAnswerBytes)
        end(QStringLiteral("the reader's answer is malformed"));
}

void CaptureProcess::helperFinished(int, QProcess::ExitStatus status)
{
    if (!m_process)
        return;
    readAnswers();
    if (!m_process)
        return;
    if (m_pending.isEmpty())
        end(QString());
    else
        end(status == QProcess::CrashExit ? QStringLiteral("the reader stopped unexpectedly")
                                          : QStringLiteral("the reader ended without reading every picture"));
}

void CaptureProcess::helperFailed(QProcess::ProcessError error)
{
    if (error == QProcess::FailedToStart)
        end(QStringLiteral("the reader (%1) cannot be started").arg(m_toolPath));
}

void CaptureProcess::end(const QString &error)
{
    const QStringList unanswered = m_pending;
    cancel();
    for (const QString &picture : unanswered) {
        CaptureResult result;
        result.error = error;
        emit cardRead(picture, result);
    }
    emit finished(error);
}

} // namespace kelvo::capture
