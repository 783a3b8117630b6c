#pragma once

#include "IniText.h"
#include "SkinArchive.h"
#include "SkinParts.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QString>

#include <array>
#include <memory>

namespace kelvo {

// The skinned elements the skin component builds from a skin description.
enum class SkinPartId {
    WindowTitle,
    ProgressBar,
    MenuBar,
    GroupBoxEdge,
    Toolbars,
    Tabs,
    StatusBarEdges,
    ComboButton,
    SunkEdge,
    ExtraImages,
    HeaderBar,
    MenuItem,
    MenuBackground,
    ScrollBar,
    HorzScroll,
    VertScroll,
    HorzScrollThumb,
    VertScrollThumb,
    Buttons,
};
inline constexpr int SkinPartCount = int(SkinPartId::Buttons) + 1;

struct SkinPartInfo
{
    SkinPartId id;
    const char *section;
    const char *pictureKey;
    // The part's frame count; 0: the section's "FrameCount" key, 3 when absent.
    int frameCount;
};
// Every part: its section, the key naming its picture, its frame count.
const std::array<SkinPartInfo, SkinPartCount> &skinPartTable();

// The skin component of the main window: loads a skin archive, reads its
// skin description and builds the skin parts from it.
class TSkinData
{
public:
    TSkinData();
    ~TSkinData();
    TSkinData(const TSkinData &) = delete;
    TSkinData &operator=(const TSkinData &) = delete;

    // Everything the main window does with its stored skin property, in one
    // call: reads the property (32-bit length, then the archive; a length of
    // 0 or less means no skin), loads the skin when there is one, and then
    // switches skinning off unless the load completed. `notice` shows the
    // older-skin notice. Returns isActive().
    bool loadStoredProperty(QByteArrayView property, const SkinNoticeCallback &notice = {});

    // Loads a skin from its archive: reads the archive, takes the first entry
    // whose name holds ".ini" as the skin description and builds the parts.
    // Returns loadCompleted(); on failure errorString() says why.
    bool loadSkin(QByteArrayView archive, const SkinNoticeCallback &notice = {});

    // Whether the windows are to be painted from the skin.
    bool isActive() const { return m_active; }
    void setActive(bool active) { m_active = active; }
    bool loadCompleted() const { return m_loadCompleted; }
    QString errorString() const { return m_error; }

    // The picture a description value names: the value's file-name part
    // (after its last '\' or ':') when it ends in exactly ".bmp", looked up
    // by name in the archive. Null when the value names none, the archive
    // lacks it or its bytes are no readable bitmap.
    QImage picture(QByteArrayView value) const;

    const TSkinReader &reader() const { return m_reader; }
    const IniText &description() const { return m_description; }
    QByteArray descriptionName() const { return m_descriptionName; }
    // "SkinName" of the "TitlebarSkin" section.
    QByteArray skinName() const;

    // A part, or nullptr when the description does not make it.
    const TDataSkinObject *part(SkinPartId id) const { return m_parts[size_t(id)].get(); }
    const TDataSkinBorder *tabs() const;
    const TDataSkinButton *buttons() const;

private:
    void clear();
    void buildParts();

    TSkinReader m_reader;
    IniText m_description;
    QByteArray m_descriptionName;
    std::array<std::unique_ptr<TDataSkinObject>, SkinPartCount> m_parts;
    bool m_active = true;
    bool m_loadCompleted = false;
    QString m_error;
};

// Decodes a bitmap file held in memory; refuses pictures above a sane size
// (a skin picture is a few hundred pixels) before allocating them.
QImage decodeSkinBitmap(QByteArrayView bytes);

} // namespace kelvo
