#include "CaptureJson.h"

#include <QJsonArray>

namespace kelvo::capture {

namespace {

QJsonValue boxToJson(const QRect &box)
{
    if (box.isNull())
        return QJsonValue::Null;
    return QJsonArray{box.x(), box.y(), box.width(), box.height()};
}

QRect boxFromJson(const QJsonValue &value)
{
    const QJsonArray a = value.toArray();
    if (a.size() != 4)
        return {};
    const int x = a[0].toInt(-1), y = a[1].toInt(-1), w = a[2].toInt(-1), h = a[3].toInt(-1);
    if (x < 0 || y < 0 || w <= 0 || h <= 0 || x > 100000 || y > 100000 || w > 100000 || h > 100000)
        return {};
    return QRect(x, y, w, h);
}

} // namespace

QJsonObject captureToJson(const QString &file, const CaptureResult &result, bool details)
{
    QJsonArray fields, confidence, boxes;
    for (const CapturedField &f : result.fields) {
        fields.append(f.text);
        confidence.append(f.text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(f.confidence));
        boxes.append(boxToJson(f.box));
    }
    QJsonObject object{{QStringLiteral("file"), file},
                       {QStringLiteral("fields"), fields},
                       {QStringLiteral("confidence"), confidence}};
    if (!result.error.isEmpty())
        object.insert(QStringLiteral("error"), result.error);
    if (details) {
        QJsonArray lines;
        for (const CapturedLine &line : result.lines)
            lines.append(QJsonObject{{QStringLiteral("text"), line.text},
                                     {QStringLiteral("confidence"), line.confidence},
                                     {QStringLiteral("box"), boxToJson(line.box)}});
        object.insert(QStringLiteral("boxes"), boxes);
        object.insert(QStringLiteral("lines"), lines);
        object.insert(QStringLiteral("rotation"), result.rotation);
        object.insert(QStringLiteral("vertical"), result.vertical);
        object.insert(QStringLiteral("qr"), result.fromQrCode);
    }
    return object;
}

CaptureResult captureFromJson(const QJsonObject &object, QString *file)
{
    CaptureResult result;
    if (file)
        *file = object.value(QStringLiteral("file")).toString();
    const QJsonArray fields = object.value(QStringLiteral("fields")).toArray();
    const QJsonArray confidence = object.value(QStringLiteral("confidence")).toArray();
    const QJsonArray boxes = object.value(QStringLiteral("boxes")).toArray();
    result.error = object.value(QStringLiteral("error")).toString();
    if (fields.size() != 13 || confidence.size() != 13) {
        if (result.error.isEmpty())
            result.error = QStringLiteral("the reader's answer is malformed");
        return result;
    }
    for (int i = 0; i < 13; ++i) {
        CapturedField &f = result.fields[size_t(i)];
        f.text = fields[i].toString().left(255);
        f.confidence = f.text.isEmpty() ? -1 : std::clamp(confidence[i].toInt(0), 0, 100);
        if (boxes.size() == 13)
            f.box = boxFromJson(boxes[i]);
    }
    const QJsonArray lines = object.value(QStringLiteral("lines")).toArray();
    for (const QJsonValue &value : lines) {
        const QJsonObject line = value.toObject();
        const QString text = line.value(QStringLiteral("text")).toString().left(1000);
        if (text.isEmpty())
            continue;
        result.lines.append(CapturedLine{text, std::clamp(line.value(QStringLiteral("confidence")).toInt(0), 0, 100),
                                         boxFromJson(line.value(QStringLiteral("box")))});
    }
    const int rotation = object.value(QStringLiteral("rotation")).toInt(0);
    result.rotation = (rotation == 90 || rotation == 180 || rotation == 270) ? rotation : 0;
    result.vertical = object.value(QStringLiteral("vertical")).toBool();
    result.fromQrCode = object.value(QStringLiteral("qr")).toBool();
    return result;
}

} // namespace kelvo::capture
