#pragma once

// Reading node records out of the data file's bytes: the windows the bytes
// come through, one record at a time with every length checked, and the
// search for a record start in the middle of a file. Used by the tree
// reader (TreeReading.cpp); not for use outside the store.
#include "DataFileFormat.h"

#include <QByteArrayView>
#include <QIODevice>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace kelvo::records {

// Shape of a node record: twenty items, each a 4-byte length and its payload.
inline constexpr int TextItems = 13;          // items 1..13
inline constexpr qsizetype MaxTextItem = 257; // length byte, 255 text bytes, filler
// The fewest and the most bytes one node record can take: thirteen text
// items of 2 to 257 bytes, six fixed items of four and one of eight, each
// after a 4-byte length.
inline constexpr qsizetype FixedRecordBytes = 13 * (4 + 2) + 5 * (4 + 4) + (4 + 8) + (4 + 4); // 138
inline constexpr qsizetype MaxRecordBytes = TextItems * (4 + MaxTextItem) + 6 * (4 + 4) + (4 + 8);

// Where and why reading failed.
struct Failure
{
    qint64 offset = -1;
    QString reason;
};

// The bytes of the file as far as they are in memory: all of them (a file
// read into memory), or a window that is refilled as the reader goes on.
class Window
{
public:
    virtual ~Window() = default;

    // Makes at least `n` bytes available at pos(), or all that are left, or
    // as many as the window holds.
    void require(qsizetype n)
    {
        if (m_end - m_pos < n && !m_finished)
            refill(n);
    }
    const unsigned char *pos() const { return m_pos; }
    const unsigned char *end() const { return m_end; }
    void advance(const unsigned char *to) { m_pos = to; }
    // File offset of the byte at `p` (within the window).
    qint64 offsetOf(const unsigned char *p) const { return m_base + (p - m_start); }
    qint64 offset() const { return offsetOf(m_pos); }
    bool atEnd()
    {
        require(1);
        return m_pos == m_end;
    }
    // True when the window holds all that is left of the input.
    bool holdsTheRest() const { return m_finished; }

protected:
    virtual void refill(qsizetype n) = 0;

    const unsigned char *m_start = nullptr; // file offset m_base
    const unsigned char *m_pos = nullptr;
    const unsigned char *m_end = nullptr;
    qint64 m_base = 0;
    bool m_finished = true; // nothing more than [m_start, m_end)
};

// All the bytes at once; `base` is the file offset of the first one.
class MemoryWindow final : public Window
{
public:
    explicit MemoryWindow(QByteArrayView bytes, qint64 base = 0);

private:
    void refill(qsizetype) override {}
};

// A window over bytes read in large pieces, from a device as it comes or
// from a given offset of an open file; the bytes already used are dropped,
// so memory stays the size of the buffer whatever the size of the file.
class PieceWindow : public Window
{
public:
    // Small enough for the buffer to stay in the processor's cache between
    // the system's copy into it and the reading of the records.
    static constexpr qsizetype PieceBytes = qsizetype(64) << 10;

protected:
    PieceWindow(DeviceRead &info, qint64 base);
    // Reads up to `room` bytes to `to`: the count, 0 at the end, -1 on an
    // error (with the error text set in the DeviceRead).
    virtual qint64 readPiece(char *to, qint64 room) = 0;
    DeviceRead &m_info;

private:
    void refill(qsizetype n) override;

    std::unique_ptr<char[]> m_buffer;
    qsizetype m_bufferBytes;
};

// Reads the device from where it stands, as a stream (also a pipe).
class DeviceWindow final : public PieceWindow
{
public:
    DeviceWindow(QIODevice &device, DeviceRead &info);

private:
    qint64 readPiece(char *to, qint64 room) override;

    QIODevice &m_device;
};

// Reads an open file from `offset` on, by position, without moving the
// file's own position: a second reader of the same file, on another thread.
// Available where the system reads by position (see canReadByPosition).
class PositionWindow final : public PieceWindow
{
public:
    PositionWindow(int fileDescriptor, qint64 offset, DeviceRead &info);

    static bool canReadByPosition();

private:
    qint64 readPiece(char *to, qint64 room) override;

    int m_fd;
    qint64 m_next;
};

// One node record as read: the texts are views into the window, valid until
// it is next refilled.
struct NodeRecord
{
    std::array<QByteArrayView, TextItems> texts; // label, then fields 2..13
    std::array<std::int32_t, 4> indexes = {};
    std::int32_t childCount = 0;
    double created = 0.0;
    std::int32_t kind = 0;
};

// Reads one node record at the window's position and moves past it, or
// tells where and why the bytes there are not one.
bool readNodeRecord(Window &w, NodeRecord &record, Failure &failure);

// A record start near w.pos(), or -1: from the first offset in
// [w.pos(), w.pos() + searchBytes) where `chain` records in a row read
// without fault (fewer when the bytes end exactly after the last of them),
// the start of the last of them. Bytes inside a record may well read as a
// record that happens to end where a true one starts, so the first of the
// chain is often not one; the last very likely is, though not certainly:
// whoever uses it must meet it from the start. The window does not move.
qint64 findRecordStart(Window &w, qsizetype searchBytes, int chain);

// Reads `bytes` as ReadTreeFromBytes does, but with the second reader
// reading pieces that start exactly at `pieceStarts` (those within the bytes; no search
// for record starts; none: one reader only), whatever lies there: for tests
// of the hand-over between the two readers.
LoadResult ReadTreeSplitAt(QByteArrayView bytes, CardTree &tree, const std::vector<qint64> &pieceStarts,
                           ReadOptions options = {});

} // namespace kelvo::records
