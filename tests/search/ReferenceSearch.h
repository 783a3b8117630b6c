#pragma once

// What the search must find and the order its rows must follow, stated as
// plainly as can be, for the tests and the fuzz target to hold the fast code
// against.
#include "Folding.h"
#include "Gb18030.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QCollator>
#include <QString>

#include <algorithm>
#include <vector>

namespace kelvo::test {

// Where each character of GB18030 `text` starts, and its end.
inline std::vector<qsizetype> characterStarts(QByteArrayView text)
{
    std::vector<qsizetype> starts;
    for (qsizetype pos = 0; pos < text.size(); pos += gb18030::charLength(text, pos))
        starts.push_back(pos);
    starts.push_back(text.size());
    return starts;
}

// The definition: the folded condition occurs in the folded value, from a
// character start to a character start.
inline bool plainContains(QByteArrayView value, QByteArrayView condition)
{
    const QByteArray folded = FoldText(value);
    const std::vector<qsizetype> starts = characterStarts(folded);
    for (qsizetype start : starts) {
        const qsizetype end = start + condition.size();
        if (end > folded.size())
            break;
        if (QByteArrayView(folded).sliced(start, condition.size()) == condition
            && std::find(starts.begin(), starts.end(), end) != starts.end())
            return true;
    }
    return false;
}

// The order of two names in the result list: an empty name first, the
// others as `collator` (case-sensitive) orders them.
inline int nameOrder(const QCollator &collator, const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return a.isEmpty() ? (b.isEmpty() ? 0 : -1) : 1;
    return collator.compare(a, b);
}

} // namespace kelvo::test
