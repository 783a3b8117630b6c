#include "NodeRecordReading.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <unistd.h>
#endif

namespace kelvo::records {

// --- windows

MemoryWindow::MemoryWindow(QByteArrayView bytes, qint64 base)
{
    m_start = m_pos = reinterpret_cast<const unsigned char *>(bytes.data());
    m_end = m_start + bytes.size();
    m_base = base;
}

PieceWindow::PieceWindow(DeviceRead &info, qint64 base)
    : m_info(info)
    , m_buffer(std::make_unique_for_overwrite<char[]>(static_cast<size_t>(PieceBytes + MaxRecordBytes)))
    , m_bufferBytes(PieceBytes + MaxRecordBytes)
{
    m_finished = false;
    m_base = base;
    m_start = m_pos = m_end = reinterpret_cast<const unsigned char *>(m_buffer.get());
}

void PieceWindow::refill(qsizetype n)
{
    // Keep what is left, at the front.
    const qsizetype left = m_end - m_pos;
    auto *front = reinterpret_cast<unsigned char *>(m_buffer.get());
    m_base += m_pos - m_start;
    std::memmove(front, m_pos, static_cast<size_t>(left));
    m_start = m_pos = front;
    m_end = front + left;
    n = std::min(n, m_bufferBytes);
    while (m_end - m_pos < n && !m_finished) {
        const qsizetype room = m_bufferBytes - (m_end - front);
        const qint64 got = readPiece(reinterpret_cast<char *>(front) + (m_end - front), room);
        if (got <= 0) { // the end, or an error (its text is in the DeviceRead)
            m_finished = true;
        } else {
            m_end += got;
            m_info.bytesRead += got;
            if (m_info.bytesRead > m_info.maxBytes) {
                m_info.error = QStringLiteral("larger than %1 bytes; refused").arg(m_info.maxBytes);
                m_finished = true;
            }
        }
    }
}

DeviceWindow::DeviceWindow(QIODevice &device, DeviceRead &info)
    : PieceWindow(info, 0)
    , m_device(device)
{
}

qint64 DeviceWindow::readPiece(char *to, qint64 room)
{
    for (;;) {
        const qint64 got = m_device.read(to, room);
        if (got < 0) {
            m_info.error = m_device.errorString();
            return -1;
        }
        // A stream that has nothing yet may still bring more.
        if (got == 0 && m_device.isSequential() && m_device.waitForReadyRead(-1) && !m_device.atEnd())
            continue;
        return got;
    }
}

PositionWindow::PositionWindow(int fileDescriptor, qint64 offset, DeviceRead &info)
    : PieceWindow(info, offset)
    , m_fd(fileDescriptor)
    , m_next(offset)
{
}

bool PositionWindow::canReadByPosition()
{
#if defined(Q_OS_UNIX)
    return true;
#else
    return false;
#endif
}

qint64 PositionWindow::readPiece(char *to, qint64 room)
{
#if defined(Q_OS_UNIX)
    for (;;) {
        const ssize_t got = ::pread(m_fd, to, static_cast<size_t>(room), static_cast<off_t>(m_next));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            m_info.error = qt_error_string(errno); // thread-safe, unlike strerror
            return -1;
        }
        m_next += got;
        return got;
    }
#else
    Q_UNUSED(to);
    Q_UNUSED(room);
    m_info.error = QStringLiteral("reading by position is not available");
    return -1;
#endif
}

// --- one node record

namespace {

std::int32_t int32At(const unsigned char *p)
{
    return qFromLittleEndian<std::int32_t>(p);
}

// The messages of a damaged record, made only when one is met.
Q_DECL_COLD_FUNCTION Failure endsInsideLength(const Window &w, const unsigned char *at, int item)
{
    return {w.offsetOf(at), QStringLiteral("the file ends inside the length of item %1").arg(item)};
}

Q_DECL_COLD_FUNCTION Failure runsPastTheEnd(const Window &w, const unsigned char *at, int item, std::int32_t n)
{
    return {w.offsetOf(at), QStringLiteral("item %1 (%2 bytes) runs past the end of the file").arg(item).arg(n)};
}

Q_DECL_COLD_FUNCTION Failure badTextLength(const Window &w, const unsigned char *at, int item, std::int32_t n)
{
    return {w.offsetOf(at),
            QStringLiteral("text item %1 has length %2; a text item holds 1 to %3 bytes")
                .arg(item)
                .arg(n)
                .arg(MaxTextItem)};
}

Q_DECL_COLD_FUNCTION Failure claimsTooMuch(const Window &w, const unsigned char *at, int item, int textLength,
                                           std::int32_t n)
{
    return {w.offsetOf(at),
            QStringLiteral("text item %1 claims %2 text bytes but has length %3").arg(item).arg(textLength).arg(n)};
}

Q_DECL_COLD_FUNCTION Failure badFixedLength(const Window &w, const unsigned char *at, int item, std::int32_t n,
                                            std::int32_t expected)
{
    return {w.offsetOf(at), QStringLiteral("item %1 has length %2 instead of %3").arg(item).arg(n).arg(expected)};
}

// Reads one node record (twenty items) at the window's position. Every
// length is checked before it is used; with `Roomy` the window is known to
// hold the longest record there can be, so no item can run past its end and
// only the lengths' shapes need checking.
template<bool Roomy>
bool readNodeRecordAt(Window &w, NodeRecord &record, Failure &failure)
{
    const unsigned char *p = w.pos();
    const unsigned char *const end = w.end();
    for (int i = 0; i < TextItems; ++i) {
        if (!Roomy && end - p < 4) {
            failure = endsInsideLength(w, p, i + 1);
            return false;
        }
        const std::int32_t n = int32At(p);
        if (n < 1 || n > MaxTextItem) [[unlikely]] {
            failure = badTextLength(w, p, i + 1, n);
            return false;
        }
        if (!Roomy && n > end - p - 4) {
            failure = runsPastTheEnd(w, p, i + 1, n);
            return false;
        }
        const int textLength = p[4];
        if (1 + textLength > n) [[unlikely]] {
            failure = claimsTooMuch(w, p, i + 1, textLength, n);
            return false;
        }
        record.texts[static_cast<size_t>(i)] = QByteArrayView(reinterpret_cast<const char *>(p + 5), textLength);
        p += 4 + n;
    }
    // Items 14 to 20: four display indexes, the child count, the date, the kind.
    std::int32_t values[6];
    for (int item = 14; item <= 20; ++item) {
        const std::int32_t expected = item == 19 ? 8 : 4;
        if (!Roomy && end - p < 4) {
            failure = endsInsideLength(w, p, item);
            return false;
        }
        const std::int32_t n = int32At(p);
        if (n != expected) [[unlikely]] {
            failure = badFixedLength(w, p, item, n, expected);
            return false;
        }
        if (!Roomy && end - p - 4 < n) {
            failure = runsPastTheEnd(w, p, item, n);
            return false;
        }
        if (item == 19) {
            const auto bits = qFromLittleEndian<quint64>(p + 4);
            std::memcpy(&record.created, &bits, sizeof record.created);
        } else {
            values[item < 19 ? item - 14 : 5] = int32At(p + 4);
        }
        p += 4 + n;
    }
    record.indexes = {values[0], values[1], values[2], values[3]};
    record.childCount = values[4];
    record.kind = values[5];
    w.advance(p);
    return true;
}

// The size of the record at `p` when the bytes up to `end` hold a whole one
// that readNodeRecord would read without fault, else -1.
qsizetype recordSizeAt(const unsigned char *p, const unsigned char *end)
{
    const unsigned char *const start = p;
    for (int i = 0; i < TextItems; ++i) {
        if (end - p < 4)
            return -1;
        const std::int32_t n = int32At(p);
        if (n < 1 || n > MaxTextItem || n > end - p - 4 || 1 + p[4] > n)
            return -1;
        p += 4 + n;
    }
    for (int item = 14; item <= 20; ++item) {
        const std::int32_t expected = item == 19 ? 8 : 4;
        if (end - p < 4 + expected || int32At(p) != expected)
            return -1;
        p += 4 + expected;
    }
    return p - start;
}

} // namespace

bool readNodeRecord(Window &w, NodeRecord &record, Failure &failure)
{
    w.require(MaxRecordBytes);
    if (w.end() - w.pos() >= MaxRecordBytes)
        return readNodeRecordAt<true>(w, record, failure);
    return readNodeRecordAt<false>(w, record, failure);
}

qint64 findRecordStart(Window &w, qsizetype searchBytes, int chain)
{
    // As much as a search may need; when the window holds the rest of the
    // input, a chain may end early, exactly at its end.
    w.require(searchBytes + chain * MaxRecordBytes);
    const unsigned char *const end = w.end();
    const bool wholeRest = w.holdsTheRest();
    const unsigned char *const last = w.pos() + std::min<qsizetype>(searchBytes, end - w.pos());
    for (const unsigned char *candidate = w.pos(); candidate < last; ++candidate) {
        // The label's length is 1 to 257: its upper two bytes are zero.
        if (end - candidate < 4 || candidate[2] != 0 || candidate[3] != 0)
            continue;
        const unsigned char *p = candidate;
        const unsigned char *lastRecord = nullptr;
        int found = 0;
        while (found < chain && p != end) {
            const qsizetype size = recordSizeAt(p, end);
            if (size < 0)
                break;
            lastRecord = p;
            p += size;
            ++found;
        }
        if (found == chain || (found > 0 && p == end && wholeRest))
            return w.offsetOf(lastRecord);
    }
    return -1;
}

} // namespace kelvo::records
