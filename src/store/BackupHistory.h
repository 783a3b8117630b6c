#pragma once

#include "Result.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace kelvo {

// Where the current time comes from; an empty clock is the system's.
using Clock = std::function<QDateTime()>;

// One dated copy of the data file in the backup history.
struct HistoryCopy
{
    QString path;
    QDateTime time; // local time, when the copy was made (from its name)
};

// The backup history: dated copies of earlier data files in one folder
// ("BackUP/history"), named "db-YYYYMMDD-HHMMSS.kelvo" after the local time
// they were made. A save adds at most one copy per hour; of all copies the
// newest ten are kept and, for each of the last thirty days, the newest copy
// of that day; the others are removed. Files whose names are not a copy's
// are never touched.
class BackupHistory
{
public:
    static constexpr int NewestKept = 10;
    static constexpr int DaysKept = 30;
    static constexpr qint64 SpacingSeconds = 60 * 60;

    explicit BackupHistory(QString folder, Clock clock = {});

    const QString &folder() const { return m_folder; }
    QDateTime now() const;

    // The copies in the folder, newest first.
    std::vector<HistoryCopy> copies() const;

    enum class Spacing {
        AtMostHourly, // no copy while the newest one is less than an hour old (the save)
        Always,       // a copy whatever the newest one (before a file is put back)
    };
    // Copies `dataFile` (if it exists and holds data) into the history under
    // the current time, creating the folder when needed, then removes the
    // copies the rule no longer keeps. Gives the new copy's path, or an empty
    // one when no copy was due. The data file itself is only read.
    Result<QString> keep(const QString &dataFile, Spacing spacing = Spacing::AtMostHourly);
    // Removes the copies the rule does not keep at now().
    Result<> prune();

    // The rule itself: of copies made at `times` (newest first), which ones
    // are kept at `now`.
    static std::vector<bool> keptByRule(const std::vector<QDateTime> &times, const QDateTime &now);

    static QString fileNameFor(const QDateTime &time);
    // The time in a copy's file name; nothing for any other name.
    static std::optional<QDateTime> timeFromFileName(const QString &name);

private:
    QString m_folder;
    Clock m_clock;
};

} // namespace kelvo
