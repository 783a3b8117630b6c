#include "SkinData.h"

#include <QBuffer>
#include <QImageReader>

#include <algorithm>

namespace kelvo {

namespace {

constexpr qint64 MaxPicturePixels = qint64(4096) * 4096;

} // namespace

const std::array<SkinPartInfo, SkinPartCount> &skinPartTable()
{
    static const std::array<SkinPartInfo, SkinPartCount> table{{
        {SkinPartId::WindowTitle, "Personality", "Top", 2},
        {SkinPartId::ProgressBar, "Progress", "Bitmap", 2},
        {SkinPartId::MenuBar, "Personality", "menuBar", 2},
        {SkinPartId::GroupBoxEdge, "GroupBoxEdge", "Image", 2},
        {SkinPartId::Toolbars, "Toolbars", "Image", 5},
        {SkinPartId::Tabs, "Tabs", "Image", 5},
        {SkinPartId::StatusBarEdges, "StatusBarEdges", "Image", 3},
        {SkinPartId::ComboButton, "ComboButton", "Image", 4},
        {SkinPartId::SunkEdge, "SunkEdge", "Image", 4},
        {SkinPartId::ExtraImages, "ExtraImages", "Image", 5},
        {SkinPartId::HeaderBar, "Headerbar", "Image", 5},
        {SkinPartId::MenuItem, "MenuItem", "Image", 5},
        {SkinPartId::MenuBackground, "MenuBackground", "Image", 1},
        {SkinPartId::ScrollBar, "Scrollbar", "Image", 23},
        {SkinPartId::HorzScroll, "HorzScroll", "Image", 4},
        {SkinPartId::VertScroll, "VertScroll", "Image", 4},
        {SkinPartId::HorzScrollThumb, "HorzScrollThumb", "Image", 0},
        {SkinPartId::VertScrollThumb, "VertScrollThumb", "Image", 0},
        {SkinPartId::Buttons, "Buttons", "Bitmap", 5},
    }};
    return table;
}

QImage decodeSkinBitmap(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return {};
    QByteArray copy = bytes.toByteArray();
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "BMP");
    reader.setAllocationLimit(int(MaxPicturePixels * 4 / (1024 * 1024)));
    const QSize size = reader.size();
    if (!size.isValid() || qint64(size.width()) * size.height() > MaxPicturePixels)
        return {};
    return reader.read();
}

TSkinData::TSkinData() = default;
TSkinData::~TSkinData() = default;

void TSkinData::clear()
{
    m_reader = TSkinReader();
    m_description = IniText();
    m_descriptionName.clear();
    for (auto &p : m_parts)
        p.reset();
    m_loadCompleted = false;
    m_error.clear();
}

bool TSkinData::loadStoredProperty(QByteArrayView property, const SkinNoticeCallback &notice)
{
    clear();
    const StoredSkinProperty stored = parseStoredSkinProperty(property);
    if (!stored.ok)
        m_error = stored.error;
    else if (!stored.hasSkin)
        m_error = QStringLiteral("No skin is stored.");
    else
        loadSkin(stored.archive, notice);
    // The windows are painted from the skin only when its load completed.
    if (m_active && !m_loadCompleted)
        m_active = false;
    return m_active;
}

bool TSkinData::loadSkin(QByteArrayView archive, const SkinNoticeCallback &notice)
{
    clear();
    m_reader = TSkinReader(notice);
    if (!m_reader.readArchive(archive)) {
        m_error = m_reader.errorString();
        return false;
    }
    const TSkinReader::NamedEntry ini = m_reader.entryByNamePart(".ini");
    if (!ini.found) {
        m_error = QStringLiteral("The skin archive holds no skin description (no entry named *.ini*).");
        return false;
    }
    m_descriptionName = ini.name;
    m_description = IniText::parse(ini.data);
    buildParts();
    m_loadCompleted = true;
    return true;
}

void TSkinData::buildParts()
{
    const SkinPictureLookup lookup = [this](QByteArrayView value) { return picture(value); };
    for (const SkinPartInfo &info : skinPartTable()) {
        std::unique_ptr<TDataSkinObject> part;
        switch (info.id) {
        case SkinPartId::Tabs:
            if (auto tabs = readSkinPart<TDataSkinBorder>(m_description, info.section, info.pictureKey, lookup)) {
                tabs->Map2 = picture(m_description.readString(info.section, "Border"));
                part = std::move(tabs);
            }
            break;
        case SkinPartId::Buttons:
            if (auto buttons = readSkinPart<TDataSkinButton>(m_description, info.section, info.pictureKey, lookup)) {
                buttons->CheckMap = picture(m_description.readString(info.section, "CheckButton"));
                buttons->RadioMap = picture(m_description.readString(info.section, "RadioButton"));
                // 0 (absent) and, by the same token, a negative count mean:
                // count the square frames of the picture.
                const auto frames = [&](const char *key, const QImage &map) {
                    const qint32 stored = m_description.readInteger(info.section, key, 0);
                    return stored > 0 ? stored : squareFrameCount(map);
                };
                buttons->CheckFrameCount = frames("CheckButtonFrame", buttons->CheckMap);
                buttons->RadioFrameCount = frames("RadioButtonFrame", buttons->RadioMap);
                part = std::move(buttons);
            }
            break;
        case SkinPartId::MenuBar:
            if ((part = readSkinPart(m_description, info.section, info.pictureKey, lookup)))
                part->Tile = m_description.readInteger(info.section, "TileMenu", 0);
            break;
        default:
            part = readSkinPart(m_description, info.section, info.pictureKey, lookup);
            break;
        }
        if (!part)
            continue;
        const qint32 frames =
            info.frameCount > 0 ? info.frameCount : m_description.readInteger(info.section, "FrameCount", 3);
        part->FrameCount = std::max(frames, 1); // a count below 1 would divide the picture by nothing
        m_parts[size_t(info.id)] = std::move(part);
    }
}

QImage TSkinData::picture(QByteArrayView value) const
{
    const qsizetype cut = std::max(value.lastIndexOf('\\'), value.lastIndexOf(':'));
    const QByteArrayView name = value.sliced(cut + 1);
    if (name.isEmpty())
        return {};
    const qsizetype dot = name.lastIndexOf('.');
    if (dot < 0 || name.sliced(dot) != QByteArrayView(".bmp"))
        return {};
    return decodeSkinBitmap(m_reader.entryByName(name));
}

QByteArray TSkinData::skinName() const
{
    return m_description.readString("TitlebarSkin", "SkinName");
}

const TDataSkinBorder *TSkinData::tabs() const
{
    return static_cast<const TDataSkinBorder *>(part(SkinPartId::Tabs));
}

const TDataSkinButton *TSkinData::buttons() const
{
    return static_cast<const TDataSkinButton *>(part(SkinPartId::Buttons));
}

} // namespace kelvo
