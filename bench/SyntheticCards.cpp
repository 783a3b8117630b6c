#include "SyntheticCards.h"

#include <QFont>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>

namespace kelvo::bench {

namespace {

struct Syllable
{
    const char *han;
    const char *latin;
};
const Syllable Surnames[] = {{"王", "Wang"}, {"李", "Li"},   {"张", "Zhang"}, {"刘", "Liu"}, {"陈", "Chen"},
                             {"杨", "Yang"}, {"黄", "Huang"}, {"赵", "Zhao"}, {"吴", "Wu"},  {"周", "Zhou"},
                             {"徐", "Xu"},   {"孙", "Sun"},  {"马", "Ma"},    {"朱", "Zhu"}, {"胡", "Hu"},
                             {"郭", "Guo"},  {"何", "He"},   {"林", "Lin"},   {"罗", "Luo"}, {"欧阳", "Ouyang"}};
const Syllable Given[] = {{"伟", "Wei"},   {"芳", "Fang"}, {"娜", "Na"},     {"敏", "Min"},  {"静", "Jing"},
                          {"丽", "Li"},    {"强", "Qiang"}, {"磊", "Lei"},   {"军", "Jun"},  {"洋", "Yang"},
                          {"勇", "Yong"},  {"杰", "Jie"},  {"涛", "Tao"},    {"明", "Ming"}, {"超", "Chao"},
                          {"平", "Ping"},  {"刚", "Gang"}, {"华", "Hua"},    {"建国", "Jianguo"}, {"志红", "Zhihong"},
                          {"晓东", "Xiaodong"}, {"海燕", "Haiyan"}, {"文", "Wen"}, {"宇", "Yu"}};
struct City
{
    const char *han;
    const char *latin;
    const char *area;
    const char *postcode;
};
const City Cities[] = {{"北京", "Beijing", "010", "100"},   {"上海", "Shanghai", "021", "200"},
                       {"广州", "Guangzhou", "020", "510"}, {"深圳", "Shenzhen", "0755", "518"},
                       {"杭州", "Hangzhou", "0571", "310"}, {"南京", "Nanjing", "025", "210"},
                       {"成都", "Chengdu", "028", "610"},   {"武汉", "Wuhan", "027", "430"},
                       {"西安", "Xi'an", "029", "710"},     {"苏州", "Suzhou", "0512", "215"}};
const Syllable Districts[] = {{"海淀", "Haidian"}, {"朝阳", "Chaoyang"}, {"浦东新", "Pudong New"},
                              {"天河", "Tianhe"},  {"南山", "Nanshan"},  {"西湖", "Xihu"},
                              {"鼓楼", "Gulou"},   {"武侯", "Wuhou"},    {"高新", "Gaoxin"}};
const Syllable Roads[] = {{"中山", "Zhongshan"}, {"人民", "Renmin"}, {"解放", "Jiefang"}, {"建设", "Jianshe"},
                          {"长江", "Changjiang"}, {"科技", "Keji"},  {"学院", "Xueyuan"}, {"新华", "Xinhua"}};
const Syllable Companies[] = {{"华信", "Huaxin"},   {"恒达", "Hengda"},  {"新锐", "Xinrui"},   {"博远", "Boyuan"},
                              {"东方", "Dongfang"}, {"金桥", "Jinqiao"}, {"天成", "Tiancheng"}, {"宏图", "Hongtu"},
                              {"中科", "Zhongke"},  {"瑞丰", "Ruifeng"}, {"明德", "Mingde"},   {"远景", "Yuanjing"}};
const Syllable CompanyKinds[] = {{"科技有限公司", "Technology Co., Ltd."},
                                 {"贸易有限公司", "Trading Co., Ltd."},
                                 {"信息技术有限公司", "Information Technology Co., Ltd."},
                                 {"咨询有限公司", "Consulting Co., Ltd."},
                                 {"集团有限公司", "Group Co., Ltd."},
                                 {"建筑设计研究院", "Architectural Design Institute"},
                                 {"律师事务所", "Law Firm"}};
const Syllable Titles[] = {{"销售经理", "Sales Manager"},       {"技术总监", "Technical Director"},
                           {"总经理", "General Manager"},      {"董事长", "Chairman"},
                           {"办公室主任", "Office Director"},  {"高级工程师", "Senior Engineer"},
                           {"市场部经理", "Marketing Manager"}, {"财务总监", "Finance Director"},
                           {"项目经理", "Project Manager"},    {"首席顾问", "Chief Consultant"}};
const char *const Fonts[] = {"Noto Sans CJK SC", "Noto Serif CJK SC", "WenQuanYi Micro Hei", "AR PL UKai CN",
                             "AR PL UMing CN"};

template<typename T, size_t N>
const T &pick(const T (&items)[N], std::mt19937 &r)
{
    return items[std::uniform_int_distribution<size_t>(0, N - 1)(r)];
}
int between(std::mt19937 &r, int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(r);
}
bool chance(std::mt19937 &r, double p)
{
    return std::uniform_real_distribution<double>(0, 1)(r) < p;
}
QString digits(std::mt19937 &r, int n)
{
    QString s;
    for (int i = 0; i < n; ++i)
        s += QChar(u'0' + between(r, i == 0 ? 1 : 0, 9));
    return s;
}
QString u8(const char *text)
{
    return QString::fromUtf8(text);
}

struct TextItem
{
    QString text;
    int pixelSize;
    bool bold;
    QString family;
};

// One line of a horizontal card or one column of a vertical one.
void drawLine(QPainter &p, const TextItem &item, QPointF at, bool vertical, QColor color)
{
    QFont font(item.family);
    font.setPixelSize(item.pixelSize);
    font.setBold(item.bold);
    p.setFont(font);
    p.setPen(color);
    const QFontMetrics m(font);
    if (!vertical) {
        p.drawText(at + QPointF(0, m.ascent()), item.text);
        return;
    }
    qreal y = at.y();
    for (QChar c : item.text) {
        const QString s(c);
        const qreal x = at.x() + (item.pixelSize - m.horizontalAdvance(s)) / 2.0;
        p.drawText(QPointF(x, y + m.ascent()), s);
        y += item.pixelSize * 1.08;
    }
}

} // namespace

const char *conditionName(Condition condition)
{
    switch (condition) {
    case Condition::Clean:
        return "clean";
    case Condition::Scan:
        return "scan";
    case Condition::Photo:
        return "photo";
    case Condition::Phone:
        return "phone";
    }
    return "";
}

const char *languageName(Language language)
{
    switch (language) {
    case Language::Chinese:
        return "chinese";
    case Language::English:
        return "english";
    case Language::Bilingual:
        return "bilingual";
    }
    return "";
}

SyntheticCard makeCard(quint32 seed, int index)
{
    std::mt19937 r(seed * 7919u + quint32(index));
    SyntheticCard card;
    const int languageRoll = between(r, 0, 9);
    card.language = languageRoll < 5 ? Language::Chinese : languageRoll < 8 ? Language::Bilingual : Language::English;
    card.vertical = card.language == Language::Chinese && chance(r, 0.3);
    const bool chinese = card.language != Language::English;
    const bool englishLabels = card.language != Language::Chinese;

    const Syllable &surname = pick(Surnames, r);
    const Syllable &given = pick(Given, r);
    const City &city = pick(Cities, r);
    const Syllable &district = pick(Districts, r);
    const Syllable &road = pick(Roads, r);
    const Syllable &company = pick(Companies, r);
    const Syllable &kind = pick(CompanyKinds, r);
    const Syllable &title = pick(Titles, r);
    auto &f = card.fields;
    f[0] = chinese ? u8(surname.han) + u8(given.han) : u8(given.latin) + u' ' + u8(surname.latin);
    f[1] = chinese ? u8(title.han) : u8(title.latin);
    f[2] = chinese ? u8(city.han) + u8(company.han) + u8(kind.han)
                   : u8(company.latin) + u' ' + u8(kind.latin);
    const int number = between(r, 1, 399);
    const int room = between(r, 2, 28) * 100 + between(r, 1, 20);
    if (chance(r, 0.85))
        f[3] = chinese ? QStringLiteral("%1市%2区%3路%4号%5室")
                             .arg(u8(city.han), u8(district.han), u8(road.han))
                             .arg(number)
                             .arg(room)
                       : QStringLiteral("Room %1, No. %2 %3 Road, %4 District, %5")
                             .arg(room)
                             .arg(number)
                             .arg(u8(road.latin), u8(district.latin), u8(city.latin));
    const QString area = u8(city.area);
    auto landline = [&] {
        const QString n = digits(r, area.size() == 3 ? 8 : 7 + between(r, 0, 1));
        switch (between(r, 0, 2)) {
        case 0:
            return area + u'-' + n;
        case 1:
            return QStringLiteral("(%1) %2 %3").arg(area, n.left(n.size() - 4), n.right(4));
        default:
            return QStringLiteral("+86 %1 %2 %3").arg(area.mid(1), n.left(n.size() - 4), n.right(4));
        }
    };
    if (chance(r, 0.8))
        f[4] = landline();
    if (chance(r, 0.4))
        f[5] = landline();
    if (chance(r, 0.85)) {
        const QString m = QString::number(between(r, 3, 9) + 10) + digits(r, 1) + digits(r, 8);
        switch (between(r, 0, 2)) {
        case 0:
            f[6] = m;
            break;
        case 1:
            f[6] = m.left(3) + u' ' + m.mid(3, 4) + u' ' + m.mid(7);
            break;
        default:
            f[6] = m.left(3) + u'-' + m.mid(3, 4) + u'-' + m.mid(7);
            break;
        }
    }
    if (chinese && !f[3].isEmpty() && chance(r, 0.4))
        f[7] = u8(city.postcode) + digits(r, 3).replace(0, 1, u'0');
    const QString domain = QString::fromLatin1(company.latin).toLower() + (chance(r, 0.5) ? QStringLiteral("-tech") : QString()) +
                           (chance(r, 0.5) ? QStringLiteral(".com") : QStringLiteral(".com.cn"));
    if (chance(r, 0.5))
        f[8] = QStringLiteral("www.") + domain;
    if (card.language == Language::Chinese && chance(r, 0.3))
        f[9] = digits(r, between(r, 6, 10));
    const QString person = QString::fromLatin1(surname.latin).toLower() + (chance(r, 0.5) ? QStringLiteral(".") : QString()) +
                           QString::fromLatin1(given.latin).toLower();
    if (chance(r, 0.1))
        f[10] = person + QStringLiteral("@hotmail.com");
    if (chance(r, 0.85))
        f[11] = person + u'@' + domain;
    if (card.language == Language::Bilingual)
        f[12] = u8(company.latin) + u' ' + u8(kind.latin);
    if (card.vertical) // vertical cards carry no Latin addresses
        f[8].clear(), f[10].clear(), f[11].clear();

    // Labels.
    struct Labelled
    {
        int field;
        const char *zh;
        const char *en;
        double bare; // how often the value stands without its label
    };
    const Labelled contacts[] = {{4, "地址：", "Add: ", 0.3},   {5, "电话：", "Tel: ", 0.0},
                                 {6, "传真：", "Fax: ", 0.0},   {7, "手机：", "Mob: ", 0.3},
                                 {8, "邮编：", "P.C.: ", 0.0},  {9, "网址：", "Web: ", 0.4},
                                 {10, "QQ：", "QQ: ", 0.0},     {11, "MSN：", "MSN: ", 0.0},
                                 {12, "邮箱：", "E-mail: ", 0.4}};
    QStringList lines;
    QList<int> lineFields;
    for (const Labelled &c : contacts) {
        const QString &value = f[size_t(c.field - 1)];
        if (value.isEmpty())
            continue;
        const bool bare = chance(r, c.bare) && !(c.field == 4 && !chinese);
        lines.append((bare ? QString() : u8(englishLabels ? c.en : c.zh)) + value);
        lineFields.append(c.field);
    }

    const QString family = QString::fromLatin1(pick(Fonts, r));
    const QString nameFamily = chance(r, 0.5) ? family : QString::fromLatin1(pick(Fonts, r));
    const bool nameBold = chance(r, 0.6);
    const QColor ink = chance(r, 0.7) ? QColor(20, 20, 20) : QColor(between(r, 0, 60), between(r, 20, 60), 90);
    const QColor accent(between(r, 0, 200), between(r, 40, 160), between(r, 60, 200));

    if (card.vertical) {
        QImage image(600, 1050, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter p(&image);
        p.setRenderHint(QPainter::TextAntialiasing);
        qreal x = 600 - 90;
        drawLine(p, {f[0], 62, nameBold, nameFamily}, {x, 120}, true, ink);
        x -= 70;
        drawLine(p, {f[1], 30, false, family}, {x, 160}, true, ink);
        x -= 60;
        drawLine(p, {f[2], 30, false, family}, {x, 60}, true, ink);
        x -= 70;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (x < 20 || lines[i].size() * 24 * 1.08 > 1050 - 80) {
                // A column that does not fit is not on the card.
                f[size_t(lineFields[i] - 1)].clear();
                continue;
            }
            drawLine(p, {lines[i], 24, false, family}, {x, 60}, true, ink);
            x -= 46;
        }
        card.picture = image;
        return card;
    }

    QImage image(1050, 600, QImage::Format_RGB32);
    image.fill(chance(r, 0.8) ? QColor(Qt::white) : QColor(250, 246, 236));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const int nameSize = between(r, 54, 72);
    const int smallSize = between(r, 22, 26);
    auto width = [](const TextItem &item) {
        QFont font(item.family);
        font.setPixelSize(item.pixelSize);
        font.setBold(item.bold);
        return QFontMetrics(font).horizontalAdvance(item.text);
    };
    const TextItem name{f[0], nameSize, nameBold, nameFamily};
    const TextItem titleItem{f[1], 28, false, family};
    const TextItem companyItem{f[2], 34, true, family};
    const TextItem extra{f[12], 24, false, family};
    const int layout = between(r, 0, 2);
    qreal y = 40;
    if (layout == 0) {
        // Company on top, name with title beside it, contacts below.
        p.fillRect(QRectF(0, 0, 1050, 14), accent);
        drawLine(p, companyItem, {60, y}, false, ink);
        y += 48;
        if (!f[12].isEmpty()) {
            drawLine(p, extra, {60, y}, false, ink);
            y += 40;
        }
        y += 20;
        drawLine(p, name, {60, y}, false, ink);
        drawLine(p, titleItem, {60.0 + width(name) + 40, y + nameSize - 34}, false, ink);
        y += nameSize + 40;
    } else if (layout == 1) {
        // Centred name and title, company below them.
        y = 60;
        drawLine(p, name, {(1050 - width(name)) / 2.0, y}, false, ink);
        y += nameSize + 16;
        drawLine(p, titleItem, {(1050 - width(titleItem)) / 2.0, y}, false, ink);
        y += 50;
        drawLine(p, companyItem, {(1050 - width(companyItem)) / 2.0, y}, false, accent.darker(150));
        y += 50;
        if (!f[12].isEmpty()) {
            drawLine(p, extra, {(1050 - width(extra)) / 2.0, y}, false, ink);
            y += 36;
        }
        y += 16;
    } else {
        // A coloured band on the left, name and title, contacts, company last.
        p.fillRect(QRectF(0, 0, 40, 600), accent);
        drawLine(p, name, {90, y}, false, ink);
        y += nameSize + 14;
        drawLine(p, titleItem, {90, y}, false, ink);
        y += 56;
    }
    const qreal left = layout == 2 ? 90 : 60;
    const int lineHeight = smallSize + 12;
    const qreal room2 = (layout == 2 ? 600 - 110 : 580) - y;
    const bool twoColumns = lines.size() * lineHeight > room2;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        TextItem item{lines[i], smallSize, false, family};
        qreal x = left;
        qreal at = y + i * lineHeight;
        if (twoColumns) {
            const qsizetype half = (lines.size() + 1) / 2;
            x = i < half ? left : 560;
            at = y + (i < half ? i : i - half) * lineHeight;
            // Long lines keep to their column.
            while (width(item) > (i < half ? 560 - left - 20 : 1050 - 560 - 20) && item.pixelSize > 14)
                --item.pixelSize;
        }
        while (width(item) > 1050 - x - 30 && item.pixelSize > 14)
            --item.pixelSize;
        drawLine(p, item, {x, at}, false, ink);
    }
    if (layout == 2) {
        drawLine(p, companyItem, {90, 600 - 80}, false, accent.darker(150));
        if (!f[12].isEmpty())
            drawLine(p, {f[12], 20, false, family}, {90 + width(companyItem) + 30.0, 600 - 72}, false, ink);
    }
    card.picture = image;
    return card;
}

QImage degrade(const QImage &card, Condition condition, std::mt19937 &random)
{
    auto noise = [&](QImage &image, double sigma) {
        std::normal_distribution<double> n(0, sigma);
        for (int y = 0; y < image.height(); ++y) {
            QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const int d = int(n(random));
                const QRgb c = line[x];
                line[x] = qRgb(std::clamp(qRed(c) + d, 0, 255), std::clamp(qGreen(c) + d, 0, 255),
                               std::clamp(qBlue(c) + d, 0, 255));
            }
        }
    };
    if (condition == Condition::Clean)
        return card;
    const double angle = std::uniform_real_distribution<double>(-4, 4)(random);
    if (condition == Condition::Scan) {
        QImage scan(card.width() + 160, card.height() + 160, QImage::Format_RGB32);
        scan.fill(QColor(228, 228, 226));
        QPainter p(&scan);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.translate(scan.width() / 2.0, scan.height() / 2.0);
        p.rotate(angle);
        p.drawImage(QPointF(-card.width() / 2.0, -card.height() / 2.0), card);
        p.end();
        noise(scan, 5);
        return scan;
    }
    if (condition == Condition::Phone) {
        // A phone held over the card on a dark table, the card filling 55 to
        // 75 percent of the frame across, the 12-megapixel photo saved at
        // 1600 pixels on its longer side: mildly out of focus and noisy.
        const bool upright = card.height() > card.width();
        const double fill = std::uniform_real_distribution<double>(0.55, 0.75)(random);
        const int longSide = int((upright ? card.height() : card.width()) / fill);
        const QSize frame = upright ? QSize(longSide * 3 / 4, longSide) : QSize(longSide, longSide * 3 / 4);
        QImage photo(frame, QImage::Format_RGB32);
        const int dark = between(random, 30, 80);
        photo.fill(QColor(dark, dark, dark + 8));
        {
            QPainter p(&photo);
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.translate(frame.width() / 2.0 + between(random, -30, 30), frame.height() / 2.0 + between(random, -30, 30));
            p.rotate(angle);
            p.drawImage(QPointF(-card.width() / 2.0, -card.height() / 2.0), card);
            p.resetTransform();
            QLinearGradient light(0, 0, frame.width(), frame.height());
            light.setColorAt(0, QColor(0, 0, 0, between(random, 0, 30)));
            light.setColorAt(1, QColor(0, 0, 0, between(random, 20, 60)));
            p.fillRect(photo.rect(), light);
        }
        const double scale = 1600.0 / longSide;
        const QSize size(int(frame.width() * scale), int(frame.height() * scale));
        QImage small = photo.scaled(size * 0.85, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                           .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                           .convertToFormat(QImage::Format_RGB32);
        noise(small, 3);
        return small;
    }
    // Photo: the card on a dark table under uneven light, taken from a bit
    // further, a little out of focus.
    QImage photo(card.width() + 500, card.height() + 400, QImage::Format_RGB32);
    const int dark = between(random, 25, 70);
    photo.fill(QColor(dark, dark - 5 > 0 ? dark - 5 : 0, dark + 10));
    {
        QPainter p(&photo);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.translate(photo.width() / 2.0 + between(random, -80, 80), photo.height() / 2.0 + between(random, -60, 60));
        p.rotate(angle * 1.5);
        p.drawImage(QPointF(-card.width() / 2.0, -card.height() / 2.0), card);
        p.resetTransform();
        QLinearGradient light(0, 0, photo.width(), photo.height());
        light.setColorAt(0, QColor(0, 0, 0, between(random, 0, 60)));
        light.setColorAt(1, QColor(0, 0, 0, between(random, 60, 120)));
        p.fillRect(photo.rect(), light);
    }
    const double scale = std::uniform_real_distribution<double>(0.5, 0.7)(random);
    QImage small = photo.scaled(int(photo.width() * scale), int(photo.height() * scale), Qt::IgnoreAspectRatio,
                                Qt::SmoothTransformation);
    // Out of focus: down and up again.
    const QSize size = small.size();
    small = small.scaled(size * 0.75, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                .convertToFormat(QImage::Format_RGB32);
    noise(small, 7);
    return small;
}

} // namespace kelvo::bench
