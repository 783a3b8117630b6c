#include "TfrmProgress.h"

#include "AccessibleTexts.h"
#include "CjkFont.h"
#include "TGauge.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

namespace kelvo {

namespace {

// Repaints beyond this rate cannot be seen; a save of many nodes would spend
// its time drawing the same bar.
constexpr int MinRepaintIntervalMs = 15;

} // namespace

TfrmProgress::TfrmProgress(QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("frmProgress"));
    setWindowTitle(QString());
    setFixedSize(ClientWidth, ClientHeight);
    setFont(CjkFont(13));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAttribute(Qt::WA_TranslucentBackground);
    Label1->setGeometry(12, 8, ClientWidth - 24, 16);
    ReadLabelByItsText(*Label1, QStringLiteral("保存或载入数据的提示"));

    gg1 = new TGauge(this);
    gg1->setObjectName(QStringLiteral("gg1"));
    gg1->setAccessibleName(tr("进度"));
    gg1->setGeometry(12, 28, 357, 25);
}

void TfrmProgress::showCentred()
{
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->geometry();
        move(available.center() - QPoint(width() / 2, height() / 2));
    }
    show();
}

void TfrmProgress::ShowSaveProgress(int n)
{
    gg1->setRange(0, n);
    gg1->setProgress(0);
    gg1->setVisible(true);
    Label1->setText(QStringLiteral("Warning：必须在保存完数据后才能关闭,否则数据会丢失！"));
    setWindowTitle(QStringLiteral("正在保存数据,请稍候....."));
    showCentred();
    m_paintedPercent = -1;
    m_paintedWidth = -1;
    m_sinceRepaint.invalidate();
    RefreshProgress();
}

void TfrmProgress::RefreshProgress()
{
    const int percent = gg1->percentDone();
    const int width = gg1->doneWidth(gg1->width());
    if (percent == m_paintedPercent && width == m_paintedWidth)
        return; // the bar would look the same
    const bool finalState = gg1->progress() == gg1->maxValue();
    if (!finalState && m_sinceRepaint.isValid() && m_sinceRepaint.elapsed() < MinRepaintIntervalMs)
        return;
    m_paintedPercent = percent;
    m_paintedWidth = width;
    m_sinceRepaint.start();
    ++m_repaints;
    if (isVisible())
        repaint();
}

void TfrmProgress::StepProgress()
{
    gg1->addProgress(1);
}

void TfrmProgress::ShowLoadProgress()
{
    gg1->setRange(0, 0);
    gg1->setVisible(false);
    Label1->setText(QStringLiteral("正在初始化数据，请稍候..."));
    setWindowTitle(QString());
    showCentred();
    if (isVisible())
        repaint();
}

void TfrmProgress::CloseProgress()
{
    gg1->setVisible(true);
    hide();
}

} // namespace kelvo
