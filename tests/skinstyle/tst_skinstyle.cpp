// The skin's style: which picture and frame each element shows in each state,
// at device pixel ratios 1, 2 and 1.5; hit testing against painting; focus;
// the fallback to Fusion; the skin's window frame and caption.

#include "SkinArchive.h"
#include "SkinData.h"
#include "SkinStyle.h"
#include "SkinWindowFrame.h"

#include <QAccessible>
#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <functional>
#include <memory>

using namespace kelvo;

namespace {

constexpr QRgb Background = 0xff010203;
constexpr int FrameSide = 10; // every test picture: frames of 10 x 10
constexpr int Margin = 3;     // and borders of 3 on each side

// Nine cells: 0 top-left, 1 top, 2 top-right, 3 left, 4 centre, 5 right,
// 6 bottom-left, 7 bottom, 8 bottom-right.
QRgb cellColour(int part, int frame, int cell)
{
    return qRgb(16 + part * 11, 20 + frame * 9, 30 + cell * 25);
}

int cellOf(int x, int y)
{
    const auto band = [](int v) { return v < Margin ? 0 : v >= FrameSide - Margin ? 2 : 1; };
    return band(y) * 3 + band(x);
}

// A picture of `frames` frames side by side, each cell of each frame in its
// own colour.
QByteArray cellPicture(int part, int frames, QImage *out = nullptr, bool keyPixel = false)
{
    QImage image(FrameSide * frames, FrameSide, QImage::Format_RGB32);
    for (int f = 0; f < frames; ++f)
        for (int y = 0; y < FrameSide; ++y)
            for (int x = 0; x < FrameSide; ++x)
                image.setPixel(f * FrameSide + x, y, cellColour(part, f + 1, cellOf(x, y)));
    if (keyPixel)
        image.setPixel(0, 0, SkinTransparentColour);
    if (out)
        *out = image;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes;
}

struct PartPicture
{
    const char *section;
    const char *key;
    const char *file;
    int frames;
};

const PartPicture Pictures[] = {
    {"Personality", "Top", "title.bmp", 2},       {"Buttons", "Bitmap", "button.bmp", 5},
    {"ComboButton", "Image", "combo.bmp", 4},     {"SunkEdge", "Image", "sunk.bmp", 4},
    {"GroupBoxEdge", "Image", "group.bmp", 2},    {"Toolbars", "Image", "tool.bmp", 5},
    {"StatusBarEdges", "Image", "status.bmp", 3}, {"Headerbar", "Image", "header.bmp", 5},
    {"MenuItem", "Image", "item.bmp", 5},         {"MenuBackground", "Image", "menubg.bmp", 1},
    {"Scrollbar", "Image", "arrows.bmp", 23},     {"HorzScroll", "Image", "hs.bmp", 4},
    {"VertScroll", "Image", "vs.bmp", 4},         {"HorzScrollThumb", "Image", "ht.bmp", 3},
    {"VertScrollThumb", "Image", "vt.bmp", 3},    {"Progress", "Bitmap", "progress.bmp", 2},
};

// The test skin, without the sections named in `leaveOut`.
std::unique_ptr<TSkinData> makeSkin(const QList<QByteArray> &leaveOut = {})
{
    QList<SkinArchiveEntry> entries;
    QByteArray ini = "[TitlebarSkin]\r\nSkinName=Cells\r\n[Colours]\r\nWindow=250 250 250\r\nText=10 20 30\r\n";
    int part = 0;
    for (const PartPicture &p : Pictures) {
        ++part;
        if (leaveOut.contains(p.section))
            continue;
        entries.append({p.file, cellPicture(part, p.frames)});
        ini += QByteArray("[") + p.section + "]\r\n" + p.key + "=" + p.file + "\r\nLeftWidth=3\r\nTopHeight=3\r\n"
            + "RightWidth=3\r\nBottomHeight=3\r\n";
        if (QByteArray(p.section) == "Buttons") {
            ini += "CheckButton=check.bmp\r\nCheckButtonFrame=8\r\n";
            entries.append({"check.bmp", cellPicture(40, 8, nullptr, true)});
        }
        if (QByteArray(p.section) == "Personality")
            ini += "Left=side.bmp\r\nRight=side.bmp\r\nBottom=side.bmp\r\n";
    }
    entries.append({"side.bmp", cellPicture(41, 2)});
    entries.append({"cells.ini", ini});
    const SkinArchiveBuild build = buildSkinArchive(entries);
    if (!build.ok)
        qFatal("cannot build the test skin");
    auto skin = std::make_unique<TSkinData>();
    skin->loadSkin(build.bytes);
    return skin;
}

int partNumber(const char *section)
{
    int n = 0;
    for (const PartPicture &p : Pictures) {
        ++n;
        if (QByteArray(p.section) == section)
            return n;
    }
    return 0;
}

using Painting = std::function<void(QStyle *, QPainter *, const QRect &)>;

QImage paint(QStyle *style, const Painting &painting, QSize size, qreal dpr)
{
    QImage image(QSize(qRound(size.width() * dpr), qRound(size.height() * dpr)), QImage::Format_ARGB32);
    image.setDevicePixelRatio(dpr);
    image.fill(Background);
    QPainter painter(&image);
    painting(style, &painter, QRect(QPoint(0, 0), size));
    painter.end();
    return image;
}

Painting primitive(QStyle::PrimitiveElement element, QStyle::State state)
{
    return [=](QStyle *style, QPainter *painter, const QRect &rect) {
        QStyleOptionFrame option; // carries a line width for the editors
        option.rect = rect;
        option.state = state;
        option.lineWidth = 1;
        style->drawPrimitive(element, &option, painter);
    };
}

Painting control(QStyle::ControlElement element, QStyle::State state)
{
    return [=](QStyle *style, QPainter *painter, const QRect &rect) {
        QStyleOptionMenuItem menu; // the menu item's option serves every element tested
        menu.rect = rect;
        menu.state = state;
        menu.menuItemType = QStyleOptionMenuItem::Normal;
        if (element == QStyle::CE_HeaderSection || element == QStyle::CE_ToolBar
            || element == QStyle::CE_ProgressBarGroove) {
            QStyleOptionHeader header;
            header.rect = rect;
            header.state = state;
            style->drawControl(element, &header, painter);
            return;
        }
        style->drawControl(element, &menu, painter);
    };
}

} // namespace

Q_DECLARE_METATYPE(Painting)

class TestSkinStyle : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void elementFrames_data();
    void elementFrames();
    void transparentColourShowsBackground();
    void missingPartIsFusions_data();
    void missingPartIsFusions();
    void subControlsHitWherePainted_data();
    void subControlsHitWherePainted();
    void focusIsVisible_data();
    void focusIsVisible();
    void captionButtons_data();
    void captionButtons();
    void frameGoesAroundContents();
    void captionDragMovesByHand();
    void userStyleChoice_data();
    void userStyleChoice();
    void storedSkinHasEveryPicture();
};

void TestSkinStyle::elementFrames_data()
{
    QTest::addColumn<Painting>("painting");
    QTest::addColumn<int>("part");
    QTest::addColumn<int>("frame");
    QTest::addColumn<bool>("border"); // only the border: the centre is left
    QTest::addColumn<qreal>("dpr");
    const QStyle::State on = QStyle::State_Enabled;
    struct Row
    {
        const char *name;
        Painting painting;
        const char *section;
        int frame;
        bool border;
    };
    const Row rows[] = {
        {"button normal", primitive(QStyle::PE_PanelButtonCommand, on), "Buttons", 1, false},
        {"button hover", primitive(QStyle::PE_PanelButtonCommand, on | QStyle::State_MouseOver), "Buttons", 2, false},
        {"button pressed", primitive(QStyle::PE_PanelButtonCommand, on | QStyle::State_Sunken), "Buttons", 3, false},
        {"button disabled", primitive(QStyle::PE_PanelButtonCommand, {}), "Buttons", 4, false},
        {"button focused", primitive(QStyle::PE_PanelButtonCommand, on | QStyle::State_HasFocus), "Buttons", 5, false},
        {"button focused hover",
         primitive(QStyle::PE_PanelButtonCommand, on | QStyle::State_HasFocus | QStyle::State_MouseOver), "Buttons", 2,
         false},
        {"tool button hover", primitive(QStyle::PE_PanelButtonTool, on | QStyle::State_MouseOver), "Toolbars", 2,
         false},
        {"tool button checked", primitive(QStyle::PE_PanelButtonTool, on | QStyle::State_On), "Toolbars", 3, false},
        {"tool bar", control(QStyle::CE_ToolBar, on), "Toolbars", 1, false},
        {"header normal", control(QStyle::CE_HeaderSection, on), "Headerbar", 1, false},
        {"header pressed", control(QStyle::CE_HeaderSection, on | QStyle::State_Sunken), "Headerbar", 3, false},
        {"status bar", primitive(QStyle::PE_PanelStatusBar, on), "StatusBarEdges", 1, false},
        {"menu", primitive(QStyle::PE_PanelMenu, on), "MenuBackground", 1, false},
        {"menu item selected", control(QStyle::CE_MenuItem, on | QStyle::State_Selected), "MenuItem", 2, false},
        {"progress groove", control(QStyle::CE_ProgressBarGroove, on), "Progress", 1, false},
        {"line edit", primitive(QStyle::PE_FrameLineEdit, on), "SunkEdge", 1, true},
        {"line edit focused", primitive(QStyle::PE_FrameLineEdit, on | QStyle::State_HasFocus), "SunkEdge", 3, true},
        {"line edit disabled", primitive(QStyle::PE_FrameLineEdit, {}), "SunkEdge", 4, true},
        {"group box", primitive(QStyle::PE_FrameGroupBox, on), "GroupBoxEdge", 1, true},
    };
    for (const Row &row : rows) {
        for (qreal dpr : {1.0, 2.0, 1.5}) {
            QTest::addRow("%s @%g", row.name, dpr)
                << row.painting << partNumber(row.section) << row.frame << row.border << dpr;
        }
    }
}

void TestSkinStyle::elementFrames()
{
    QFETCH(Painting, painting);
    QFETCH(int, part);
    QFETCH(int, frame);
    QFETCH(bool, border);
    QFETCH(qreal, dpr);
    const auto skin = makeSkin();
    SkinStyle style(*skin);
    QVERIFY(style.isSkinned());
    const QSize size(40, 30);
    const QImage image = paint(&style, painting, size, dpr);
    const int w = image.width();
    const int h = image.height();
    if (dpr == 1.5) {
        // No seams: not one pixel of what lay below shows in the border,
        // nor anywhere in a whole nine-grid.
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const int m = int(Margin * dpr);
                const bool inBorder = x < m || y < m || x >= w - m || y >= h - m;
                if (!border || inBorder)
                    QVERIFY2(image.pixel(x, y) != Background, qPrintable(QStringLiteral("gap at %1,%2").arg(x).arg(y)));
            }
        }
        return;
    }
    // Exact: each cell of the frame where the nine-grid puts it; at twice the
    // size every skin pixel is a 2 x 2 block, so the outermost device pixels
    // and the ones next to them agree.
    const int m = int(Margin * dpr);
    const QPoint probes[9] = {{0, 0},         {w / 2, 0}, {w - 1, 0},     {0, h / 2},    {w / 2, h / 2},
                              {w - 1, h / 2}, {0, h - 1}, {w / 2, h - 1}, {w - 1, h - 1}};
    for (int cell = 0; cell < 9; ++cell) {
        const QRgb expected = (border && cell == 4) ? Background : cellColour(part, frame, cell);
        QCOMPARE(image.pixel(probes[cell]), expected);
    }
    // The last device pixel of the top-left corner, and the first of the edge.
    QCOMPARE(image.pixel(m - 1, m - 1), cellColour(part, frame, 0));
    QCOMPARE(image.pixel(m, 0), cellColour(part, frame, 1));
}

void TestSkinStyle::transparentColourShowsBackground()
{
    const auto skin = makeSkin();
    SkinStyle style(*skin);
    const QImage image =
        paint(&style, primitive(QStyle::PE_IndicatorCheckBox, QStyle::State_Enabled | QStyle::State_On),
              QSize(FrameSide, FrameSide), 2);
    // Frame 5 (checked): its own colours; the magenta pixel of frame 1 is
    // not in it, so probe frame 1 too.
    QCOMPARE(image.pixel(0, 0), cellColour(40, 5, 0));
    const QImage unchecked =
        paint(&style, primitive(QStyle::PE_IndicatorCheckBox, QStyle::State_Enabled), QSize(FrameSide, FrameSide), 2);
    QCOMPARE(unchecked.pixel(0, 0), Background);
    QCOMPARE(unchecked.pixel(1, 1), Background);
    QCOMPARE(unchecked.pixel(2, 0), cellColour(40, 1, 0));
}

void TestSkinStyle::missingPartIsFusions_data()
{
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<Painting>("painting");
    QTest::addColumn<bool>("skinLoaded");
    const QStyle::State on = QStyle::State_Enabled | QStyle::State_MouseOver;
    QTest::newRow("no Buttons") << QByteArray("Buttons") << primitive(QStyle::PE_PanelButtonCommand, on) << true;
    QTest::newRow("no Headerbar") << QByteArray("Headerbar") << control(QStyle::CE_HeaderSection, on) << true;
    QTest::newRow("no SunkEdge") << QByteArray("SunkEdge") << primitive(QStyle::PE_FrameLineEdit, on) << true;
    QTest::newRow("no MenuItem") << QByteArray("MenuItem") << control(QStyle::CE_MenuItem, on | QStyle::State_Selected)
                                 << true;
    QTest::newRow("skin off") << QByteArray() << primitive(QStyle::PE_PanelButtonCommand, on) << false;
}

void TestSkinStyle::missingPartIsFusions()
{
    QFETCH(QByteArray, section);
    QFETCH(Painting, painting);
    QFETCH(bool, skinLoaded);
    auto skin = makeSkin({section});
    if (!skinLoaded)
        skin->setActive(false);
    SkinStyle style(*skin);
    QCOMPARE(style.isSkinned(), skinLoaded);
    std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    const Painting withPalette = [&](QStyle *s, QPainter *p, const QRect &r) { painting(s, p, r); };
    QCOMPARE(paint(&style, withPalette, QSize(40, 24), 1), paint(fusion.get(), withPalette, QSize(40, 24), 1));
}

void TestSkinStyle::subControlsHitWherePainted_data()
{
    QTest::addColumn<int>("orientation");
    QTest::newRow("horizontal") << int(Qt::Horizontal);
    QTest::newRow("vertical") << int(Qt::Vertical);
}

void TestSkinStyle::subControlsHitWherePainted()
{
    QFETCH(int, orientation);
    const auto skin = makeSkin();
    SkinStyle style(*skin);
    QScrollBar bar{Qt::Orientation(orientation)};
    bar.setStyle(&style);
    bar.setRange(0, 100);
    bar.setPageStep(20);
    bar.setValue(40);
    bar.resize(orientation == Qt::Horizontal ? QSize(200, FrameSide) : QSize(FrameSide, 200));
    const QImage grab = bar.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    QStyleOptionSlider option;
    option.initFrom(&bar);
    option.orientation = bar.orientation();
    option.minimum = bar.minimum();
    option.maximum = bar.maximum();
    option.sliderPosition = option.sliderValue = bar.value();
    option.pageStep = bar.pageStep();
    option.singleStep = bar.singleStep();
    option.subControls = QStyle::SC_All;
    if (bar.orientation() == Qt::Horizontal)
        option.state |= QStyle::State_Horizontal;
    const bool horizontal = orientation == Qt::Horizontal;
    struct Expect
    {
        QStyle::SubControl sub;
        int part;
        int frame;
    };
    const Expect expects[] = {
        {QStyle::SC_ScrollBarSubLine, partNumber("Scrollbar"), horizontal ? 9 : 1},
        {QStyle::SC_ScrollBarAddLine, partNumber("Scrollbar"), horizontal ? 13 : 5},
        {QStyle::SC_ScrollBarSlider, partNumber(horizontal ? "HorzScrollThumb" : "VertScrollThumb"), 1},
        {QStyle::SC_ScrollBarSubPage, partNumber(horizontal ? "HorzScroll" : "VertScroll"), 1},
        {QStyle::SC_ScrollBarAddPage, partNumber(horizontal ? "HorzScroll" : "VertScroll"), 1},
    };
    for (const Expect &e : expects) {
        const QRect r = style.subControlRect(QStyle::CC_ScrollBar, &option, e.sub, &bar);
        QVERIFY(!r.isEmpty());
        const QPoint centre = r.center();
        QCOMPARE(style.hitTestComplexControl(QStyle::CC_ScrollBar, &option, centre, &bar), e.sub);
        // The centre of the painted piece: its centre cell (a page shows the
        // groove, which holds the centre cell wherever the bar is long).
        QCOMPARE(grab.pixel(centre), cellColour(e.part, e.frame, 4));
    }

    QComboBox combo;
    combo.setStyle(&style);
    combo.setEditable(true);
    combo.resize(120, 24);
    QStyleOptionComboBox comboOption;
    comboOption.initFrom(&combo);
    comboOption.editable = true;
    comboOption.frame = true;
    comboOption.subControls = QStyle::SC_All;
    const QRect arrow = style.subControlRect(QStyle::CC_ComboBox, &comboOption, QStyle::SC_ComboBoxArrow, &combo);
    QCOMPARE(style.hitTestComplexControl(QStyle::CC_ComboBox, &comboOption, arrow.center(), &combo),
             QStyle::SC_ComboBoxArrow);
    const QImage comboGrab = combo.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(comboGrab.pixel(arrow.center()), cellColour(partNumber("ComboButton"), 1, 4));
    QVERIFY(!style.subControlRect(QStyle::CC_ComboBox, &comboOption, QStyle::SC_ComboBoxEditField, &combo)
                 .intersects(arrow));
}

void TestSkinStyle::focusIsVisible_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("push button") << QStringLiteral("button");
    QTest::newRow("check box") << QStringLiteral("check");
}

void TestSkinStyle::focusIsVisible()
{
    QFETCH(QString, kind);
    const auto skin = makeSkin();
    SkinStyle style(*skin);
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    QWidget *control = kind == QLatin1String("button") ? static_cast<QWidget *>(new QPushButton(QStringLiteral("确定")))
                                                       : new QCheckBox(QStringLiteral("姓名"));
    auto *other = new QPushButton(QStringLiteral("其他"));
    layout->addWidget(control);
    layout->addWidget(other);
    window.setStyle(&style);
    control->setStyle(&style);
    other->setStyle(&style);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    other->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(other->hasFocus());
    const QImage unfocused = control->grab().toImage();
    control->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(control->hasFocus());
    const QImage focused = control->grab().toImage();
    QVERIFY(focused != unfocused);
}

void TestSkinStyle::captionButtons_data()
{
    QTest::addColumn<int>("buttons");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("main window") << int(CaptionButton::Minimize | CaptionButton::Close)
                                 << QStringList{QStringLiteral("最小化"), QStringLiteral("关闭")};
    QTest::newRow("search window") << int(CaptionButton::Close) << QStringList{QStringLiteral("关闭")};
    QTest::newRow("progress window") << int(CaptionButton::None) << QStringList{};
}

void TestSkinStyle::captionButtons()
{
    QFETCH(int, buttons);
    QFETCH(QStringList, names);
    const auto skin = makeSkin();
    SkinStyle style(*skin);
    QWidget window;
    SkinWindowFrame *frame = SkinWindowFrame::decorate(&window, style, CaptionButtons(buttons));
    QVERIFY(frame);
    QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
    QStringList found;
    for (QToolButton *button : frame->caption()->findChildren<QToolButton *>()) {
        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(button);
        QVERIFY(face);
        QCOMPARE(face->role(), QAccessible::Button);
        found << face->text(QAccessible::Name);
        QCOMPARE(button->focusPolicy(), Qt::NoFocus); // the focus order stays the window's
    }
    found.sort();
    names.sort();
    QCOMPARE(found, names);
}

void TestSkinStyle::frameGoesAroundContents()
{
    const auto skin = makeSkin();
    SkinStyle style(*skin);
    QWidget window;
    window.setFixedSize(379, 68);
    SkinWindowFrame *frame = SkinWindowFrame::decorate(&window, style, CaptionButton::None);
    QVERIFY(frame);
    const QMargins m = frame->frameMargins();
    QCOMPARE(m, QMargins(FrameSide, FrameSide, FrameSide, FrameSide));
    QCOMPARE(window.contentsRect().size(), QSize(379, 68));
    QCOMPARE(window.size(), QSize(379 + m.left() + m.right(), 68 + m.top() + m.bottom()));
    QCOMPARE(window.minimumSize(), window.maximumSize());
}

void TestSkinStyle::captionDragMovesByHand()
{
    const auto skin = makeSkin();
    SkinStyle style(*skin);
    QWidget window;
    window.resize(300, 200);
    SkinWindowFrame *frame = SkinWindowFrame::decorate(&window, style, CaptionButton::Close);
    window.move(100, 100);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QPoint start = window.pos();
    SkinCaption *caption = frame->caption();
    const QPoint local(40, 5);
    const QPoint global = caption->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(caption, &press);
    QMouseEvent move(QEvent::MouseMove, local + QPoint(30, 20), global + QPoint(30, 20), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(caption, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, local + QPoint(30, 20), global + QPoint(30, 20), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(caption, &release);
    // The offscreen platform refuses a system move: the caption moved it.
    QVERIFY(caption->lastMoveByHand());
    QCOMPARE(window.pos(), start + QPoint(30, 20));

    // A double click and a right click (no window manager's menu here)
    // leave the window where it is.
    QTest::mouseDClick(caption, Qt::LeftButton, Qt::NoModifier, local);
    QTest::mouseClick(caption, Qt::RightButton, Qt::NoModifier, local);
    QCOMPARE(window.pos(), start + QPoint(30, 20));
    QVERIFY(window.isVisible());
}

void TestSkinStyle::userStyleChoice_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("chose");
    QTest::newRow("none") << QStringList{"kelvo"} << false;
    QTest::newRow("-style Fusion") << QStringList{"kelvo", "-style", "Fusion"} << true;
    QTest::newRow("-style=Fusion") << QStringList{"kelvo", "-style=Fusion"} << true;
    QTest::newRow("--style windows") << QStringList{"kelvo", "--style", "windows"} << true;
    QTest::newRow("-stylesheet") << QStringList{"kelvo", "-stylesheet", "a.qss"} << false;
}

void TestSkinStyle::userStyleChoice()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, chose);
    qunsetenv("QT_STYLE_OVERRIDE");
    QList<QByteArray> bytes;
    std::vector<const char *> argv;
    for (const QString &a : arguments)
        bytes << a.toUtf8();
    for (const QByteArray &b : bytes)
        argv.push_back(b.constData());
    QCOMPARE(userChoseStyle(int(argv.size()), argv.data()), chose);
    qputenv("QT_STYLE_OVERRIDE", "Fusion");
    QVERIFY(userChoseStyle(int(argv.size()), argv.data()));
    qunsetenv("QT_STYLE_OVERRIDE");
}

void TestSkinStyle::storedSkinHasEveryPicture()
{
    // Kelvo Light, as the main window carries it: every picture the painting
    // uses is there.
    QFile stored(QStringLiteral(":/skin/kelvo.skin"));
    if (!stored.open(QIODevice::ReadOnly))
        QSKIP("built without the stored skin");
    TSkinData skin;
    QVERIFY(skin.loadStoredProperty(stored.readAll()));
    SkinStyle style(skin);
    QVERIFY(style.isSkinned());
    for (int id = 0; id < SkinPieceCount; ++id) {
        if (id == int(SkinPartId::Tabs) || id == int(SkinPartId::ExtraImages))
            continue; // no window of the program has tabs or extra buttons
        QVERIFY2(style.hasPiece(SkinPieceId(id)), qPrintable(QString::number(id)));
    }
}

QTEST_MAIN(TestSkinStyle)
#include "tst_skinstyle.moc"
