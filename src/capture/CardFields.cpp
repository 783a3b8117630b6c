#include "CardFields.h"

#include "CardData.h"

#include <QRegularExpression>

#include <algorithm>

namespace kelvo::capture {

namespace {

using RE = QRegularExpression;

struct Line
{
    QString text;
    int confidence = 0;
    QRect box;
    int size = 0; // the height of its characters: box height, or width in a vertical card
};

bool isHan(QChar c)
{
    return c.script() == QChar::Script_Han;
}

// Full-width digits, letters and the punctuation of numbers and addresses in
// their ASCII form; Chinese punctuation such as （） and ， stays.
QString normaliseText(QString text)
{
    static const QString keep = QStringLiteral(":@.-/+_~#");
    for (QChar &c : text) {
        const char16_t u = c.unicode();
        if (u == 0x3000) {
            c = u' ';
        } else if (u >= 0xFF01 && u <= 0xFF5E) {
            const QChar ascii(char16_t(u - 0xFEE0));
            if (ascii.isLetterOrNumber() || keep.contains(ascii))
                c = ascii;
        }
    }
    // Chinese is written without spaces, also next to digits ("长江路 314 号"
    // is how the recogniser sees "长江路314号").
    static const RE hanSpaces(QStringLiteral("(?<=\\p{Han})\\s+(?=[\\p{Han}0-9])|(?<=[0-9])\\s+(?=\\p{Han})"),
                              RE::UseUnicodePropertiesOption);
    text.replace(hanSpaces, QString());
    // Latin text has Latin commas ("Co.，Ltd." is "Co., Ltd."), and a
    // number is "No." ("No, 237").
    static const RE wideComma(QStringLiteral("(?<=[A-Za-z.])(?:，\\s*(?=[A-Za-z])|,(?=[A-Z][a-z]))"));
    text.replace(wideComma, QStringLiteral(", "));
    static const RE number(QStringLiteral("\\bNo,(?=\\s*\\d)"));
    text.replace(number, QStringLiteral("No."));
    return text.simplified();
}

bool isLabelOnly(const QString &text);

// A fragment read with less confidence is mostly a guess.
constexpr int UnsureFragment = 60;
// How much less sure a reading that holds another and more may be and still
// be kept over it.
constexpr int FullerReadingMargin = 10;

// A few letters read with little confidence ("PHN", "ma etd", "X_N"): what
// the recogniser makes of a stroke, a logo or large lettering it cannot
// read, no text of the card. Digits and Chinese stay.
bool isGuessedLetters(const Line &line)
{
    if (line.confidence >= 50 || line.text.size() > 6)
        return false;
    return std::none_of(line.text.begin(), line.text.end(), [](QChar c) { return c.isDigit() || isHan(c); });
}

// At least half the characters of the shorter text are in the other.
bool sharesHalf(const QString &a, const QString &b)
{
    const QString &shorter = a.size() <= b.size() ? a : b, &longer = a.size() <= b.size() ? b : a;
    qsizetype common = 0;
    for (QChar c : shorter)
        common += !c.isSpace() && longer.contains(c);
    return !shorter.isEmpty() && common * 2 >= shorter.size();
}

// Of two readings of one place, `a` is kept over `b` when it is surer, or
// when it holds all of `b` and more and is nearly as sure: a line read
// whole ("周洋") is not lost to one of its characters read a little more
// surely on its own.
bool fullerOrSurer(const Line &a, const Line &b)
{
    auto holds = [](const Line &whole, const Line &part) {
        const QRect common = whole.box.intersected(part.box);
        return whole.text.size() > part.text.size() && whole.text.contains(part.text) &&
               qint64(common.width()) * common.height() * 5 >= qint64(part.box.width()) * part.box.height() * 4;
    };
    if (holds(b, a) && b.confidence + FullerReadingMargin >= a.confidence)
        return false;
    if (holds(a, b) && a.confidence + FullerReadingMargin >= b.confidence)
        return true;
    return a.confidence > b.confidence || (a.confidence == b.confidence && a.text.size() > b.text.size());
}

// Two readings of one line that overlap, each reaching further on one side
// ("南京博远科" and "和京博远科技有限公司"), as one: the left one's text up to
// the end of the longest stretch they share, the right one's from there
// ("南京博远科技有限公司"). Empty when they share fewer than three
// characters or do not overlap so.
QString joinedOverlapping(const Line &a, const Line &b)
{
    const Line &left = a.box.left() <= b.box.left() ? a : b, &right = a.box.left() <= b.box.left() ? b : a;
    if (left.box.left() >= right.box.left() || right.box.right() <= left.box.right())
        return {};
    const QString &l = left.text, &r = right.text;
    qsizetype length = 0, endInLeft = 0, endInRight = 0;
    // Longest common stretch (lines are short).
    for (qsizetype i = 0; i < l.size(); ++i)
        for (qsizetype j = 0; j < r.size(); ++j) {
            qsizetype n = 0;
            while (i + n < l.size() && j + n < r.size() && l[i + n] == r[j + n])
                ++n;
            if (n > length)
                length = n, endInLeft = i + n, endInRight = j + n;
        }
    if (length < 3)
        return {};
    const QString whole = l.left(endInLeft) + r.mid(endInRight);
    if (whole == l || whole == r || whole.size() < std::max(l.size(), r.size()))
        return {};
    return whole;
}

QString joinTexts(const QString &left, const QString &right)
{
    if (left.isEmpty())
        return right;
    if (right.isEmpty())
        return left;
    if (isHan(left.back()) && isHan(right.front()))
        return left + right;
    return left + QLatin1Char(' ') + right;
}

// Fragments of one line (the sparse reading gives words and phrases apart)
// become one line: they overlap by half their height, are at most twice as
// high as each other (a Chinese label is higher than the digits after it;
// a name is more than twice its title), and are not far apart.
QList<Line> mergeFragments(const QList<CapturedLine> &fragments, bool vertical)
{
    QList<Line> pieces;
    for (const CapturedLine &f : fragments) {
        Line line{normaliseText(f.text), f.confidence, f.box, vertical ? f.box.width() : f.box.height()};
        if (!line.text.isEmpty() && line.box.isValid() && !isGuessedLetters(line))
            pieces.append(line);
    }
    if (vertical) {
        std::sort(pieces.begin(), pieces.end(),
                  [](const Line &a, const Line &b) { return a.box.center().x() > b.box.center().x(); });
        return pieces;
    }
    std::sort(pieces.begin(), pieces.end(), [](const Line &a, const Line &b) {
        return a.box.left() != b.box.left() ? a.box.left() < b.box.left() : a.box.top() < b.box.top();
    });
    // The same text read twice (the recogniser gives some lines twice, and
    // a line read again may overlap what was read first): the surer reading
    // of two fragments that share half the smaller one's area and are of
    // about one height or share half their characters, or of a guess lying
    // mostly inside a sure reading.
    QList<Line> unique;
    for (const Line &piece : std::as_const(pieces)) {
        auto area = [](const QRect &r) { return qint64(r.width()) * r.height(); };
        auto twin = std::find_if(unique.begin(), unique.end(), [&](const Line &other) {
            const int low = std::min(other.size, piece.size), high = std::max(other.size, piece.size);
            const int unsure = std::min(other.confidence, piece.confidence);
            const int sure = std::max(other.confidence, piece.confidence);
            const qint64 common = area(other.box.intersected(piece.box));
            const Line &guess = other.confidence < piece.confidence ? other : piece;
            if (unsure < UnsureFragment && sure >= UnsureFragment && common * 5 >= area(guess.box) * 3)
                return true;
            return (high * 10 <= low * 13 || sharesHalf(other.text, piece.text)) &&
                   common * 2 >= std::min(area(other.box), area(piece.box));
        });
        if (twin == unique.end())
            unique.append(piece);
        else if (const QString whole = joinedOverlapping(*twin, piece); !whole.isEmpty())
            *twin = Line{whole, std::min(twin->confidence, piece.confidence), twin->box.united(piece.box),
                         std::max(twin->size, piece.size)};
        else if (fullerOrSurer(piece, *twin))
            *twin = piece;
    }
    pieces = unique;
    QList<Line> lines;
    for (const Line &piece : std::as_const(pieces)) {
        Line *target = nullptr;
        for (Line &line : lines) {
            const int overlap = std::min(line.box.bottom(), piece.box.bottom()) -
                                std::max(line.box.top(), piece.box.top()) + 1;
            const int small = std::min(line.size, piece.size);
            const int large = std::max(line.size, piece.size);
            const int gap = piece.box.left() - line.box.right();
            // A label alone may be twice as high as its value and more (a
            // Chinese label and its digits; a small "Add" before a large
            // address).
            const bool label = isLabelOnly(line.text) || isLabelOnly(piece.text);
            // A label may stand well apart from its value, the values of
            // a card set in a column of their own.
            const int apart = isLabelOnly(line.text) ? large * 5 : large * 5 / 2;
            if (overlap * 2 >= small && (large <= small * 2 || (label && large <= small * 3)) && gap <= apart) {
                target = &line;
                break;
            }
        }
        if (target) {
            target->text = joinTexts(target->text, piece.text);
            target->confidence = std::min(target->confidence, piece.confidence);
            target->box = target->box.united(piece.box);
            target->size = std::max(target->size, piece.size);
        } else {
            lines.append(piece);
        }
    }
    for (Line &line : lines)
        line.text = normaliseText(line.text);
    std::sort(lines.begin(), lines.end(), [](const Line &a, const Line &b) {
        return a.box.top() != b.box.top() ? a.box.top() < b.box.top() : a.box.left() < b.box.left();
    });
    return lines;
}

// The labels a card puts before its values; a lone letter counts only with a
// colon after it. A telephone label with its second character misread or
// lost ("传趴", "电者", "传") still counts before a number.
struct Label
{
    int field;
    const char *pattern;
};
const Label Labels[] = {
    {Field::SJ, "手机号码|手机|移动电话|Mobile\\s*Phone|Mobile|Mob|Cell(?:phone)?|M(?=\\s*[:：])|"
                "手\\p{Han}?(?=\\s*[:：]?\\s*[+(]?\\d)"},
    {Field::CZ, "传真|Fax|F(?=\\s*[:：])|传\\p{Han}?(?=\\s*[:：]?\\s*[+(]?\\d)"},
    {Field::DH, "办公电话|联系电话|电话|Tel|Phone|T(?=\\s*[:：])|电\\p{Han}?(?=\\s*[:：]?\\s*[+(]?\\d)"},
    {Field::YB, "邮政编码|邮编|Post\\s*code|Zip(?:\\s*code)?|P\\.C\\.?|PC\\.?(?=\\s*[:：])"},
    {Field::WZ, "网址|网站|主页|Website|Web|URL"},
    {Field::QQ, "QQ|QQ[A-Za-z](?=\\s*[:：])|Q[QGO0]{0,2}(?=\\s*[.:：]?\\s*\\d{5,11}(?!\\d))"},
    {Field::MSN, "MSN"},
    {Field::EMail, "电子邮箱|电子邮件|电邮|邮箱|E-?mail|Mail|E(?=\\s*[:：])"},
    {Field::DZ, "地址|Address|Addr|Add"},
};

const RE &labelExpression()
{
    static const RE expression = [] {
        QString alternatives;
        for (const Label &label : Labels) {
            QStringList parts = QString::fromUtf8(label.pattern).split(QLatin1Char('|'));
            // Latin labels are whole words (Tel, not the start of Telecom).
            for (QString &part : parts)
                if (part.front().isLetter() && part.front().unicode() < 128 && !part.contains(QLatin1String("(?=")))
                    part += QStringLiteral("(?![A-Za-z])");
            if (!alternatives.isEmpty())
                alternatives += QLatin1Char('|');
            alternatives += QStringLiteral("(") + parts.join(QLatin1Char('|')) + QStringLiteral(")");
        }
        return RE(QStringLiteral("(?<![A-Za-z])(?:") + alternatives + QStringLiteral(")\\.?\\s*[:：]?\\s*"),
                  RE::CaseInsensitiveOption | RE::UseUnicodePropertiesOption);
    }();
    return expression;
}

// The text is a label and nothing else ("传真：", "Tel").
bool isLabelOnly(const QString &text)
{
    const QRegularExpressionMatch m = labelExpression().match(text);
    return m.hasMatch() && m.capturedStart(0) == 0 && m.capturedLength(0) == text.size();
}

const RE &emailExpression()
{
    static const RE e(QStringLiteral("[A-Za-z0-9._%+-]+@[A-Za-z0-9-]+(?:\\.[A-Za-z0-9-]+)*\\.[A-Za-z]{2,}"));
    return e;
}
const RE &webExpression()
{
    static const RE e(QStringLiteral("(?<![@\\w.])(?:https?://)?(?:www\\.)?[A-Za-z0-9-]+(?:\\.[A-Za-z0-9-]+)*"
                                     "\\.(?:com|cn|net|org|edu|gov|info|biz|cc|io|hk|tw)(?:\\.[a-z]{2})?"
                                     "(?:/[^\\s]*)?(?![\\w@])"),
                      RE::CaseInsensitiveOption);
    return e;
}
const RE &mobileExpression()
{
    static const RE e(QStringLiteral("(?<![\\d+])(?:\\+?86[\\s-]?)?1[3-9]\\d(?:\\s?-?\\s?\\d{4}){2}(?!\\d)"));
    return e;
}
const RE &landlineExpression()
{
    static const RE e(QStringLiteral(
        "(?<![\\d+])(?:\\+?86[\\s-]?\\(?\\d{2,3}\\)?|\\(0\\d{2,3}\\)|0\\d{2,3})[\\s-]?\\d{3,4}[\\s-]?\\d{4}(?!\\d)"));
    return e;
}
const RE &companyExpression()
{
    // A Chinese suffix ends its name: "学院路" is a road.
    static const RE e(QStringLiteral("(?:有限公司|有限|公司|集团|研究院|研究所|事务所|银行|分行|大学|学院|医院|工作室)"
                                     "(?!\\p{Han})|"
                                     "\\b(?:Co\\.|Ltd|Inc|Group|Corporation|Corp|Company|LLC|Bank|University|Institute|Firm)\\b"),
                      RE::CaseInsensitiveOption | RE::UseUnicodePropertiesOption);
    return e;
}
const RE &titleExpression()
{
    static const RE e(QStringLiteral(
        "经理|总监|总裁|董事长|董事|主任|工程师|主管|副总|助理|顾问|会计师|律师|教授|院长|部长|处长|科长|秘书|设计师|"
        "\\b(?:CEO|CTO|CFO|COO|VP|Manager|Director|Engineer|President|Consultant|Assistant|Officer|Designer|"
        "Chairman|Supervisor|Accountant|Lawyer|Professor)\\b"),
                      RE::CaseInsensitiveOption);
    return e;
}
const RE &addressExpression()
{
    static const RE e(QStringLiteral(
        "省|市|区|县|路|街|道|号|楼|室|层|大厦|广场|镇|村|园|弄|巷|"
        "\\b(?:Road|Rd|Street|St|Avenue|Ave|Floor|Fl|Room|Rm|Building|Bldg|District|Suite|No|Province|City)\\b"),
                      RE::CaseInsensitiveOption);
    return e;
}

// Common surnames: a short Chinese line that starts with one is most likely
// the name.
bool startsWithSurname(const QString &name)
{
    static const QString single = QStringLiteral(
        "王李张刘陈杨黄赵吴周徐孙马朱胡郭何高林罗郑梁谢宋唐许韩冯邓曹彭曾肖田董袁潘于蒋蔡余杜叶程苏魏吕丁任沈姚卢姜崔钟"
        "谭陆汪范金石廖贾夏韦付方白邹孟熊秦邱江尹薛闫段雷侯龙史陶黎贺顾毛郝龚邵万钱严覃武戴莫孔向汤常温康施文牛樊葛邢安"
        "齐易乔伍庞颜倪庄聂章鲁岳翟殷詹申欧耿关兰焦俞左柳甘祝包宁尚符舒阮柯纪梅童凌毕单季裴霍涂成苗谷盛曲翁冉骆蓝游辛"
        "靳管柴蒙鲍华喻祁蒲房滕屈饶解牟艾尤阳时穆农司卓古吉缪简车连芦麦褚娄窦戚岑景党宫费卜冷晏席卫米柏宗瞿桂全佟应臧"
        "闵苟邬边卞姬师和仇栾隋商刁沙荣巫寇桑郎甄丛仲虞敖巩明佘池查麻苑迟邝");
    static const QStringList compound = {QStringLiteral("欧阳"), QStringLiteral("司马"), QStringLiteral("上官"),
                                         QStringLiteral("诸葛"), QStringLiteral("东方"), QStringLiteral("慕容")};
    if (name.isEmpty())
        return false;
    return single.contains(name.front()) ||
           std::any_of(compound.begin(), compound.end(), [&](const QString &c) { return name.startsWith(c); });
}

// A title begins here: a title word, or the department or rank before one
// ("销售经理", "高级工程师", "首席顾问").
bool startsWithTitle(const QString &text)
{
    static const RE e(QStringLiteral(
        "^(?:经理|总监|总裁|董事|主任|工程师|主管|副|总|助理|顾问|会计师|律师|教授|院长|部长|处长|科长|秘书|设计师|"
        "高级|资深|首席|执行|常务|销售|市场|技术|财务|项目|行政|人事|人力|区域|客户|产品|研发|业务|采购|运营|法务|"
        "办公室|部门|分公司)"));
    return e.match(text).hasMatch();
}

// A short Chinese line that begins with a title's rank or department, its
// title word perhaps misread ("技术总此", "项目经").
bool isShortTitle(const QString &text)
{
    static const RE e(QStringLiteral("^(?:高级|资深|首席|执行|常务|销售|市场|技术|财务|项目|行政|人事|人力|区域|客户|"
                                     "产品|研发|业务|采购|运营|法务|办公室)\\p{Han}{1,6}$"),
                      RE::UseUnicodePropertiesOption);
    return e.match(text).hasMatch();
}

bool isChineseName(const QString &text)
{
    static const RE e(QStringLiteral("^\\p{Han}{2,4}$"), RE::UseUnicodePropertiesOption);
    return e.match(text).hasMatch();
}

bool isLatinName(const QString &text)
{
    // Capitals read for small letters are common ("YU Ma").
    static const RE e(QStringLiteral("^(?:[A-Z][A-Za-z]+(?:[ -][A-Z][A-Za-z]+){1,2}|[A-Z]{2,}(?: [A-Z]{2,}){1,2})$"));
    return e.match(text).hasMatch();
}

// A Latin name written in small letters with a word in capitals is a
// misreading ("YU Ma"): that word as the others; a name all in capitals
// stays as the card prints it.
QString latinNameCase(const QString &name)
{
    if (!isLatinName(name) || name == name.toUpper())
        return name;
    QStringList words = name.split(QLatin1Char(' '));
    for (QString &word : words)
        if (word.size() > 1 && word == word.toUpper())
            word = word.left(1) + word.mid(1).toLower();
    return words.join(QLatin1Char(' '));
}

QString trimSeparators(const QString &text)
{
    // A closing bracket before a text and an opening one after it close
    // and open nothing: a stroke of a frame or band read as a sign.
    static const RE ends(QStringLiteral("^[\\s,;，；、|/:：\\]】]+|[\\s,;，；、|/:：\\[【]+$"));
    QString t = text;
    t.replace(ends, QString());
    return t;
}

QString withoutSpaces(QString text)
{
    text.remove(QLatin1Char(' '));
    return text;
}

struct Assignment
{
    std::array<CapturedField, 13> fields;
    QStringList others;
    CapturedField other;

    void set(int n, const QString &value, const Line &line)
    {
        const QString text = trimSeparators(value);
        if (text.isEmpty())
            return;
        CapturedField &f = fields[size_t(n - 1)];
        if (n != Field::Other && f.text.isEmpty()) {
            f = CapturedField{text, line.confidence, line.box};
            return;
        }
        others.append(text);
        other.confidence = other.confidence < 0 ? line.confidence : std::min(other.confidence, line.confidence);
        other.box = other.box.isNull() ? line.box : other.box.united(line.box);
    }
    bool has(int n) const { return !fields[size_t(n - 1)].text.isEmpty(); }
};

QString mendAddresses(QString text);
QString mendAddressLetters(QString address, bool email);
// An e-mail address read without its '@' ("li.leieruifeng.com.cn") with the
// '@' put before a domain it ends in: the card's web site's (`web`) or a
// well-known mail service's. As it was when it ends in neither.
QString addressWithDomain(const QString &address, const QString &web);

// Misreadings of a telephone number's signs: the bracket round its area
// code read as "<", "《" or "[" (and "]"), the area code's 0 doubled
// ("0029-", where 00 would begin a country code: 0044 stays), a dot for
// the dash after it.
// A space read beside a dash in a number ("189- 1886- 5106").
QString withoutSpacesAtDashes(QString number)
{
    static const RE dash(QStringLiteral("(\\d)(?:\\s+-\\s*|-\\s+)(?=\\d)"));
    return number.replace(dash, QStringLiteral("\\1-"));
}

QString telephoneNumber(QString text)
{
    static const RE bracket(QStringLiteral("(?<![\\d(])[<《\\[{（]\\s*(0\\d{2,3})\\s*[)\\]）]"));
    text.replace(bracket, QStringLiteral("(\\1)"));
    // The "+" of the country code read as a sign or two ("#", ".", "”")
    // or lost before an international number ("86 10 9475 2413").
    static const RE country(QStringLiteral("(?<![\\w+])(?:[^\\s\\w(]{1,2})?86(?=[\\s-](?:\\(?\\d{2,3}\\)?[\\s-]?\\d{3,4}"
                                           "[\\s-]?\\d{4}|1[3-9]\\d[\\s-]?\\d{4}[\\s-]?\\d{4})(?!\\d))"));
    text.replace(country, QStringLiteral("+86"));
    // Beijing's and the 02x area codes have three digits: a fourth before a
    // space is the closing bracket misread ("(0257 5340", "(0217) 4664").
    static const RE closing(QStringLiteral("\\((0(?:10|2\\d))7\\)?(?=\\s\\d)"));
    text.replace(closing, QStringLiteral("(\\1)"));
    static const RE doubled(QStringLiteral("^00((?:10|2\\d|[3-9]\\d\\d)[-.\\s])"));
    text.replace(doubled, QStringLiteral("0\\1"));
    static const RE dot(QStringLiteral("^(0\\d{2,3})\\.(\\d{7,8})$"));
    text.replace(dot, QStringLiteral("\\1-\\2"));
    return text;
}

// A Chinese address is written without spaces ("长江路386号271 6室") and
// begins with a place: signs read before it ("+4广州市") go.
QString chineseAddress(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i)
        if (isHan(text[i])) {
            static const RE leading(QStringLiteral("^[^\\p{Han}A-Za-z]{1,2}(?=\\p{Han})"),
                                    RE::UseUnicodePropertiesOption);
            return withoutSpaces(text).remove(leading);
        }
    return text;
}

QString cleanLabelled(int field, const QString &value)
{
    switch (field) {
    case Field::DH:
    case Field::CZ:
    case Field::SJ: {
        // Before a labelled number nothing but misread signs: "ft86",
        // "人(0512)", ".158".
        static const RE leading(QStringLiteral("^(?:[^\\d+(（<《\\[{]+|\\+\\s*(?=\\())(?=[+(（<《\\[{]?\\d)"));
        return withoutSpacesAtDashes(telephoneNumber(repairDigits(value).remove(leading)));
    }
    case Field::YB:
    case Field::QQ: {
        // A postcode or QQ number is digits alone: signs read around them go.
        static const RE number(QStringLiteral("^[^\\d]{1,2}(?=\\d{5,11}$)|(?<=\\d)[^\\d]{1,2}$"));
        return withoutSpaces(repairDigits(value)).remove(number);
    }
    case Field::EMail:
    case Field::MSN: {
        // A labelled address whose '@' was read as a letter.
        const QString address = withoutSpaces(mendAddresses(value));
        return address.contains(u'@') ? address : mendAddressLetters(address, true);
    }
    case Field::WZ:
        return withoutSpaces(mendAddresses(value));
    case Field::DZ:
        return chineseAddress(value);
    default:
        return value;
    }
}

// Letters of an address the recogniser misread: a '1' for an 'l' before
// small letters ("1i.lei"), a capital letter for the '@' ("yuGhotmail.com",
// "zhangjingG@"), one stray capital in an address of small letters
// ("tech.Com.cn"). An address printed with capitals of its own keeps them.
QString mendAddressLetters(QString address, bool email)
{
    if (address.isEmpty())
        return address;
    qsizetype capitals = 0;
    for (QChar c : std::as_const(address))
        capitals += c.isUpper();
    if (email) {
        static const RE one(QStringLiteral("(?<![0-9A-Za-z])1(?=[a-z])|(?<=[a-z])1(?=[a-z])"));
        const qsizetype at = address.indexOf(u'@');
        QString local = at >= 0 ? address.left(at) : address;
        local.replace(one, QStringLiteral("l"));
        address.replace(0, local.size(), local);
        static const RE capitalForAt(QStringLiteral("^([a-z0-9._-]*[a-z])[A-Z]([a-z][a-z0-9-]*\\.[a-z.]+)$"));
        static const RE capitalBeforeAt(QStringLiteral("(?<=[a-z])[GQOCE]@"));
        const qsizetype first = address.front().isUpper() ? 1 : 0;
        if (at < 0 && capitals - first == 1) {
            const QString rest = address.mid(first);
            if (const QRegularExpressionMatch m = capitalForAt.match(rest); m.hasMatch())
                return (address.left(first) + m.captured(1) + u'@' + m.captured(2)).toLower();
        }
        if (capitals == 1 && address.contains(capitalBeforeAt))
            return address.replace(capitalBeforeAt, QStringLiteral("@"));
    }
    return capitals == 1 ? address.toLower() : address;
}

// E-mail and web addresses the recogniser broke at their dots ("zhang
// .na@example.cn", "Www,example ,com", "example.com,.cn") made whole.
QString mendAddresses(QString text)
{
    // After the @ a space may fall anywhere ("luowen@t iancheng-tech.com"),
    // up to the first top-level domain.
    static const RE email(QStringLiteral("[A-Za-z0-9._%+-]+(?:\\s?[.,_-]\\s?[A-Za-z0-9%+-]+)*\\s?@\\s?"
                                         "[A-Za-z0-9-]+(?:\\s?[.,]{0,2}\\s?[A-Za-z0-9-]+)*?\\s?[.,]{1,2}\\s?"
                                         "(?:com|cn|net|org|edu|gov|info|biz|cc|io|hk|tw|[a-z]{2})(?![A-Za-z])"
                                         "(?:\\s?[.,]{1,2}\\s?[a-z]{2}(?![A-Za-z@]))?"));
    static const RE web(QStringLiteral("\\bw{3,4}\\s?[.,]\\s?[A-Za-z0-9-]+(?:\\s?[.,]{1,2}\\s?[A-Za-z0-9-]+)+"),
                        RE::CaseInsensitiveOption);
    static const RE leadingW(QStringLiteral("(?<![A-Za-z])[Ww](?=www\\s?[.,])"));
    text.remove(leadingW);
    // "www" misread ("wew", "vww") or without its dot before a domain.
    static const RE www(QStringLiteral("(?<![A-Za-z0-9.@-])(?:[wv][we]w|w[wev][wv])(?:\\s*[.,]{1,2}\\s*|\\s+)"
                                       "(?=[A-Za-z0-9-]+\\.[A-Za-z])"),
                        RE::CaseInsensitiveOption);
    text.replace(www, QStringLiteral("www."));
    // A sign read right after the '@' ("zhuzhihong@,jinqiao-tech.com").
    static const RE afterAt(QStringLiteral("@\\s*[.,]+\\s*(?=[A-Za-z0-9])"));
    text.replace(afterAt, QStringLiteral("@"));
    static const RE dots(QStringLiteral("[.,]{2,}"));
    for (const RE *expression : {&email, &web}) {
        QRegularExpressionMatch m;
        for (qsizetype from = 0; (m = expression->match(text, from)).hasMatch();) {
            QString whole = m.captured(0);
            whole.remove(QLatin1Char(' '));
            whole.replace(QLatin1Char(','), QLatin1Char('.'));
            whole.replace(dots, QStringLiteral("."));
            if (expression == &web)
                whole.replace(0, 3, QStringLiteral("www"));
            whole = mendAddressLetters(whole, expression == &email);
            text.replace(m.capturedStart(0), m.capturedLength(0), whole);
            from = m.capturedStart(0) + whole.size();
        }
    }
    return text;
}

QString addressWithDomain(const QString &address, const QString &web)
{
    QStringList domains = {QStringLiteral("hotmail.com"), QStringLiteral("outlook.com"), QStringLiteral("gmail.com"),
                           QStringLiteral("yahoo.com"),   QStringLiteral("163.com"),     QStringLiteral("126.com"),
                           QStringLiteral("qq.com"),      QStringLiteral("foxmail.com"), QStringLiteral("sina.com"),
                           QStringLiteral("sohu.com"),    QStringLiteral("139.com"),     QStringLiteral("aliyun.com")};
    static const RE site(QStringLiteral("^(?:https?://)?(?:www\\.)?([A-Za-z0-9-]+(?:\\.[A-Za-z0-9-]+)+)"),
                         RE::CaseInsensitiveOption);
    if (const QRegularExpressionMatch m = site.match(web); m.hasMatch())
        domains.prepend(m.captured(1).toLower());
    for (const QString &domain : std::as_const(domains)) {
        if (!address.endsWith(domain, Qt::CaseInsensitive) || address.size() < domain.size() + 2)
            continue;
        QString local = address.left(address.size() - domain.size());
        // The '@' most often comes back as one of these; else it was lost.
        if (local.size() >= 2 && QStringLiteral("eQGO6&").contains(local.back()))
            local.chop(1);
        static const RE localPart(QStringLiteral("^[A-Za-z0-9._%+-]+$"));
        if (local.contains(localPart) && !local.endsWith(u'.'))
            return local + u'@' + address.right(domain.size()).toLower();
    }
    return address;
}

// Takes the first match of `expression` out of `text`.
QString takeMatch(QString &text, const RE &expression)
{
    const QRegularExpressionMatch m = expression.match(text);
    if (!m.hasMatch())
        return {};
    const QString found = m.captured(0);
    text.remove(m.capturedStart(0), m.capturedLength(0));
    text.insert(m.capturedStart(0), QLatin1Char(' '));
    return found;
}

} // namespace

QString repairDigits(const QString &text)
{
    static const RE run(QStringLiteral("(?<![A-Za-z])[0-9OoIl|SB](?:[\\s-]?[0-9OoIl|SB])*(?![A-Za-z])"));
    QString result = text;
    QRegularExpressionMatchIterator it = run.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QString token = m.captured(0);
        int digits = 0, letters = 0;
        for (QChar c : token) {
            if (c.isDigit())
                ++digits;
            else if (c != QLatin1Char(' ') && c != QLatin1Char('-'))
                ++letters;
        }
        if (letters == 0 || digits < 5 || letters * 2 > digits)
            continue;
        for (qsizetype i = m.capturedStart(0); i < m.capturedEnd(0); ++i) {
            switch (result[i].unicode()) {
            case 'O':
            case 'o':
                result[i] = QLatin1Char('0');
                break;
            case 'I':
            case 'l':
            case '|':
                result[i] = QLatin1Char('1');
                break;
            case 'S':
                result[i] = QLatin1Char('5');
                break;
            case 'B':
                result[i] = QLatin1Char('8');
                break;
            default:
                break;
            }
        }
    }
    return result;
}

AssignedFields assignCardFields(const QList<CapturedLine> &fragments, bool vertical)
{
    const QList<Line> lines = mergeFragments(fragments, vertical);
    Assignment a;
    struct Candidate
    {
        QString text;
        const Line *line;
    };
    QList<Candidate> texts;

    for (const Line &line : lines) {
        // Split at labels: each label's value runs to the next label.
        struct Segment
        {
            int field;
            QString text;
        };
        QList<Segment> segments;
        qsizetype position = 0;
        int field = 0;
        QRegularExpressionMatchIterator it = labelExpression().globalMatch(line.text);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            segments.append({field, line.text.mid(position, m.capturedStart(0) - position)});
            field = 0;
            for (int g = 1; g <= m.lastCapturedIndex(); ++g)
                if (m.capturedStart(g) >= 0) {
                    field = Labels[g - 1].field;
                    break;
                }
            position = m.capturedEnd(0);
        }
        segments.append({field, line.text.mid(position)});

        for (const Segment &segment : std::as_const(segments)) {
            if (segment.field != 0) {
                a.set(segment.field, cleanLabelled(segment.field, segment.text), line);
                continue;
            }
            QString rest = segment.text;
            if (trimSeparators(rest).isEmpty())
                continue;
            // Patterns anywhere in the text: e-mail first (its digits are
            // not a telephone number), then web address, then numbers.
            rest = mendAddresses(rest);
            for (QString found; !(found = takeMatch(rest, emailExpression())).isEmpty();)
                a.set(a.has(Field::EMail) ? Field::Other : Field::EMail, found, line);
            for (QString found; !(found = takeMatch(rest, webExpression())).isEmpty();)
                a.set(a.has(Field::WZ) ? Field::Other : Field::WZ, found, line);
            rest = telephoneNumber(repairDigits(rest));
            for (QString found; !(found = takeMatch(rest, mobileExpression())).isEmpty();)
                a.set(a.has(Field::SJ) ? Field::Other : Field::SJ, withoutSpacesAtDashes(found), line);
            for (QString found; !(found = takeMatch(rest, landlineExpression())).isEmpty();)
                a.set(a.has(Field::DH) ? Field::Other : Field::DH, withoutSpacesAtDashes(found), line);
            rest = normaliseText(trimSeparators(rest));
            // A Chinese company name and its English name on one line.
            static const RE bilingual(QStringLiteral("^(\\p{Han}.*?(?:有限公司|公司|集团|研究院|研究所|事务所|银行))"
                                                     "\\s*([A-Za-z].*[A-Za-z].*)$"),
                                      RE::UseUnicodePropertiesOption);
            if (const QRegularExpressionMatch m = bilingual.match(rest); m.hasMatch()) {
                texts.append({m.captured(1), &line});
                texts.append({m.captured(2), &line});
            } else if (!rest.isEmpty()) {
                texts.append({rest, &line});
            }
        }
    }

    // Words tell company, address and title; the name is the tallest short
    // line that looks like one; the rest goes to field 13.
    QList<Candidate> unclaimed;
    for (const Candidate &c : std::as_const(texts)) {
        if (companyExpression().match(c.text).hasMatch())
            a.set(a.has(Field::DW) ? Field::Other : Field::DW, c.text, *c.line);
        else if ((titleExpression().match(c.text).hasMatch() && c.text.size() <= 40) ||
                 (!a.has(Field::TouXian) && isShortTitle(c.text))) {
            // A Latin name and its title on one line: "John Smith Sales
            // Manager".
            QString title = c.text;
            for (qsizetype space = title.indexOf(u' '); space > 0; space = title.indexOf(u' ', space + 1)) {
                const QString name = title.left(space);
                if (isLatinName(name) && !titleExpression().match(name).hasMatch() &&
                    titleExpression().match(title.mid(space + 1)).hasMatch()) {
                    unclaimed.append({name, c.line});
                    title = title.mid(space + 1);
                    break;
                }
            }
            // A Chinese name before its title: "王刚董事长", "张晓东销售经理".
            for (qsizetype at = 2; at <= 4 && at + 2 <= title.size(); ++at) {
                const QString name = title.left(at);
                if (isChineseName(name) && startsWithSurname(name) && !startsWithTitle(name) &&
                    startsWithTitle(title.mid(at))) {
                    unclaimed.append({name, c.line});
                    title = title.mid(at);
                    break;
                }
            }
            a.set(a.has(Field::TouXian) ? Field::Other : Field::TouXian, title, *c.line);
        }
        else if (c.text.size() >= 6 && addressExpression().match(c.text).hasMatch())
            a.set(a.has(Field::DZ) ? Field::Other : Field::DZ, chineseAddress(c.text), *c.line);
        else
            unclaimed.append(c);
    }
    qsizetype best = -1;
    double bestScore = 0;
    for (qsizetype i = 0; i < unclaimed.size(); ++i) {
        const Candidate &c = unclaimed[i];
        double score = 0;
        // "高级" split from its "工程师" is no name.
        if (isChineseName(c.text) && !startsWithTitle(c.text))
            score = c.line->size * (startsWithSurname(c.text) ? 2.0 : 1.2);
        else if (isLatinName(c.text))
            score = c.line->size * 1.0;
        if (score > bestScore) {
            bestScore = score;
            best = i;
        }
    }
    if (best >= 0)
        a.set(Field::Name, latinNameCase(unclaimed[best].text), *unclaimed[best].line);
    // Field 13 takes what is left but a lone character or sign.
    for (qsizetype i = 0; i < unclaimed.size(); ++i) {
        qsizetype meaningful = 0;
        for (QChar c : unclaimed[i].text)
            meaningful += c.isLetterOrNumber();
        if (i != best && meaningful >= 2)
            a.set(Field::Other, unclaimed[i].text, *unclaimed[i].line);
    }

    // An address whose '@' was read as a letter or lost, ending in the
    // card's own web domain or a well-known mail domain.
    for (const int n : {int(Field::EMail), int(Field::MSN)}) {
        QString &address = a.fields[size_t(n - 1)].text;
        if (!address.isEmpty() && !address.contains(u'@'))
            address = addressWithDomain(address, a.fields[Field::WZ - 1].text);
    }

    AssignedFields result;
    result.fields = a.fields;
    if (!a.others.isEmpty()) {
        a.other.text = a.others.join(QLatin1Char(' '));
        result.fields[Field::Other - 1] = a.other;
    }
    for (const Line &line : lines)
        result.lines.append(CapturedLine{line.text, line.confidence, line.box});
    return result;
}

} // namespace kelvo::capture
