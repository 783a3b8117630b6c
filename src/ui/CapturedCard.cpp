#include "CapturedCard.h"

#include "CardAssembly.h"
#include "CardRecords.h"
#include "CardTree.h"
#include "Gb18030.h"

#include <vector>

namespace kelvo {

namespace {

QByteArray stored(const QString &text)
{
    return gb18030::trimmed(gb18030::encode(text)).toByteArray();
}

// The digits of a mobile number without the country code of the mainland;
// empty when fewer than seven digits are left (not a number to compare).
QByteArray mobileDigits(QByteArrayView text)
{
    QByteArray digits;
    for (const char c : text) {
        if (c >= '0' && c <= '9')
            digits.append(c);
    }
    if (digits.size() == 13 && digits.startsWith("86"))
        digits.remove(0, 2);
    return digits.size() >= 7 ? digits : QByteArray();
}

bool sameMail(QByteArrayView a, QByteArrayView b)
{
    return !a.isEmpty() && a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

bool isEmptyCapture(const CapturedTexts &texts)
{
    for (const QString &text : texts) {
        if (!text.trimmed().isEmpty())
            return false;
    }
    return true;
}

CardNode *findSimilarCard(const CardTree &tree, const CapturedTexts &texts)
{
    const QByteArray mobile = mobileDigits(stored(texts[Field::SJ - 1]));
    const QByteArray mail = stored(texts[Field::EMail - 1]);
    const QByteArray name = stored(texts[Field::Name - 1]);
    const QByteArray company = stored(texts[Field::DW - 1]);
    CardNode *found = nullptr;
    tree.forEach([&](const CardNode *node) {
        if (found || !node->isCard() || !node->data())
            return;
        const TCardData &card = *node->data();
        const bool similar = (!mobile.isEmpty() && mobileDigits(gb18030::trimmed(card.field(Field::SJ))) == mobile)
            || sameMail(mail, gb18030::trimmed(card.field(Field::EMail)))
            || (!name.isEmpty() && !company.isEmpty() && gb18030::trimmed(card.field(Field::Name)) == name
                && gb18030::trimmed(card.field(Field::DW)) == company);
        if (similar)
            found = const_cast<CardNode *>(node);
    });
    return found;
}

CardNode *addCapturedCard(CardTree &tree, CardNode *cardClass, const CapturedTexts &texts)
{
    exchange::CardTexts trimmed;
    for (size_t i = 0; i < texts.size(); ++i)
        trimmed[i] = texts[i].trimmed();
    if (stored(trimmed[0]).isEmpty())
        trimmed[0] = gb18030::decode(NewCardLabel());
    exchange::ImportMessages cuts; // a field longer than 255 bytes is cut as typed text is
    std::vector<NewCardNode> nodes;
    nodes.push_back(exchange::MakeImportedCardNode(trimmed, 0, cuts));
    return tree.addChildren(cardClass, std::move(nodes));
}

int updateCardFromCapture(CardTree &tree, CardNode *card, const CapturedTexts &texts)
{
    int changed = 0;
    for (int n = Field::First; n <= Field::Last; ++n) {
        const QByteArray text = stored(texts[size_t(n - 1)]);
        if (text.isEmpty())
            continue;
        if (tree.setField(card, n, text))
            ++changed;
        if (n == Field::Name)
            tree.setLabel(card, card->data()->name());
    }
    return changed;
}

} // namespace kelvo
