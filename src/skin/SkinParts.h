#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QColor>
#include <QImage>
#include <QString>

#include <functional>
#include <memory>

namespace kelvo {

class IniText;

// One skinned element: a picture holding FrameCount equal frames (one per
// drawing state), the widths of its fixed borders, flags and colours.
struct TDataSkinObject
{
    virtual ~TDataSkinObject() = default;

    qint32 LeftWidth = 0;
    qint32 TopHeight = 0;
    qint32 RightWidth = 0;
    qint32 BottomHeight = 0;
    QImage Map; // the picture; null when the archive lacks it
    qint32 Trans = 0;
    qint32 Tile = 0;
    QString IDName; // the description section the part was read from
    qint32 FrameCount = 1;
    qint32 NormalColour = -1;
    qint32 MouseOverColour = -1;
    qint32 PressedColour = -1;
    QColor NormalColour2;
    QColor MouseOverColour2;
    QColor PressedColour2;
};

// The tabs part: a second picture for the tab border.
struct TDataSkinBorder : TDataSkinObject
{
    QImage Map2;
};

// The push buttons part, with the check box and radio button pictures.
struct TDataSkinButton : TDataSkinObject
{
    QImage CheckMap;
    QImage RadioMap;
    qint32 CheckFrameCount = 0;
    qint32 RadioFrameCount = 0;
};

// The colour the three colour-text fields take when their keys are absent.
QColor defaultSkinColour();

// Colour text "R G B": three decimal numbers separated by blanks. Any other
// shape reads the first three blank-separated numbers, each clamped to
// 0..255; a number that is missing or not a number counts as 0. Empty text
// gives `fallback`.
QColor parseSkinColour(QByteArrayView text, const QColor &fallback = defaultSkinColour());

// The frame count of a check box or radio button picture without a stored
// one: its square frames (width / 13 when the height is below 16, else
// width / 16), never fewer than 4.
qint32 squareFrameCount(const QImage &picture);

// Finds a picture for a description value (see TSkinData::picture).
using SkinPictureLookup = std::function<QImage(QByteArrayView value)>;

// Reads the fields of a part from `section` with the general rule: the part
// exists only when the section names a picture under `pictureKey` (a key
// with an empty value names none). Margins
// below 0 read as 0. FrameCount is left for the caller (see the parts table).
template<typename Part = TDataSkinObject>
std::unique_ptr<Part> readSkinPart(const IniText &ini, QByteArrayView section, QByteArrayView pictureKey,
                                   const SkinPictureLookup &picture);

// Fills the common fields of `part` from `section` (the picture under `pictureKey`).
void readSkinPartFields(TDataSkinObject &part, const IniText &ini, QByteArrayView section, QByteArrayView pictureKey,
                        const SkinPictureLookup &picture);

bool sectionNamesPicture(const IniText &ini, QByteArrayView section, QByteArrayView pictureKey);

template<typename Part>
std::unique_ptr<Part> readSkinPart(const IniText &ini, QByteArrayView section, QByteArrayView pictureKey,
                                   const SkinPictureLookup &picture)
{
    if (!sectionNamesPicture(ini, section, pictureKey))
        return nullptr;
    auto part = std::make_unique<Part>();
    readSkinPartFields(*part, ini, section, pictureKey, picture);
    return part;
}

} // namespace kelvo
