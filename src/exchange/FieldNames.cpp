#include "FieldNames.h"

namespace kelvo::exchange {

const std::array<QString, 13> &KelvoFieldCaptions()
{
    // The same captions as the search window's result list (tests compare
    // the two): an exported file's header is what a user sees there.
    static const std::array<QString, 13> captions = {
        QStringLiteral("姓名"),     QStringLiteral("头衔"), QStringLiteral("单位"), QStringLiteral("地址"),
        QStringLiteral("电话"),     QStringLiteral("传真"), QStringLiteral("手机"), QStringLiteral("邮编"),
        QStringLiteral("网址"),     QStringLiteral("QQ"),   QStringLiteral("MSN"),  QStringLiteral("E_MAIL"),
        QStringLiteral("其他信息"),
    };
    return captions;
}

QString EnglishFieldName(int n)
{
    static const char *const names[] = {"name",     "title", "company", "address", "phone",  "fax",  "mobile",
                                        "postcode", "web",   "QQ",      "MSN",     "e-mail", "other"};
    if (n < 1 || n > 13)
        return QString();
    return QString::fromLatin1(names[n - 1]);
}

QString ChineseFieldName(int n)
{
    if (n < 1 || n > 13)
        return QString();
    return KelvoFieldCaptions()[size_t(n - 1)];
}

} // namespace kelvo::exchange
