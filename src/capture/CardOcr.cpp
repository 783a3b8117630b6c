#include "CardOcr.h"

#include <allheaders.h>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <QTransform>

#include <algorithm>
#include <cmath>

namespace kelvo::capture {

namespace {

using Api = tesseract::TessBaseAPI;

struct PixDeleter
{
    void operator()(Pix *pix) const { pixDestroy(&pix); }
};
using PixPtr = std::unique_ptr<Pix, PixDeleter>;

// The recogniser reads best with letters some 20 to 40 pixels high: pictures
// are scaled so that their longer side lies in this range (a card's longer
// side is about 3.5 inches, so 340 to 630 pixels an inch).
constexpr int MinLongSide = 1200;
constexpr int MaxLongSide = 2200;
constexpr double CardLongSideInches = 3.5;
// Lines at least this many times the median line height are read again by
// the Chinese-only engine: large bold names come back as Latin junk from the
// mixed one.
constexpr double TallLineFactor = 1.4;
// The orientation detection is trusted from this confidence on.
constexpr float MinOrientationConfidence = 3.0f;

PixPtr toPix(const QImage &gray)
{
    PixPtr pix(pixCreate(gray.width(), gray.height(), 8));
    if (!pix)
        return nullptr;
    l_uint32 *data = pixGetData(pix.get());
    const int wpl = pixGetWpl(pix.get());
    for (int y = 0; y < gray.height(); ++y) {
        const uchar *source = gray.constScanLine(y);
        l_uint32 *line = data + qsizetype(y) * wpl;
        for (int x = 0; x < gray.width(); ++x)
            SET_DATA_BYTE(line, x, source[x]);
    }
    return pix;
}

QString takeText(char *text)
{
    const QString result = QString::fromUtf8(text).simplified();
    delete[] text;
    return result;
}

bool hasHan(const QString &text)
{
    for (QChar c : text)
        if (c.script() == QChar::Script_Han)
            return true;
    return false;
}

} // namespace

struct CardOcr::Engines
{
    std::unique_ptr<Api> mixed, chinese, vertical, orientation;
    QString error;

    // The engine for `language`, made at its first use; null (with `error`
    // set) when its data is not installed.
    Api *get(std::unique_ptr<Api> &engine, const char *language, tesseract::OcrEngineMode mode)
    {
        if (engine)
            return engine.get();
        auto api = std::make_unique<Api>();
        // Debian's data folder, compiled into the library.
        if (api->Init(nullptr, language, mode) != 0) {
            error = QStringLiteral("the recogniser's language data '%1' is not installed (tesseract-ocr-*)")
                        .arg(QString::fromLatin1(language));
            return nullptr;
        }
        api->SetVariable("debug_file", "/dev/null");
        engine = std::move(api);
        return engine.get();
    }
};

CardOcr::CardOcr()
    : m_engines(std::make_unique<Engines>())
{
}

CardOcr::~CardOcr() = default;

QImage rotatedPicture(const QImage &picture, int degrees)
{
    degrees = ((degrees % 360) + 360) % 360;
    if (degrees == 0)
        return picture;
    return picture.transformed(QTransform().rotate(degrees));
}

OcrOutput CardOcr::read(const QImage &picture, const OcrOptions &options)
{
    OcrOutput out;
    out.vertical = options.vertical;
    if (picture.isNull()) {
        out.error = QStringLiteral("empty picture");
        return out;
    }
    QImage gray = rotatedPicture(picture, options.rotation).convertToFormat(QImage::Format_Grayscale8);
    out.rotation = ((options.rotation % 360) + 360) % 360;

    auto prepare = [](const QImage &source, double *scale) -> PixPtr {
        const int longSide = std::max(source.width(), source.height());
        *scale = 1.0;
        QImage scaled = source;
        if (longSide < MinLongSide || longSide > MaxLongSide) {
            *scale = double(longSide < MinLongSide ? MinLongSide : MaxLongSide) / longSide;
            scaled = source.scaled(qRound(source.width() * *scale), qRound(source.height() * *scale),
                                   Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
        PixPtr pix = toPix(scaled);
        if (!pix)
            return nullptr;
        // An even background (a photo on a dark table loses its small text
        // without it), then straight lines.
        if (PixPtr normalised{pixBackgroundNormSimple(pix.get(), nullptr, nullptr)})
            pix = std::move(normalised);
        l_float32 angle = 0, confidence = 0;
        if (PixPtr straight{pixFindSkewAndDeskew(pix.get(), 2, &angle, &confidence)})
            pix = std::move(straight);
        return pix;
    };

    double scale = 1.0;
    PixPtr pix = prepare(gray, &scale);
    if (!pix) {
        out.error = QStringLiteral("the picture is too large to read");
        return out;
    }

    if (options.detectOrientation && options.rotation == 0) {
        if (Api *osd = m_engines->get(m_engines->orientation, "osd", tesseract::OEM_TESSERACT_ONLY)) {
            osd->SetPageSegMode(tesseract::PSM_OSD_ONLY);
            osd->SetImage(pix.get());
            osd->SetSourceResolution(std::max(70, int(std::max(pixGetWidth(pix.get()), pixGetHeight(pix.get())) /
                                                      CardLongSideInches)));
            int degrees = 0;
            float confidence = 0, scriptConfidence = 0;
            const char *script = nullptr;
            if (osd->DetectOrientationScript(&degrees, &confidence, &script, &scriptConfidence) && degrees != 0 &&
                confidence >= MinOrientationConfidence) {
                // `degrees` is how far the text is turned clockwise.
                out.rotation = (360 - degrees) % 360;
                gray = rotatedPicture(gray, out.rotation);
                pix = prepare(gray, &scale);
                if (!pix) {
                    out.error = QStringLiteral("the picture is too large to read");
                    return out;
                }
            }
            osd->Clear();
        }
    }

    const int dpi = std::max(70, int(std::max(pixGetWidth(pix.get()), pixGetHeight(pix.get())) / CardLongSideInches));
    Api *main = options.vertical
                    ? m_engines->get(m_engines->vertical, "chi_sim_vert", tesseract::OEM_LSTM_ONLY)
                    : m_engines->get(m_engines->mixed, "chi_sim+eng", tesseract::OEM_LSTM_ONLY);
    if (!main) {
        out.error = m_engines->error;
        return out;
    }
    main->SetPageSegMode(options.vertical ? tesseract::PSM_SINGLE_BLOCK_VERT_TEXT : tesseract::PSM_SPARSE_TEXT);
    main->SetImage(pix.get());
    main->SetSourceResolution(dpi);
    if (main->Recognize(nullptr) != 0) {
        main->Clear();
        out.error = QStringLiteral("the recogniser failed on the picture");
        return out;
    }

    QList<CapturedLine> lines;
    QList<QRect> scaledBoxes;
    if (std::unique_ptr<tesseract::ResultIterator> it{main->GetIterator()}) {
        do {
            if (it->Empty(tesseract::RIL_TEXTLINE))
                continue;
            CapturedLine line;
            line.text = takeText(it->GetUTF8Text(tesseract::RIL_TEXTLINE));
            if (line.text.isEmpty())
                continue;
            line.confidence = std::clamp(int(std::lround(it->Confidence(tesseract::RIL_TEXTLINE))), 0, 100);
            int left = 0, top = 0, right = 0, bottom = 0;
            it->BoundingBox(tesseract::RIL_TEXTLINE, &left, &top, &right, &bottom);
            const QRect box(QPoint(left, top), QPoint(right - 1, bottom - 1));
            scaledBoxes.append(box);
            line.box = box;
            lines.append(line);
        } while (it->Next(tesseract::RIL_TEXTLINE));
    }
    main->Clear();

    // Tall lines again, with the Chinese-only engine, one line at a time.
    if (!options.vertical && lines.size() > 1) {
        QList<int> heights;
        for (const QRect &box : scaledBoxes)
            heights.append(box.height());
        std::nth_element(heights.begin(), heights.begin() + heights.size() / 2, heights.end());
        const int median = heights[heights.size() / 2];
        Api *chinese = nullptr;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QRect box = scaledBoxes[i];
            if (box.height() < TallLineFactor * median)
                continue;
            if (!chinese) {
                chinese = m_engines->get(m_engines->chinese, "chi_sim", tesseract::OEM_LSTM_ONLY);
                if (!chinese)
                    break;
                chinese->SetPageSegMode(tesseract::PSM_SINGLE_LINE);
                chinese->SetImage(pix.get());
                chinese->SetSourceResolution(dpi);
            }
            const int pad = box.height() / 4;
            const QRect area = box.adjusted(-pad, -pad, pad, pad)
                                   .intersected(QRect(0, 0, pixGetWidth(pix.get()), pixGetHeight(pix.get())));
            chinese->SetRectangle(area.left(), area.top(), area.width(), area.height());
            const QString text = takeText(chinese->GetUTF8Text());
            const int confidence = std::clamp(chinese->MeanTextConf(), 0, 100);
            if (!text.isEmpty() && hasHan(text) && (hasHan(lines[i].text) || lines[i].confidence < 75)) {
                lines[i].text = text;
                lines[i].confidence = confidence;
            }
        }
        if (chinese)
            chinese->Clear();
    }

    // Boxes back in the pixels of the (turned) picture.
    for (CapturedLine &line : lines) {
        const QRect b = line.box;
        line.box = QRect(QPoint(int(b.left() / scale), int(b.top() / scale)),
                         QPoint(int(b.right() / scale), int(b.bottom() / scale)))
                       .intersected(QRect(QPoint(0, 0), gray.size()));
    }
    out.fragments = lines;
    return out;
}

} // namespace kelvo::capture
