#pragma once

#include <QRect>
#include <QWidget>

#include <array>

class QLabel;
class QLineEdit;
class QFrame;

namespace kelvo {

class CardNode;
class CardTreeHost;

// The right-hand side of the main window, drawn like a printed business
// card: an outline, a picture and thirteen flat one-line editors, one for
// each text field of the selected card. Typing writes straight into the
// selected card's record; there is no apply step. The panel keeps no state of
// its own: every refill reads the selected node's record and every write looks
// up the node selected at that moment.
class CardDetailPanel : public QWidget
{
    Q_OBJECT

public:
    struct EditorPlace
    {
        int tag;             // the field number, 1..13
        const char *name;    // the editor's object name
        const char *caption; // the label text (UTF-8)
        QRect geometry;      // inside the panel
    };
    // The thirteen editors in tab order.
    static const std::array<EditorPlace, 13> &editorPlaces();

    static constexpr int EditorHeight = 18;
    static constexpr QRect OutlineRect{8, 10, 420, 246};
    static constexpr QRect PictureRect{20, 19, 76, 221};
    static constexpr int FontPixelSize = 12;
    // The three black rules (2 pixels high) below the title line, below the
    // address line and above the other-information line.
    static const std::array<QRect, 3> &ruleRects();

    explicit CardDetailPanel(CardTreeHost &host, QWidget *parent = nullptr);

    // The editor of field `tag` (1..13), or nullptr.
    QLineEdit *editor(int tag) const;
    QLabel *caption(int tag) const;

    QSize sizeHint() const override;

public Q_SLOTS:
    // Refills the editors from the selected node: a card's thirteen fields,
    // or empty editors for a card class. Each change of an editor's text
    // writes back at once (so stored blanks around a field are trimmed away).
    void tvCardChange(kelvo::CardNode *node);
    // Puts a card's new name, typed into the tree's label editor, into the
    // name editor; the write-back stores it.
    void setNameEditorText(const QString &text);

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildEditors();
    void edtNameChange(QLineEdit *sender);
    void edtNameKeyPress(QLineEdit *sender);

    CardTreeHost &m_host;
    QFrame *m_outline = nullptr;
    QLabel *m_picture = nullptr;
    std::array<QLineEdit *, 13> m_editors = {};
    std::array<QLabel *, 13> m_captions = {};
};

} // namespace kelvo
