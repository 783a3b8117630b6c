#include "ChineseQtTexts.h"

#include <QCoreApplication>
#include <QHash>
#include <QLibraryInfo>

namespace kelvo {

namespace {

struct QtText
{
    const char *context;
    const char *source;
    const char16_t *chinese;
};

// Qt's texts that the program's boxes, save dialogs and editor menus can
// show, by Qt's own context and source text. Written in the style of Qt's
// Chinese catalogue, so a system with an incomplete catalogue reads the same.
constexpr QtText Texts[] = {
    // Stock buttons.
    {"QPlatformTheme", "OK", u"确定"},
    {"QPlatformTheme", "Save", u"保存"},
    {"QPlatformTheme", "&Save", u"保存(&S)"},
    {"QPlatformTheme", "Open", u"打开"},
    {"QPlatformTheme", "Cancel", u"取消"},
    {"QPlatformTheme", "Close", u"关闭"},
    {"QPlatformTheme", "&Yes", u"是(&Y)"},
    {"QPlatformTheme", "&No", u"否(&N)"},
    {"QPlatformTheme", "Yes to &All", u"全部是(&A)"},
    {"QPlatformTheme", "N&o to All", u"全部否(&O)"},
    {"QPlatformTheme", "Apply", u"应用"},
    {"QPlatformTheme", "Help", u"帮助"},
    {"QDialogButtonBox", "OK", u"确定"},
    {"QMessageBox", "OK", u"确定"},
    {"QMessageBox", "Show Details...", u"显示详细信息..."},
    {"QMessageBox", "Hide Details...", u"隐藏详细信息..."},

    // The file dialog (Qt's own, not the desktop's).
    {"QFileDialog", "Save As", u"另存为"},
    {"QFileDialog", "Look in:", u"查找范围："},
    {"QFileDialog", "File &name:", u"文件名称(&N)："},
    {"QFileDialog", "Files of type:", u"文件类型："},
    {"QFileDialog", "Directory:", u"目录："},
    {"QFileDialog", "&Save", u"保存(&S)"},
    {"QFileDialog", "Save", u"保存"},
    {"QFileDialog", "&Open", u"打开(&O)"},
    {"QFileDialog", "Open", u"打开"},
    {"QFileDialog", "&Choose", u"选择(&C)"},
    {"QFileDialog", "Back", u"后退"},
    {"QFileDialog", "Forward", u"前进"},
    {"QFileDialog", "Parent Directory", u"父目录"},
    {"QFileDialog", "Create New Folder", u"新建文件夹"},
    {"QFileDialog", "List View", u"列表视图"},
    {"QFileDialog", "Detail View", u"详情视图"},
    {"QFileDialog", "Sidebar", u"侧边栏"},
    {"QFileDialog", "Files", u"文件"},
    {"QFileDialog", "List of places and bookmarks", u"位置和书签列表"},
    {"QFileDialog", "Go back", u"后退"},
    {"QFileDialog", "Go forward", u"前进"},
    {"QFileDialog", "Go to the parent directory", u"转到父目录"},
    {"QFileDialog", "Create new folder", u"新建文件夹"},
    {"QFileDialog", "Show a list of files", u"以列表显示文件"},
    {"QFileDialog", "Show a detailed list of files", u"显示文件的详细信息"},
    {"QFileDialog", "Recent Places", u"最近位置"},
    {"QFileDialog", "&Rename", u"重命名(&R)"},
    {"QFileDialog", "&Delete", u"删除(&D)"},
    {"QFileDialog", "Delete", u"删除"},
    {"QFileDialog", "Show &hidden files", u"显示隐藏文件(&H)"},
    {"QFileDialog", "&New Folder", u"新建文件夹(&N)"},
    {"QFileDialog", "New Folder", u"新建文件夹"},
    {"QFileDialog", "All Files (*)", u"所有文件 (*)"},
    {"QFileDialog", "Directories", u"目录"},
    {"QFileDialog", "Folder", u"文件夹"},
    {"QFileDialog", "File Folder", u"文件夹"},
    {"QFileDialog", "File", u"文件"},
    {"QFileDialog", "Drive", u"驱动器"},
    {"QFileDialog", "Unknown", u"未知"},
    {"QFileDialog", "Show ", u"显示 "},
    {"QFileDialog", "%1 already exists.\nDo you want to replace it?", u"%1 已存在。\n您想要替换它吗？"},
    {"QFileDialog", "%1\nDirectory not found.\nPlease verify the correct directory name was given.",
     u"%1\n找不到目录。\n请确认给出的目录名称是否正确。"},
    {"QFileDialog", "Are you sure you want to delete '%1'?", u"您确定要删除“%1”吗？"},
    {"QFileDialog", "'%1' is write protected.\nDo you want to delete it anyway?",
     u"“%1”已被写入保护。\n您仍然想要删除它吗？"},
    {"QFileDialog", "Could not delete directory.", u"无法删除目录。"},
    {"QFileSystemModel", "Name", u"名称"},
    {"QFileSystemModel", "Size", u"大小"},
    {"QFileSystemModel", "Type", u"类型"},
    {"QFileSystemModel", "Kind", u"类型"},
    {"QFileSystemModel", "Date Modified", u"修改日期"},
    {"QFileSystemModel", "Computer", u"计算机"},
    {"QFileSystemModel", "My Computer", u"我的电脑"},
    {"QFileSystemModel", "Invalid filename", u"无效的文件名"},
    {"QAbstractFileIconProvider", "Folder", u"文件夹"},
    {"QAbstractFileIconProvider", "File", u"文件"},
    {"QAbstractFileIconProvider", "%1 File", u"%1 文件"},
    {"QAbstractFileIconProvider", "Drive", u"驱动器"},
    {"QAbstractFileIconProvider", "Shortcut", u"快捷方式"},
    {"QLocale", "%1 bytes", u"%1 字节"},

    // The editors' context menus.
    {"QLineEdit", "&Undo", u"撤消(&U)"},
    {"QLineEdit", "&Redo", u"重做(&R)"},
    {"QLineEdit", "Cu&t", u"剪切(&T)"},
    {"QLineEdit", "&Copy", u"复制(&C)"},
    {"QLineEdit", "&Paste", u"粘贴(&P)"},
    {"QLineEdit", "Delete", u"删除"},
    {"QLineEdit", "Select All", u"全选"},
    {"QWidgetTextControl", "&Undo", u"撤消(&U)"},
    {"QWidgetTextControl", "&Redo", u"重做(&R)"},
    {"QWidgetTextControl", "Cu&t", u"剪切(&T)"},
    {"QWidgetTextControl", "&Copy", u"复制(&C)"},
    {"QWidgetTextControl", "Copy &Link Location", u"复制链接位置(&L)"},
    {"QWidgetTextControl", "&Paste", u"粘贴(&P)"},
    {"QWidgetTextControl", "Delete", u"删除"},
    {"QWidgetTextControl", "Select All", u"全选"},

    // The scroll bars' context menu.
    {"QScrollBar", "Scroll here", u"滚动至此"},
    {"QScrollBar", "Left edge", u"左边缘"},
    {"QScrollBar", "Top", u"顶端"},
    {"QScrollBar", "Right edge", u"右边缘"},
    {"QScrollBar", "Bottom", u"底部"},
    {"QScrollBar", "Page left", u"向左翻页"},
    {"QScrollBar", "Page up", u"向上翻页"},
    {"QScrollBar", "Page right", u"向右翻页"},
    {"QScrollBar", "Page down", u"向下翻页"},
    {"QScrollBar", "Scroll left", u"向左滚动"},
    {"QScrollBar", "Scroll up", u"向上滚动"},
    {"QScrollBar", "Scroll right", u"向右滚动"},
    {"QScrollBar", "Scroll down", u"向下滚动"},

    // What a screen reader says a control can do.
    {"QAccessibleActionInterface", "Press", u"按下"},
    {"QAccessibleActionInterface", "Increase", u"变大"},
    {"QAccessibleActionInterface", "Decrease", u"变小"},
    {"QAccessibleActionInterface", "ShowMenu", u"显示菜单"},
    {"QAccessibleActionInterface", "SetFocus", u"设置焦点"},
    {"QAccessibleActionInterface", "Toggle", u"切换"},
    {"QAccessibleActionInterface", "Triggers the action", u"触发操作"},
    {"QAccessibleActionInterface", "Shows the menu", u"显示菜单"},
    {"QAccessibleActionInterface", "Sets the focus", u"设置焦点"},
    {"QAccessibleActionInterface", "Toggles the state", u"切换状态"},
};

QByteArray keyOf(const char *context, const char *source)
{
    return QByteArray(context) + '\x04' + source;
}

const QHash<QByteArray, QString> &textTable()
{
    static const QHash<QByteArray, QString> table = [] {
        QHash<QByteArray, QString> texts;
        for (const QtText &text : Texts)
            texts.insert(keyOf(text.context, text.source), QString::fromUtf16(text.chinese));
        return texts;
    }();
    return table;
}

} // namespace

QString FallbackQtTexts::translate(const char *context, const char *sourceText, const char *, int) const
{
    if (!context || !sourceText)
        return {};
    return textTable().value(keyOf(context, sourceText));
}

QString ChineseQtTexts::installedCatalogueFolder()
{
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

ChineseQtTexts::ChineseQtTexts(QCoreApplication &app, const QString &catalogueFolder)
    : m_app(app)
    , m_fallback(std::make_unique<FallbackQtTexts>())
    , m_qtCatalogue(std::make_unique<QTranslator>())
{
    // The translator installed last is asked first: Qt's catalogue answers
    // what it knows, the program's own texts the rest.
    m_app.installTranslator(m_fallback.get());
    if (m_qtCatalogue->load(QStringLiteral("qtbase_zh_CN"), catalogueFolder))
        m_qtCatalogueInstalled = m_app.installTranslator(m_qtCatalogue.get());
}

ChineseQtTexts::~ChineseQtTexts()
{
    if (m_qtCatalogueInstalled)
        m_app.removeTranslator(m_qtCatalogue.get());
    m_app.removeTranslator(m_fallback.get());
}

} // namespace kelvo
