#include "CardRecords.h"

#include "CardTree.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

namespace kelvo {

QByteArray ReservedCardClassLabel()
{
    // "未分类的名片" in GB18030
    return QByteArrayLiteral("\xCE\xB4\xB7\xD6\xC0\xE0\xB5\xC4\xC3\xFB\xC6\xAC");
}

QByteArray NewCardLabel()
{
    // "<新名片>" in GB18030
    return QByteArrayLiteral("<\xD0\xC2\xC3\xFB\xC6\xAC>");
}

QByteArray NewCardClassLabel()
{
    // "<新类别>" in GB18030
    return QByteArrayLiteral("<\xD0\xC2\xC0\xE0\xB1\xF0>");
}

bool IsReservedCardClass(const CardNode *node)
{
    return node && node->label() == ReservedCardClassLabel();
}

std::unique_ptr<TCardData> MakeCardRecord()
{
    auto record = std::make_unique<TCardData>();
    record->Kind = Kind::Card;
    record->setField(Field::Name, NewCardLabel());
    return record;
}

std::unique_ptr<TCardData> MakeCardClassRecord()
{
    auto record = std::make_unique<TCardData>();
    record->Kind = Kind::CardClass;
    record->setField(Field::Name, NewCardClassLabel());
    return record;
}

void CreateDefaultTree(CardTree &tree)
{
    // Clearing releases every record together with its node.
    tree.clear();
    auto record = std::make_unique<TCardData>();
    record->Kind = Kind::CardClass;
    record->setField(Field::Name, ReservedCardClassLabel());
    record->Created = CurrentDateTimeStamp();
    CardNode *node = tree.addTopLevelFirst(ReservedCardClassLabel(), std::move(record));
    tree.setDisplayIndex(node, DisplayIndex::Image, 0);
}

void FreeAllCardData(CardTree &tree)
{
    tree.forEach([&tree](CardNode *node) { tree.releaseRecord(node); });
}

double CurrentDateTimeStamp()
{
    static const QDate epoch(1899, 12, 30);
    const QDateTime now = QDateTime::currentDateTime();
    const double days = static_cast<double>(epoch.daysTo(now.date()));
    return days + now.time().msecsSinceStartOfDay() / 86'400'000.0;
}

} // namespace kelvo
