#pragma once

#include "CaptureResult.h"
#include "CapturedCard.h"
#include "CardCapturer.h"
#include "CardTree.h"

#include <QDialog>
#include <QImage>
#include <QPointer>
#include <QStringList>

#include <array>
#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kelvo {

class CapturePicture;
class CardTreeHost;

// The capture window "扫描名片": the picture of a card beside the thirteen
// editors filled from it, for the user to check before the card is added.
// - The pictures of a batch are read one after the other by a CardCapturer,
//   which never blocks the window; "跳过" passes to the next picture, and
//   after the last one the window closes.
// - Fields from lines the recogniser was less than 92 sure of, empty fields,
//   and always the name and the title are highlighted for checking.
// - Clicking a frame in the picture puts that line's text into the editor
//   that has the focus (or had it last).
// - The picture turns in quarter turns and may be read as a vertical card
//   ("竖排名片"); either reads the picture again.
// - "添加" adds the card through the store as the last card of the target
//   card class (the reserved class when none is given or it went away).
//   When the tree holds a card with the same mobile, the same e-mail, or the
//   same name and company, the user is asked first whether to update that
//   card instead: Yes stores the new non-empty fields into it, No adds a
//   second card. Nothing is merged without the answer.
class TfrmCapture
    : public QDialog
    , private CardTreeObserver
{
    Q_OBJECT

public:
    // The confidence below which a field is highlighted.
    static constexpr int SureConfidence = 92;

    TfrmCapture(CardTreeHost &host, std::unique_ptr<CardCapturer> capturer, CardNode *targetClass,
                const QStringList &files, QWidget *parent = nullptr);
    ~TfrmCapture() override;

    // Starts reading the first picture (the window may be shown before or after).
    void start();

    QLineEdit *editor(int n) const { return m_editors[size_t(n - 1)]; }
    bool isHighlighted(int n) const;
    CapturePicture *picture() const { return m_picture; }
    QString statusText() const;
    int currentIndex() const { return m_index; }
    QStringList files() const { return m_files; }
    CardNode *targetClass() const { return m_targetClass; }
    CapturedTexts texts() const;

    // The buttons' behaviours.
    void btnAddClick();
    void btnSkipClick();
    void rotate(int quarterTurns);
    void setVertical(bool vertical);

    // A result of the capturer (connected to its finished signal).
    void captureFinished(const QString &path, const capture::CaptureResult &result);

Q_SIGNALS:
    // A card was added (or an existing one updated) from the capture.
    void cardStored(kelvo::CardNode *node);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void readCurrent(int rotation);
    void next();
    void fill(const capture::CaptureResult &result);
    void setHighlighted(int n, bool on);
    void putLineText(const QString &text);
    void setStatus(const QString &text);
    CardNode *resolveTargetClass();

    // CardTreeObserver: the target class may go while the window is open.
    void nodesAboutToBeRemoved(CardNode *parent, int first, int last) override;
    void treeAboutToBeReset() override;

    CardTreeHost &m_host;
    // The host's tree, kept apart: the window may outlive the host's own
    // part of a main window that is being destroyed.
    CardTree &m_tree;
    std::unique_ptr<CardCapturer> m_capturer;
    CardNode *m_targetClass;
    QStringList m_files;
    int m_index = 0;
    bool m_reading = false;
    bool m_vertical = false;
    int m_rotation = 0;   // of the shown picture
    QImage m_original;    // the current picture as loaded (upright by its EXIF data)

    CapturePicture *m_picture = nullptr;
    std::array<QLineEdit *, 13> m_editors = {};
    std::array<bool, 13> m_highlighted = {};
    QPointer<QLineEdit> m_lastEditor;
    QLabel *m_status = nullptr;
    QCheckBox *m_verticalBox = nullptr;
    QPushButton *m_add = nullptr;
    QPushButton *m_skip = nullptr;
    QPushButton *m_rotateLeft = nullptr;
    QPushButton *m_rotateRight = nullptr;
};

// The files of a drop or an open dialog that the capture reads: pictures by
// their suffix (jpg, jpeg, png, bmp, tif, tiff, any letter case).
bool isCardPictureFile(const QString &path);
// The filter of the open dialog for pictures of cards.
QString cardPictureFilter();

} // namespace kelvo
