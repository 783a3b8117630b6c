#pragma once

// What reading one picture of a business card gives: the thirteen fields (in
// the field order of TCardData, index 0 is field 1, the name), each with the
// confidence and the box of the recognised line it came from, and all
// recognised lines for a window that lets the user pick a text from the
// picture.

#include <QList>
#include <QRect>
#include <QString>

#include <array>

namespace kelvo::capture {

// One field as read. `confidence` is 0-100 for a filled field and -1 for an
// empty one; `box` is the field's line in the picture's pixels as the user
// sees the picture (orientation applied), empty when the field came from a
// QR code or is empty.
struct CapturedField
{
    QString text;
    int confidence = -1;
    QRect box;
};

// One recognised line of text: the recogniser's words of one line, joined.
struct CapturedLine
{
    QString text;
    int confidence = 0; // 0-100
    QRect box;
};

struct CaptureResult
{
    std::array<CapturedField, 13> fields;
    QList<CapturedLine> lines;
    bool fromQrCode = false;
    bool vertical = false;   // read as a vertical card
    int rotation = 0;        // clockwise degrees the picture was turned before reading (0, 90, 180, 270)
    QString error;           // set when the picture could not be read; fields are then empty

    bool ok() const { return error.isEmpty(); }
    // Field n (1..13).
    CapturedField &field(int n) { return fields[static_cast<size_t>(n - 1)]; }
    const CapturedField &field(int n) const { return fields[static_cast<size_t>(n - 1)]; }
    bool isEmpty() const;
};

} // namespace kelvo::capture
