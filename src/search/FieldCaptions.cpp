#include "FieldCaptions.h"

namespace kelvo {

const std::array<QString, 13> &FieldCaptions()
{
    static const std::array<QString, 13> captions = {
        QStringLiteral("姓名"),     QStringLiteral("头衔"), QStringLiteral("单位"), QStringLiteral("地址"),
        QStringLiteral("电话"),     QStringLiteral("传真"), QStringLiteral("手机"), QStringLiteral("邮编"),
        QStringLiteral("网址"),     QStringLiteral("QQ"),   QStringLiteral("MSN"),  QStringLiteral("E_MAIL"),
        QStringLiteral("其他信息"),
    };
    return captions;
}

QString FieldCaption(int n)
{
    if (n < 1 || n > 13)
        return {};
    return FieldCaptions()[static_cast<size_t>(n - 1)];
}

} // namespace kelvo
