#pragma once

#include "ResultExports.h"
#include "SearchCards.h"

#include <QWidget>

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QStatusBar;
class QTableView;
class QToolButton;

namespace kelvo {

class CardTree;
class Dialogs;
class FieldCheckList;
class MessagePump;
class SearchResultModel;
class Shell;
class Spreadsheet;

// The content of the search window: the condition box `cmbConStr` with its
// history and the find button `SpeedButton1`, the field check list `clb1`
// (menu `pmCLB`: `N4` all, `N5` none), the result list `lv1`, the export
// buttons `Button2`, `Button4`, `Button1`, the close button `Button3` and the
// status line `sb1`. It finds cards in the card tree by one condition over
// the ticked fields and keeps everything (condition, history, ticks, rows,
// status) for the whole run; showing the window again resets nothing.
class QuickSearchForm : public QWidget
{
    Q_OBJECT

public:
    QuickSearchForm(CardTree &tree, Dialogs &dialogs, Shell &shell, Spreadsheet &spreadsheet, MessagePump &pump,
                    QWidget *parent = nullptr);
    ~QuickSearchForm() override;

    FieldSelection fieldSelection() const;
    const ConditionHistory &history() const { return m_history; }
    const std::vector<TResultRow> &resultRows() const;
    SearchResultModel *resultModel() const { return m_model; }
    QString statusText() const;
    ResultExports &exports() { return m_exports; }
    // A search or an export is running; a second one is refused meanwhile.
    bool isBusy() const { return m_busy; }

public slots:
    void SpeedButton1Click();
    void N4Click();
    void N5Click();
    void Button3Click();
    void Button2Click();
    void Button1Click();
    void Button4Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    class BusyScope;

    void buildControls();
    void FormCreate();
    bool cmbConStrKeyDown(QKeyEvent *event);
    void addToHistory(const QByteArray &condition);
    void sizeColumns();

    QComboBox *cmbConStr = nullptr;
    QToolButton *SpeedButton1 = nullptr;
    QGroupBox *GroupBox1 = nullptr;
    QLabel *Label2 = nullptr;
    FieldCheckList *clb1 = nullptr;
    QMenu *pmCLB = nullptr;
    QAction *N4 = nullptr;
    QAction *N5 = nullptr;
    QGroupBox *GroupBox2 = nullptr;
    QTableView *lv1 = nullptr;
    QPushButton *Button2 = nullptr;
    QPushButton *Button4 = nullptr;
    QPushButton *Button1 = nullptr;
    QPushButton *Button3 = nullptr;
    QStatusBar *sb1 = nullptr;

    CardTree &m_tree;
    Dialogs &m_dialogs;
    MessagePump &m_pump;
    ResultExports m_exports;
    SearchResultModel *m_model = nullptr;
    QLabel *m_status = nullptr;
    ConditionHistory m_history;
    bool m_busy = false;
};

} // namespace kelvo
