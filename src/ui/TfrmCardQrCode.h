#pragma once

#include "CardQrCode.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace kelvo {

class Dialogs;

// "名片二维码": a card as a QR code for a phone's camera, with "保存图片..."
// to keep it as a PNG picture. The window keeps its own copy of the code; the
// card may change or go while it is open.
class TfrmCardQrCode : public QDialog
{
    Q_OBJECT

public:
    // Pixels a module in the saved picture.
    static constexpr int SavedModuleSize = 8;

    // `code` must be ok(); `cardName` names the window and the picture file.
    TfrmCardQrCode(Dialogs &dialogs, const QString &cardName, capture::CardQrCode code, QWidget *parent = nullptr);

    const capture::CardQrCode &code() const { return m_code; }
    QString noteText() const;

    // "保存图片...": asks for a file and writes the picture there atomically.
    // Returns whether a picture was written.
    bool btnSavePictureClick();

    // The notice for a card whose fields do not fit any QR code.
    static QString tooLongText();

private:
    Dialogs &m_dialogs;
    QString m_cardName;
    capture::CardQrCode m_code;
    QLabel *m_note = nullptr;
};

} // namespace kelvo
