#pragma once

// A card as a QR code that a phone's camera reads straight into its contacts:
// the card's vCard 3.0 (written by the exchange library, so the fields map as
// the vCard export maps them), UTF-8 bytes in 8-bit mode behind the UTF-8 ECI,
// error correction level M. Encoded with libqrencode; no window needed.

#include "CardData.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace kelvo::capture {

// The largest version a card's full code may take; beyond it the modules get
// too small for a phone to read a code printed or shown at card size, and
// the compact code takes its place.
inline constexpr int CardQrMaxFullVersion = 15;
// The ECI assignment number of UTF-8.
inline constexpr int Utf8Eci = 26;

// One QR symbol: `size` x `size` modules, row by row.
struct QrSymbol
{
    int version = 0; // 1..40
    int size = 0;    // modules per side: 17 + 4 * version
    std::vector<std::uint8_t> modules; // 1 dark, 0 light

    bool dark(int x, int y) const { return modules[static_cast<size_t>(y) * static_cast<size_t>(size) + x] != 0; }
};

// Encodes `bytes` in 8-bit mode behind the UTF-8 ECI at error correction
// level M, in the smallest version that holds them and is at most
// `maxVersion`. Nothing when they need a larger one.
std::optional<QrSymbol> EncodeQrBytes(QByteArrayView bytes, int maxVersion = 40);

// The vCard 3.0 text a card's code holds. The full text has every field but
// the card's class; the compact one only the name, title, company, the three
// telephone numbers (telephone, fax, mobile) and the e-mail address.
QByteArray CardQrText(const TCardData &card, bool compact, QByteArrayView uid = {});

struct CardQrCode
{
    QrSymbol symbol;
    QByteArray text;      // what the code holds
    bool compact = false; // the full text needed more than CardQrMaxFullVersion
    QString error;        // even the compact text does not fit any QR code

    bool ok() const { return error.isEmpty(); }
};

// A card's code: the full text when it fits CardQrMaxFullVersion, else the
// compact text in whatever version it needs. A card whose name, title,
// company, phones and e-mail together exceed the largest QR code (only with
// fields near their 255 bytes of Chinese) has no code: `error` says so.
// `uid` (the card's identity) goes into the code where it has room: the full
// text with it, else without it, else the compact text with it, else without.
CardQrCode EncodeCardQr(const TCardData &card, QByteArrayView uid = {});

// Draws a symbol black on white, `moduleSize` pixels a module, with a light
// border of `quietZone` modules on every side (4 is what readers expect).
QImage RenderQrSymbol(const QrSymbol &symbol, int moduleSize, int quietZone = 4);

} // namespace kelvo::capture
