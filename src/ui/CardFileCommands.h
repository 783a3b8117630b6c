#pragma once

#include "CardExport.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace kelvo {

class CardNode;
class CardTreeHost;

// The "工具" menu's exchange with other programs: vCard and CSV files
// imported into the card tree, and cards exported to such a file.
class CardFileCommands
{
public:
    explicit CardFileCommands(CardTreeHost &host)
        : m_host(host)
    {
    }

    // "导入名片...": the chosen files go into the card class of the selected
    // node, exactly as a drop of them onto that node (CardFileImport); with
    // no node selected, or a card outside any class, into the reserved card
    // class (made at the end of the top level when the tree has none), where
    // a new card goes when nothing is selected.
    void actImportCardsExecute();
    // "导出名片...": the selected card, or every card below the selected
    // class, or every card of the tree when nothing is selected, written to
    // the chosen file as vCard 3.0 or CSV, as the dialog's file type says.
    void actExportCardsExecute();

    // The open dialog's filter and the save dialog's file types.
    static QString importFilter();
    static QStringList exportFilters();
    static QStringList exportSuffixes();
    // The format of each of the save dialog's types.
    static exchange::ExportFormat exportFormatOfType(int type);
    // The class a menu import goes to for the selected node `selected`.
    static CardNode *importTargetFor(CardTreeHost &host, CardNode *selected);

private:
    CardTreeHost &m_host;
};

} // namespace kelvo
