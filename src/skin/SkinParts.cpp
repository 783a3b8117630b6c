#include "SkinParts.h"

#include "IniText.h"

#include <algorithm>

namespace kelvo {

QColor defaultSkinColour()
{
    return QColor(212, 208, 200); // the classic button face
}

QColor parseSkinColour(QByteArrayView text, const QColor &fallback)
{
    const QList<QByteArrayView> tokens = [&] {
        QList<QByteArrayView> parts;
        qsizetype i = 0;
        while (i < text.size() && parts.size() < 3) {
            while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
                ++i;
            const qsizetype start = i;
            while (i < text.size() && text[i] != ' ' && text[i] != '\t')
                ++i;
            if (i > start)
                parts.append(text.sliced(start, i - start));
        }
        return parts;
    }();
    if (tokens.isEmpty())
        return fallback;
    int rgb[3] = {0, 0, 0};
    for (qsizetype n = 0; n < tokens.size(); ++n) {
        bool ok = false;
        const qlonglong value = tokens[n].toLongLong(&ok);
        rgb[n] = ok ? int(std::clamp<qlonglong>(value, 0, 255)) : 0;
    }
    return QColor(rgb[0], rgb[1], rgb[2]);
}

qint32 squareFrameCount(const QImage &picture)
{
    const int side = picture.height() < 16 ? 13 : 16;
    return std::max(picture.width() / side, 4);
}

bool sectionNamesPicture(const IniText &ini, QByteArrayView section, QByteArrayView pictureKey)
{
    const std::optional<QByteArray> value = ini.value(section, pictureKey);
    return value && !value->isEmpty();
}

void readSkinPartFields(TDataSkinObject &part, const IniText &ini, QByteArrayView section, QByteArrayView pictureKey,
                        const SkinPictureLookup &picture)
{
    const auto margin = [&](const char *key) { return std::max(ini.readInteger(section, key, 0), 0); };
    part.LeftWidth = margin("LeftWidth");
    part.TopHeight = margin("TopHeight");
    part.RightWidth = margin("RightWidth");
    part.BottomHeight = margin("BottomHeight");
    part.Map = picture ? picture(ini.readString(section, pictureKey)) : QImage();
    part.Trans = ini.readInteger(section, "Trans", 0);
    part.Tile = ini.readInteger(section, "Tile", 0);
    part.IDName = QString::fromLatin1(section);
    part.NormalColour = ini.readInteger(section, "NormalColour", -1);
    part.MouseOverColour = ini.readInteger(section, "MouseOverColour", -1);
    part.PressedColour = ini.readInteger(section, "PressedColour", -1);
    const auto colour = [&](const char *key) {
        const std::optional<QByteArray> text = ini.value(section, key);
        return text ? parseSkinColour(*text) : defaultSkinColour();
    };
    part.NormalColour2 = colour("NormalColour2");
    part.MouseOverColour2 = colour("MouseOverColour2");
    part.PressedColour2 = colour("PressedColour2");
}

} // namespace kelvo
