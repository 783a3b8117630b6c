#include "FieldList.h"

#include <QString>

namespace kelvo {

std::optional<FieldSelection> ParseFieldList(QStringView list)
{
    const QStringView text = list.trimmed();
    if (text.compare(u"all", Qt::CaseInsensitive) == 0) {
        FieldSelection all;
        all.fill(true);
        return all;
    }
    FieldSelection fields{};
    bool any = false;
    for (QStringView item : text.split(u',')) {
        bool ok = false;
        const int n = item.trimmed().toInt(&ok);
        if (!ok || n < 1 || n > 13)
            return std::nullopt;
        fields[static_cast<size_t>(n - 1)] = true;
        any = true;
    }
    if (!any)
        return std::nullopt;
    return fields;
}

} // namespace kelvo
