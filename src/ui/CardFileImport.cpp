#include "CardFileImport.h"

#include "CardTree.h"
#include "CardTreeHost.h"
#include "Dialogs.h"
#include "ExchangeLimits.h"

#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

namespace kelvo {

QStringList CardFileImport::importableFiles(const QMimeData *mime)
{
    if (!mime || !mime->hasUrls())
        return {};
    QStringList files;
    for (const QUrl &url : mime->urls()) {
        if (!url.isLocalFile())
            return {};
        const QString path = url.toLocalFile();
        const QString suffix = QFileInfo(path).suffix();
        if (suffix.compare(QLatin1String("vcf"), Qt::CaseInsensitive) != 0
            && suffix.compare(QLatin1String("csv"), Qt::CaseInsensitive) != 0)
            return {};
        files.append(path);
    }
    return files;
}

CardNode *CardFileImport::targetClassFor(CardNode *node)
{
    if (!node)
        return nullptr;
    if (node->isCardClass())
        return node;
    if (node->isCard() && node->parent() && node->parent()->isCardClass())
        return node->parent();
    return nullptr;
}

QString CardFileImport::failureText(const QString &file, const exchange::ImportResult &result)
{
    using Problem = exchange::ImportResult::Problem;
    const QString name = QFileInfo(file).fileName();
    QString reason;
    switch (result.problem) {
    case Problem::CannotOpen:
        reason = QStringLiteral("文件无法打开（%1）。").arg(result.error);
        break;
    case Problem::TooLarge:
        reason = QStringLiteral("文件超过%1 MB。").arg(exchange::MaxImportFileBytes >> 20);
        break;
    case Problem::Empty:
        reason = QStringLiteral("文件是空的。");
        break;
    case Problem::NoCard:
        reason = QStringLiteral("文件中没有名片。");
        break;
    case Problem::CsvHeader: {
        QStringList columns;
        for (const QString &column : result.csvColumns)
            columns.append(QStringLiteral("“%1”").arg(column));
        reason = QStringLiteral(
                     "无法识别CSV文件的标题行，其中的列为：%1。请用 kelvo-tool import --map 指定各列所对应的项目。")
                     .arg(columns.join(QStringLiteral("、")));
        break;
    }
    case Problem::None:
        reason = result.error;
        break;
    }
    return QStringLiteral("无法导入文件“%1”：%2没有导入任何名片。").arg(name, reason);
}

QString CardFileImport::resultText(int imported, int skipped, const QStringList &files,
                                   const std::vector<exchange::ImportMessages> &reports)
{
    QString text = QStringLiteral("已导入%1张名片。").arg(imported);
    if (skipped > 0)
        text += QStringLiteral("跳过%1张。").arg(skipped);
    int listed = 0;
    int total = 0;
    for (size_t i = 0; i < reports.size(); ++i) {
        for (const exchange::ImportMessage &message : reports[i]) {
            ++total;
            if (listed == ListedReports)
                continue;
            text += QStringLiteral("\n%1 第%2行：%3")
                        .arg(QFileInfo(files.value(qsizetype(i))).fileName())
                        .arg(message.line)
                        .arg(message.chineseText());
            ++listed;
        }
    }
    if (total > listed)
        text += QStringLiteral("\n……另有%1条未列出。").arg(total - listed);
    return text;
}

int CardFileImport::importFiles(CardTreeHost &host, CardNode *targetClass, const QStringList &files)
{
    if (!targetClass)
        return 0;
    return importFiles(
        host, [targetClass] { return targetClass; }, files);
}

int CardFileImport::importFiles(CardTreeHost &host, const std::function<CardNode *()> &targetClass,
                                const QStringList &files)
{
    if (files.isEmpty())
        return 0;
    std::vector<NewCardNode> cards;
    std::vector<exchange::ImportMessages> reports;
    int skipped = 0;
    for (const QString &file : files) {
        exchange::ImportResult result = exchange::ImportCardsFromFile(file);
        if (!result.ok()) {
            host.dialogs().notice(host.dialogOwner(), failureText(file, result));
            return 0;
        }
        skipped += result.skipped;
        reports.push_back(std::move(result.messages));
        for (NewCardNode &card : result.cards)
            cards.push_back(std::move(card));
    }
    const int imported = int(cards.size());
    if (imported > 0) {
        CardNode *target = targetClass();
        if (!target)
            return 0;
        // One announcement: one model insert, and Modified raised by the tree.
        CardNode *last = host.cardTree().addChildren(target, std::move(cards));
        host.selectNode(last);
    }
    host.dialogs().notice(host.dialogOwner(), resultText(imported, skipped, files, reports));
    return imported;
}

} // namespace kelvo
