#include "BackupHistory.h"

#include "FileHelpers.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <set>
#include <system_error>

namespace kelvo {

namespace {

const QString TimeFormat = QStringLiteral("yyyyMMdd-HHmmss");

// "db-20261208-153012.kelvo", or with "-2", "-3", ... for a second copy made
// within the same second.
const QRegularExpression &copyNamePattern()
{
    static const QRegularExpression pattern(QStringLiteral("^db-(\\d{8}-\\d{6})(?:-(\\d{1,4}))?\\.kelvo$"));
    return pattern;
}

struct NamedCopy
{
    HistoryCopy copy;
    int sequence = 1;
};

} // namespace

BackupHistory::BackupHistory(QString folder, Clock clock)
    : m_folder(QDir::fromNativeSeparators(folder))
    , m_clock(std::move(clock))
{
}

QDateTime BackupHistory::now() const
{
    return (m_clock ? m_clock() : QDateTime::currentDateTime()).toLocalTime();
}

QString BackupHistory::fileNameFor(const QDateTime &time)
{
    return QStringLiteral("db-%1.kelvo").arg(time.toLocalTime().toString(TimeFormat));
}

std::optional<QDateTime> BackupHistory::timeFromFileName(const QString &name)
{
    const QRegularExpressionMatch match = copyNamePattern().match(name);
    if (!match.hasMatch())
        return std::nullopt;
    const QDateTime time = QDateTime::fromString(match.captured(1), TimeFormat);
    if (!time.isValid())
        return std::nullopt;
    return time;
}

std::vector<HistoryCopy> BackupHistory::copies() const
{
    std::vector<NamedCopy> found;
    const QDir dir(m_folder);
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names) {
        const std::optional<QDateTime> time = timeFromFileName(name);
        if (!time)
            continue;
        const QRegularExpressionMatch match = copyNamePattern().match(name);
        const int sequence = match.captured(2).isEmpty() ? 1 : match.captured(2).toInt();
        found.push_back({HistoryCopy{dir.filePath(name), *time}, sequence});
    }
    std::sort(found.begin(), found.end(), [](const NamedCopy &a, const NamedCopy &b) {
        if (a.copy.time != b.copy.time)
            return a.copy.time > b.copy.time;
        return a.sequence > b.sequence;
    });
    std::vector<HistoryCopy> result;
    result.reserve(found.size());
    for (NamedCopy &named : found)
        result.push_back(std::move(named.copy));
    return result;
}

std::vector<bool> BackupHistory::keptByRule(const std::vector<QDateTime> &times, const QDateTime &now)
{
    std::vector<bool> kept(times.size(), false);
    const QDate today = now.toLocalTime().date();
    const QDate firstDay = today.addDays(-(DaysKept - 1));
    std::set<qint64> daysSeen;
    for (size_t i = 0; i < times.size(); ++i) {
        if (i < size_t(NewestKept))
            kept[i] = true;
        const QDate day = times[i].toLocalTime().date();
        if (day >= firstDay && day <= today && daysSeen.insert(day.toJulianDay()).second)
            kept[i] = true; // the newest copy of that day
    }
    return kept;
}

Result<> BackupHistory::prune()
{
    const std::vector<HistoryCopy> all = copies();
    std::vector<QDateTime> times;
    times.reserve(all.size());
    for (const HistoryCopy &copy : all)
        times.push_back(copy.time);
    const std::vector<bool> kept = keptByRule(times, now());
    Result<> outcome;
    for (size_t i = 0; i < all.size(); ++i) {
        if (kept[i])
            continue;
        QFile file(all[i].path);
        if (!file.remove() && outcome.ok())
            outcome = Error{ErrorCode::RemoveFailed, all[i].path, file.errorString()};
    }
    return outcome;
}

Result<QString> BackupHistory::keep(const QString &dataFile, Spacing spacing)
{
    const QFileInfo data(dataFile);
    if (!data.exists() || data.size() == 0)
        return QString(); // nothing worth keeping

    const QDateTime time = now();
    const std::vector<HistoryCopy> existing = copies();
    if (spacing == Spacing::AtMostHourly && !existing.empty()) {
        const qint64 age = existing.front().time.secsTo(time);
        // A copy from the future (the clock was put back) never blocks new ones.
        if (age >= 0 && age < SpacingSeconds) {
            if (Result<> pruned = prune(); !pruned)
                return pruned.error();
            return QString();
        }
    }

    QString name = fileNameFor(time);
    const QDir dir(m_folder);
    for (int sequence = 2; QFileInfo::exists(dir.filePath(name)); ++sequence) {
        if (sequence > 9999)
            return Error{ErrorCode::WriteFailed, dir.filePath(name),
                         QString::fromLocal8Bit(std::generic_category().message(int(std::errc::file_exists)).c_str())};
        name = QStringLiteral("db-%1-%2.kelvo").arg(time.toString(TimeFormat)).arg(sequence);
    }
    const QString path = dir.filePath(name);
    if (Result<> copied = fileio::copyFileReplacing(dataFile, path); !copied)
        return copied.error();
    if (Result<> pruned = prune(); !pruned)
        return pruned.error();
    return path;
}

} // namespace kelvo
