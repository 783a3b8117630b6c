#include "QuickSearchForm.h"

#include "AccessibleTexts.h"
#include "CardTree.h"
#include "Dialogs.h"
#include "FieldCaptions.h"
#include "FieldCheckList.h"
#include "Gb18030.h"
#include "MessagePump.h"
#include "SearchResultModel.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

namespace kelvo {

namespace {

constexpr int FieldColumns = 3;
constexpr int MinimumColumnWidth = 50;
// The result list's cream background.
const QColor Cream(0xFF, 0xFB, 0xF0);

void setBaseColour(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Base, colour);
    widget->setPalette(palette);
}

} // namespace

// Marks the form busy for the lifetime of one search or export.
class QuickSearchForm::BusyScope
{
public:
    explicit BusyScope(bool &busy)
        : m_busy(busy)
    {
        m_busy = true;
    }
    ~BusyScope() { m_busy = false; }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

private:
    bool &m_busy;
};

QuickSearchForm::QuickSearchForm(CardTree &tree, Dialogs &dialogs, Shell &shell, Spreadsheet &spreadsheet,
                                 MessagePump &pump, QWidget *parent)
    : QWidget(parent)
    , m_tree(tree)
    , m_dialogs(dialogs)
    , m_pump(pump)
    , m_exports(dialogs, shell, spreadsheet, pump, this)
{
    setObjectName(QStringLiteral("QuickSearchForm"));
    buildControls();
    FormCreate();
}

QuickSearchForm::~QuickSearchForm() = default;

void QuickSearchForm::buildControls()
{
    const QColor infoBackground = QToolTip::palette().color(QPalette::ToolTipBase);

    auto *prompt = new QLabel(QStringLiteral("请输入查找条件："), this);
    cmbConStr = new QComboBox(this);
    cmbConStr->setObjectName(QStringLiteral("cmbConStr"));
    cmbConStr->setAccessibleName(QStringLiteral("查找条件"));
    cmbConStr->setEditable(true);
    cmbConStr->setInsertPolicy(QComboBox::NoInsert); // the history is kept by the search
    cmbConStr->setCompleter(nullptr);                // a typed condition is never completed behind the user's back
    cmbConStr->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setBaseColour(cmbConStr, infoBackground);
    cmbConStr->installEventFilter(this);
    cmbConStr->lineEdit()->installEventFilter(this);
    prompt->setBuddy(cmbConStr);

    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setText(QStringLiteral("查找"));
    SpeedButton1->setAccessibleName(QStringLiteral("查找"));
    SpeedButton1->setToolButtonStyle(Qt::ToolButtonTextOnly);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    connect(SpeedButton1, &QToolButton::clicked, this, &QuickSearchForm::SpeedButton1Click);

    auto *conditionRow = new QHBoxLayout;
    conditionRow->addWidget(prompt);
    conditionRow->addWidget(cmbConStr, 1);
    conditionRow->addWidget(SpeedButton1);

    GroupBox1 = new QGroupBox(QStringLiteral("输入的查找条件包含在下列项目中(可以多选)"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    Label2 = new QLabel(QStringLiteral("如果您要按电话查找,请把下面\"电话\"选中;其他类似"), GroupBox1);
    Label2->setObjectName(QStringLiteral("Label2"));
    QFont hintFont = Label2->font();
    hintFont.setUnderline(true);
    Label2->setFont(hintFont);
    QPalette hintPalette = Label2->palette();
    hintPalette.setColor(QPalette::WindowText, Qt::blue);
    Label2->setPalette(hintPalette);

    clb1 = new FieldCheckList(FieldColumns, GroupBox1);
    clb1->setObjectName(QStringLiteral("clb1"));
    clb1->setAccessibleName(QStringLiteral("查找的项目"));
    setBaseColour(clb1, infoBackground);
    for (const QString &caption : FieldCaptions())
        clb1->addCheckItem(caption);

    pmCLB = new QMenu(this);
    pmCLB->setObjectName(QStringLiteral("pmCLB"));
    N4 = pmCLB->addAction(QStringLiteral("全选"));
    N4->setObjectName(QStringLiteral("N4"));
    N5 = pmCLB->addAction(QStringLiteral("全不选"));
    N5->setObjectName(QStringLiteral("N5"));
    connect(N4, &QAction::triggered, this, &QuickSearchForm::N4Click);
    connect(N5, &QAction::triggered, this, &QuickSearchForm::N5Click);
    clb1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(clb1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { pmCLB->popup(clb1->viewport()->mapToGlobal(at)); });

    auto *fieldsLayout = new QVBoxLayout(GroupBox1);
    fieldsLayout->setContentsMargins(5, 5, 5, 5);
    fieldsLayout->addWidget(Label2);
    fieldsLayout->addWidget(clb1);

    GroupBox2 = new QGroupBox(QStringLiteral("搜索结果"), this);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    m_model = new SearchResultModel(m_tree, this);
    lv1 = new QTableView(GroupBox2);
    lv1->setObjectName(QStringLiteral("lv1"));
    lv1->setAccessibleName(QStringLiteral("搜索结果"));
    lv1->setModel(m_model);
    lv1->setShowGrid(true);
    lv1->setSelectionBehavior(QAbstractItemView::SelectRows);
    lv1->setSelectionMode(QAbstractItemView::SingleSelection);
    lv1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lv1->setSortingEnabled(false);
    lv1->setWordWrap(false);
    lv1->verticalHeader()->hide();
    lv1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    lv1->verticalHeader()->setDefaultSectionSize(lv1->fontMetrics().height() + 6);
    lv1->horizontalHeader()->setMinimumSectionSize(MinimumColumnWidth);
    lv1->horizontalHeader()->setSectionsClickable(false);
    lv1->horizontalHeader()->setHighlightSections(false);
    setBaseColour(lv1, Cream);
    auto *resultsLayout = new QVBoxLayout(GroupBox2);
    resultsLayout->setContentsMargins(5, 5, 5, 5);
    resultsLayout->addWidget(lv1);

    const auto makeButton = [this](const char *name, const QString &text) {
        auto *button = new QPushButton(text, this);
        button->setObjectName(QString::fromLatin1(name));
        button->setAccessibleName(text);
        button->setAutoDefault(false);
        return button;
    };
    Button2 = makeButton("Button2", QStringLiteral("结果保存到文件"));
    Button4 = makeButton("Button4", QStringLiteral("结果保存到Excel"));
    Button1 = makeButton("Button1", QStringLiteral("结果发送到EMAIL"));
    Button3 = makeButton("Button3", QStringLiteral("关闭"));
    connect(Button2, &QPushButton::clicked, this, &QuickSearchForm::Button2Click);
    connect(Button4, &QPushButton::clicked, this, &QuickSearchForm::Button4Click);
    connect(Button1, &QPushButton::clicked, this, &QuickSearchForm::Button1Click);
    connect(Button3, &QPushButton::clicked, this, &QuickSearchForm::Button3Click);
    auto *buttonRow = new QHBoxLayout;
    buttonRow->addWidget(Button2);
    buttonRow->addWidget(Button4);
    buttonRow->addWidget(Button1);
    buttonRow->addStretch(1);
    buttonRow->addWidget(Button3);

    sb1 = new QStatusBar(this);
    sb1->setObjectName(QStringLiteral("sb1"));
    sb1->setSizeGripEnabled(false);
    m_status = new QLabel(sb1);
    m_status->setObjectName(QStringLiteral("sb1Text"));
    ReadLabelByItsText(*m_status, QStringLiteral("查找结果")); // screen readers read "共找到N张名片。"
    sb1->addWidget(m_status, 1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(5, 5, 5, 0);
    layout->setSpacing(4);
    layout->addLayout(conditionRow);
    layout->addWidget(GroupBox1);
    layout->addWidget(GroupBox2, 1);
    layout->addLayout(buttonRow);
    layout->addWidget(sb1);

    sizeColumns();
}

void QuickSearchForm::FormCreate()
{
    clb1->setAllChecked(false);
    clb1->setChecked(Field::Name - 1, true);
}

FieldSelection QuickSearchForm::fieldSelection() const
{
    FieldSelection selection{};
    for (int i = 0; i < Field::Count; ++i)
        selection[static_cast<size_t>(i)] = clb1->isChecked(i);
    return selection;
}

const std::vector<TResultRow> &QuickSearchForm::resultRows() const
{
    return m_model->rows();
}

QString QuickSearchForm::statusText() const
{
    return m_status->text();
}

void QuickSearchForm::SpeedButton1Click()
{
    if (m_busy)
        return;
    BusyScope busy(m_busy);

    m_model->clear();
    const QByteArray condition = gb18030::encode(cmbConStr->currentText());
    // The cards found, in result-list order; the list folds their texts
    // when it shows them.
    const FoundCards found = FindCards(m_tree, condition, fieldSelection(), QLocale(), m_pump);
    if (found.emptyCondition) {
        m_dialogs.notice(this, QStringLiteral("请输入查找条件!"));
        return;
    }
    m_model->setFound(found.cards);
    addToHistory(found.condition);
    m_status->setText(FoundCardsStatusText(found.count()));
    sizeColumns();
}

void QuickSearchForm::addToHistory(const QByteArray &condition)
{
    if (!m_history.add(condition))
        return;
    // Adding the first entry would make it the current one and replace the
    // typed text: keep what the user typed.
    const QString typed = cmbConStr->currentText();
    cmbConStr->addItem(gb18030::decode(condition));
    cmbConStr->setEditText(typed);
}

void QuickSearchForm::sizeColumns()
{
    lv1->resizeColumnsToContents();
}

void QuickSearchForm::N4Click()
{
    clb1->setAllChecked(true);
}

void QuickSearchForm::N5Click()
{
    clb1->setAllChecked(false);
}

void QuickSearchForm::Button3Click()
{
    window()->hide();
}

void QuickSearchForm::Button2Click()
{
    if (m_busy)
        return;
    BusyScope busy(m_busy);
    m_exports.SaveResultsToTextFile(m_model->rows(), cmbConStr->currentText());
    m_model->releaseMadeRows();
}

void QuickSearchForm::Button1Click()
{
    if (m_busy)
        return;
    BusyScope busy(m_busy);
    m_exports.SendResultsByMail(m_model->rows());
    m_model->releaseMadeRows();
}

void QuickSearchForm::Button4Click()
{
    if (m_busy)
        return;
    BusyScope busy(m_busy);
    m_exports.ExportResultsToSpreadsheet(m_model->rows());
    m_model->releaseMadeRows();
}

bool QuickSearchForm::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == cmbConStr || watched == cmbConStr->lineEdit()) && event->type() == QEvent::KeyPress)
        return cmbConStrKeyDown(static_cast<QKeyEvent *>(event));
    return QWidget::eventFilter(watched, event);
}

bool QuickSearchForm::cmbConStrKeyDown(QKeyEvent *event)
{
    // Enter runs the search whatever Shift, Ctrl or Alt are held; every
    // other key belongs to the box.
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
        return false;
    SpeedButton1Click();
    return true;
}

} // namespace kelvo
