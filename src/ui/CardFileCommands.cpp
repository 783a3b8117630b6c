#include "CardFileCommands.h"

#include "AtomicFile.h"
#include "CardFileImport.h"
#include "CardImport.h"
#include "CardRecords.h"
#include "CardTree.h"
#include "CardTreeHost.h"
#include "Dialogs.h"
#include "StoreErrorTexts.h"

#include <QDir>

namespace kelvo {

QString CardFileCommands::importFilter()
{
    return QStringLiteral("名片文件 (*.vcf *.csv *.VCF *.CSV);;vCard 文件 (*.vcf *.VCF);;CSV 文件 (*.csv *.CSV);;"
                          "所有文件 (*)");
}

QStringList CardFileCommands::exportFilters()
{
    return {QStringLiteral("vCard 文件 (*.vcf)"), QStringLiteral("CSV 文件 (*.csv)")};
}

QStringList CardFileCommands::exportSuffixes()
{
    return {QStringLiteral("vcf"), QStringLiteral("csv")};
}

exchange::ExportFormat CardFileCommands::exportFormatOfType(int type)
{
    return type == 1 ? exchange::ExportFormat::Csv : exchange::ExportFormat::VCard30;
}

CardNode *CardFileCommands::importTargetFor(CardTreeHost &host, CardNode *selected)
{
    if (CardNode *target = CardFileImport::targetClassFor(selected))
        return target;
    return exchange::ImportTargetClass(host.cardTree(), ReservedCardClassLabel());
}

void CardFileCommands::actImportCardsExecute()
{
    const QStringList files =
        m_host.dialogs().openFileNames(m_host.dialogOwner(), QStringLiteral("导入名片"), importFilter());
    if (files.isEmpty())
        return;
    // The selection as it is now that the dialog is closed; the reserved
    // class is made only when there are cards to put in it.
    CardFileImport::importFiles(
        m_host, [this] { return importTargetFor(m_host, m_host.selectedNode()); }, files);
}

void CardFileCommands::actExportCardsExecute()
{
    const CardNode *proposedFor = m_host.selectedNode();
    const QString initialName = proposedFor ? exchange::VCardFileNameFor(*proposedFor) : QStringLiteral("名片.vcf");
    const std::optional<SaveFileChoice> chosen = m_host.dialogs().saveFileOfType(
        m_host.dialogOwner(), QStringLiteral("导出名片"), exportFilters(), exportSuffixes(), initialName);
    if (!chosen)
        return;
    if (chosen->path.isEmpty()) {
        m_host.dialogs().error(m_host.dialogOwner(), QStringLiteral("名片没有导出：没有给出文件名。"));
        return;
    }
    // The cards as the tree holds them now that the dialog is closed.
    const CardNode *node = m_host.selectedNode();
    const std::vector<const CardNode *> cards = node ? exchange::CardsAt(node) : exchange::AllCards(m_host.cardTree());
    if (cards.empty()) {
        m_host.dialogs().notice(m_host.dialogOwner(), QStringLiteral("没有可以导出的名片。"));
        return;
    }
    const QByteArray bytes = exchange::ExportCards(cards, exportFormatOfType(chosen->type),
                                                   [this](const CardNode *card) { return m_host.cardUid(card); });
    m_host.keepCardUids();
    if (const Result<> written = writeFileAtomically(chosen->path, bytes); !written)
        m_host.dialogs().error(m_host.dialogOwner(),
                               QStringLiteral("名片没有导出：") + describeForUser(written.error()));
}

} // namespace kelvo
