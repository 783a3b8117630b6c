#include "ContactDraft.h"

#include "ExchangeLimits.h"
#include "TextDecoding.h"

namespace kelvo::exchange {

namespace {

QString joinNonEmpty(std::initializer_list<const QString *> parts, QStringView separator)
{
    QString out;
    for (const QString *part : parts) {
        if (part->isEmpty())
            continue;
        if (!out.isEmpty())
            out += separator;
        out += *part;
    }
    return out;
}

} // namespace

bool ContactDraft::roomFor(const std::vector<DraftValue> &values)
{
    if (values.size() < size_t(MaxValuesPerCard))
        return true;
    ++valuesOverBound;
    return false;
}

void ContactDraft::reset()
{
    line = 0;
    for (auto &values : candidates)
        values.clear();
    structuredName.clear();
    extras.clear();
    uid.clear();
    messages.clear();
    valuesOverBound = 0;
    m_order = 0;
}

void ContactDraft::add(int n, DraftValue value)
{
    if (n < 1 || n > 13 || (value.text.isEmpty() && value.postcode.isEmpty()))
        return;
    auto &values = candidates[size_t(n - 1)];
    if (roomFor(values))
        values.push_back(std::move(value));
}

void ContactDraft::addExtra(DraftValue value)
{
    if (value.text.isEmpty())
        return;
    if (roomFor(extras))
        extras.push_back(std::move(value));
}

void ContactDraft::addMessage(ImportMessage message)
{
    message.line = line;
    if (messages.size() < size_t(MaxMessagesPerCard))
        messages.push_back(std::move(message));
}

QString NameParts::joined() const
{
    const bool cjk = ContainsCjk(prefix) || ContainsCjk(given) || ContainsCjk(additional) || ContainsCjk(family)
        || ContainsCjk(suffix);
    if (cjk)
        return joinNonEmpty({&prefix, &family, &given, &additional, &suffix}, u"");
    return joinNonEmpty({&prefix, &given, &additional, &family, &suffix}, u" ");
}

QString AddressParts::joined() const
{
    const bool cjk = ContainsCjk(poBox) || ContainsCjk(extended) || ContainsCjk(street) || ContainsCjk(locality)
        || ContainsCjk(region) || ContainsCjk(country);
    if (cjk)
        return joinNonEmpty({&country, &region, &locality, &street, &extended, &poBox}, u"");
    return joinNonEmpty({&poBox, &extended, &street, &locality, &region, &country}, u" ");
}

} // namespace kelvo::exchange
