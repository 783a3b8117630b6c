#include "CardText.h"

#include "Gb18030.h"

#include <array>

namespace kelvo {

namespace {

// Line labels of the card text block; field 12 is written "E_Mail" here,
// unlike the search window's caption "E_MAIL".
const std::array<QByteArray, 13> &lineLabels()
{
    static const std::array<QByteArray, 13> labels = [] {
        const char16_t *texts[13] = {u" 姓名:", u" 头衔:", u" 单位:", u" 地址:", u" 电话:",   u" 传真:",    u" 手机:",
                                     u" 邮编:", u" 网址:", u" QQ:",   u" MSN:",  u" E_Mail:", u" 其他信息:"};
        std::array<QByteArray, 13> encoded;
        for (size_t i = 0; i < encoded.size(); ++i)
            encoded[i] = gb18030::encode(QString::fromUtf16(texts[i]));
        return encoded;
    }();
    return labels;
}

} // namespace

QByteArray CardToText(const TCardData &card)
{
    const auto &labels = lineLabels();
    QByteArray text;
    text.reserve(13 * 12 + card.textBytes());
    for (int n = Field::First; n <= Field::Last; ++n) {
        if (n > Field::First)
            text += "\r\n";
        text += labels[static_cast<size_t>(n - 1)];
        text += card.field(n);
    }
    return text;
}

} // namespace kelvo
