#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace kelvo::lzhuf {

// A compressed stream is the decompressed length U (32-bit little-endian)
// followed by the coded bits, most significant bit first.
inline constexpr qsizetype HeaderSize = 4;

// The most bytes a stream of `streamSize` bytes can honestly decode to. The
// cheapest symbol that produces output is a match: at least 1 bit of Huffman
// code plus at least 9 bits of position for 60 bytes, i.e. 6 bytes per coded
// bit, 48 per coded byte. One more match is allowed for a final symbol cut
// short by the end of the stream (missing bytes read as 0).
qsizetype maxDecodedSize(qsizetype streamSize);

// Absolute ceiling for any stream this program decodes.
inline constexpr qsizetype DecodeHardLimit = qsizetype(256) * 1024 * 1024;

struct DecodeResult
{
    bool ok = false;
    QByteArray data;
    QString error; // why decoding was refused, when !ok
    // Bits the decoding took beyond the end of the stream (read as 0). An
    // encoder pads its last byte, so anything beyond that padding means the
    // stream was cut short: see isTruncated().
    qint64 bitsPastEnd = 0;
    bool isTruncated() const { return bitsPastEnd > 8; }
};

// Decodes a whole stream. Refuses (with a reason) a stream shorter than its
// length field, and a declared length above maxDecodedSize() or `hardLimit`;
// otherwise always produces exactly U bytes.
DecodeResult decode(QByteArrayView stream, qsizetype hardLimit = DecodeHardLimit);

// Compresses `data` (at most DecodeHardLimit bytes, so that it can be
// decoded again) into a stream any decoder of the format reads.
QByteArray encode(QByteArrayView data);

} // namespace kelvo::lzhuf
