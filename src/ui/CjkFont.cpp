#include "CjkFont.h"

#include <QFontDatabase>
#include <QStringList>

namespace kelvo {
namespace {

QString chooseFamily()
{
    const QStringList installed = QFontDatabase::families();
    const QStringList preferred = {
        QStringLiteral("SimSun"),           QStringLiteral("NSimSun"),      QStringLiteral("WenQuanYi Micro Hei"),
        QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans SC"), QStringLiteral("Source Han Sans SC"),
        QStringLiteral("AR PL UMing CN"),
    };
    for (const QString &family : preferred) {
        if (installed.contains(family, Qt::CaseInsensitive))
            return family;
    }
    const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    return chinese.isEmpty() ? QString() : chinese.first();
}

} // namespace

QFont CjkFont(int pixelSize)
{
    static const QString family = chooseFamily();
    QFont font;
    if (!family.isEmpty())
        font.setFamily(family);
    font.setPixelSize(pixelSize);
    return font;
}

} // namespace kelvo
