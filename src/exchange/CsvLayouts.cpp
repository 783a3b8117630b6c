#include "CsvLayouts.h"

#include "ContactDraft.h"
#include "ExchangeLimits.h"
#include "FieldNames.h"
#include "TextDecoding.h"

#include <QHash>
#include <QRegularExpression>

namespace kelvo::exchange {

namespace {

using Kind = CsvColumn::Kind;

// Address groups of a layout.
enum : int { WorkGroup = 0, HomeGroup = 1, OtherGroup = 2, HomeThenWork = -1 };

struct Entry
{
    const char *name;
    Kind kind;
    int field = 0;          // Field: the field; Address: the group
    int rank = Rank::Other; // Field: the rank; Address: the part
};

constexpr Entry field(const char *name, int n, int rank = Rank::Other)
{
    return {name, Kind::Field, n, rank};
}
constexpr Entry extra(const char *name)
{
    return {name, Kind::Extra};
}
constexpr Entry ignore(const char *name)
{
    return {name, Kind::Ignore};
}
constexpr Entry address(const char *name, int group, int part)
{
    return {name, Kind::Address, group, part};
}
constexpr Entry named(const char *name, Kind kind)
{
    return {name, kind};
}

using P = CsvColumn::Part;

// Outlook, English. Its "Title" is the salutation (Mr., Dr.); the job title
// is "Job Title". Business columns rank as work.
const Entry OutlookEntries[] = {
    extra("Title"),
    named("First Name", Kind::Given),
    named("Middle Name", Kind::Additional),
    named("Last Name", Kind::Family),
    named("Suffix", Kind::Suffix),
    extra("Nickname"),
    ignore("Given Yomi"),
    ignore("Surname Yomi"),
    ignore("Company Yomi"),
    field("Company", 3),
    extra("Department"),
    field("Job Title", 2),
    address("Business Street", WorkGroup, P::Street),
    address("Business Street 2", WorkGroup, P::Street2),
    address("Business Street 3", WorkGroup, P::Street3),
    address("Business City", WorkGroup, P::City),
    address("Business State", WorkGroup, P::Region),
    address("Business Postal Code", WorkGroup, P::Postcode),
    address("Business Country/Region", WorkGroup, P::Country),
    address("Business Country", WorkGroup, P::Country),
    address("Business Address PO Box", WorkGroup, P::PoBox),
    address("Business Address", WorkGroup, P::Formatted),
    address("Home Street", HomeGroup, P::Street),
    address("Home Street 2", HomeGroup, P::Street2),
    address("Home Street 3", HomeGroup, P::Street3),
    address("Home City", HomeGroup, P::City),
    address("Home State", HomeGroup, P::Region),
    address("Home Postal Code", HomeGroup, P::Postcode),
    address("Home Country/Region", HomeGroup, P::Country),
    address("Home Country", HomeGroup, P::Country),
    address("Home Address PO Box", HomeGroup, P::PoBox),
    address("Home Address", HomeGroup, P::Formatted),
    address("Other Street", OtherGroup, P::Street),
    address("Other Street 2", OtherGroup, P::Street2),
    address("Other Street 3", OtherGroup, P::Street3),
    address("Other City", OtherGroup, P::City),
    address("Other State", OtherGroup, P::Region),
    address("Other Postal Code", OtherGroup, P::Postcode),
    address("Other Country/Region", OtherGroup, P::Country),
    address("Other Country", OtherGroup, P::Country),
    address("Other Address PO Box", OtherGroup, P::PoBox),
    address("Other Address", OtherGroup, P::Formatted),
    field("Assistant's Phone", 5, Rank::LastResort),
    field("Business Fax", 6, Rank::Work),
    field("Business Phone", 5, Rank::Work),
    field("Business Phone 2", 5, Rank::Work),
    field("Callback", 5, Rank::LastResort),
    field("Car Phone", 5, Rank::LastResort),
    field("Company Main Phone", 5, Rank::Work),
    field("Home Fax", 6),
    field("Home Phone", 5),
    field("Home Phone 2", 5),
    field("ISDN", 5, Rank::LastResort),
    field("Mobile Phone", 7),
    field("Other Fax", 6),
    field("Other Phone", 5),
    field("Pager", 5, Rank::LastResort),
    field("Primary Phone", 5),
    field("Radio Phone", 5, Rank::LastResort),
    field("TTY/TDD Phone", 5, Rank::LastResort),
    field("Telex", 5, Rank::LastResort),
    field("E-mail Address", 12),
    ignore("E-mail Type"),
    ignore("E-mail Display Name"),
    field("E-mail 2 Address", 12),
    ignore("E-mail 2 Type"),
    ignore("E-mail 2 Display Name"),
    field("E-mail 3 Address", 12),
    ignore("E-mail 3 Type"),
    ignore("E-mail 3 Display Name"),
    field("IMAddress", 11),
    field("IM Address", 11),
    field("Web Page", 9),
    field("Personal Web Page", 9, Rank::LastResort),
    field("Notes", 13),
    extra("Account"),
    extra("Anniversary"),
    extra("Assistant's Name"),
    extra("Billing Information"),
    extra("Birthday"),
    extra("Children"),
    extra("Government ID Number"),
    extra("Hobby"),
    extra("Keywords"),
    extra("Location"),
    extra("Manager's Name"),
    extra("Office Location"),
    extra("Organizational ID Number"),
    extra("Profession"),
    extra("Referred By"),
    extra("Spouse"),
    extra("Schools"),
    extra("User 1"),
    extra("User 2"),
    extra("User 3"),
    extra("User 4"),
    ignore("Categories"),
    ignore("Directory Server"),
    ignore("Gender"),
    ignore("Initials"),
    ignore("Internet Free Busy"),
    ignore("Language"),
    ignore("Mileage"),
    ignore("Priority"),
    ignore("Private"),
    ignore("Sensitivity"),
};

// Outlook, Chinese. "头衔", "称谓", "英文称谓" and "中文称谓" are salutations;
// "职务" and "职位" are the job title. Outlook's versions name the columns in
// two ways: the older ones "名", "姓", "单位", "商务地址 街道", "移动电话",
// "附注"; the newer ones "名字", "姓氏", "公司街道" or "公司所在街道",
// "住宅所在街道", "手机", "备注". Both sets are in one table: no name means
// one thing in one set and another in the other.
const Entry OutlookChineseEntries[] = {
    extra("头衔"),
    extra("称谓"),
    extra("称谓/头衔"),
    extra("英文称谓"),
    extra("中文称谓"),
    named("名", Kind::Given),
    named("名字", Kind::Given),
    named("中间名", Kind::Additional),
    named("姓", Kind::Family),
    named("姓氏", Kind::Family),
    field("职位", 2),
    address("公司街道", WorkGroup, P::Street),
    address("公司街道 2", WorkGroup, P::Street2),
    address("公司街道 3", WorkGroup, P::Street3),
    address("公司所在街道", WorkGroup, P::Street),
    address("公司所在街道 2", WorkGroup, P::Street2),
    address("公司所在街道 3", WorkGroup, P::Street3),
    address("公司城市", WorkGroup, P::City),
    address("公司所在城市", WorkGroup, P::City),
    address("公司所在市/县", WorkGroup, P::City),
    address("公司省份", WorkGroup, P::Region),
    address("公司所在省份", WorkGroup, P::Region),
    address("公司所在省/市/自治区", WorkGroup, P::Region),
    address("公司邮编", WorkGroup, P::Postcode),
    address("公司邮政编码", WorkGroup, P::Postcode),
    address("公司所在地邮政编码", WorkGroup, P::Postcode),
    address("公司国家/地区", WorkGroup, P::Country),
    address("公司所在国家/地区", WorkGroup, P::Country),
    address("公司地址邮政信箱", WorkGroup, P::PoBox),
    address("住宅所在街道", HomeGroup, P::Street),
    address("住宅所在街道 2", HomeGroup, P::Street2),
    address("住宅所在街道 3", HomeGroup, P::Street3),
    address("住宅所在城市", HomeGroup, P::City),
    address("住宅所在市/县", HomeGroup, P::City),
    address("住宅所在省份", HomeGroup, P::Region),
    address("住宅所在省/市/自治区", HomeGroup, P::Region),
    address("住宅所在地邮政编码", HomeGroup, P::Postcode),
    address("住宅所在国家/地区", HomeGroup, P::Country),
    address("家庭街道", HomeGroup, P::Street),
    address("家庭街道 2", HomeGroup, P::Street2),
    address("家庭街道 3", HomeGroup, P::Street3),
    address("家庭城市", HomeGroup, P::City),
    address("家庭省份", HomeGroup, P::Region),
    address("家庭邮编", HomeGroup, P::Postcode),
    address("家庭国家/地区", HomeGroup, P::Country),
    address("其他所在街道", OtherGroup, P::Street),
    address("其他所在街道 2", OtherGroup, P::Street2),
    address("其他所在街道 3", OtherGroup, P::Street3),
    address("其他所在城市", OtherGroup, P::City),
    address("其他所在市/县", OtherGroup, P::City),
    address("其他所在省份", OtherGroup, P::Region),
    address("其他所在省/市/自治区", OtherGroup, P::Region),
    address("其他所在地邮政编码", OtherGroup, P::Postcode),
    address("其他所在国家/地区", OtherGroup, P::Country),
    address("其他街道", OtherGroup, P::Street),
    address("其他街道 2", OtherGroup, P::Street2),
    address("其他街道 3", OtherGroup, P::Street3),
    address("其他城市", OtherGroup, P::City),
    address("其他省份", OtherGroup, P::Region),
    address("其他邮编", OtherGroup, P::Postcode),
    address("其他国家/地区", OtherGroup, P::Country),
    field("公司传真", 6, Rank::Work),
    field("公司电话", 5, Rank::Work),
    field("公司电话 2", 5, Rank::Work),
    field("公司总机", 5, Rank::Work),
    field("家庭电话", 5),
    field("家庭电话 2", 5),
    field("家庭传真", 6),
    field("手机", 7),
    field("助理电话", 5, Rank::LastResort),
    field("回拨电话", 5, Rank::LastResort),
    field("回拨", 5, Rank::LastResort),
    field("无线电话", 5, Rank::LastResort),
    field("备注", 13),
    ignore("电子邮件显示名"),
    extra("周年纪念日"),
    extra("助理姓名"),
    extra("经理名称"),
    extra("办公室位置"),
    extra("爱好"),
    extra("政府 ID 号码"),
    extra("组织 ID 号码"),
    extra("推荐人"),
    extra("学校"),
    extra("账户"),
    ignore("首字母缩写"),
    ignore("Internet 空闲/忙碌"),
    named("后缀", Kind::Suffix),
    extra("昵称"),
    field("单位", 3),
    field("公司", 3),
    extra("部门"),
    field("职务", 2),
    address("商务地址 街道", WorkGroup, P::Street),
    address("商务地址 街道 2", WorkGroup, P::Street2),
    address("商务地址 街道 3", WorkGroup, P::Street3),
    address("商务地址 市/县", WorkGroup, P::City),
    address("商务地址 省/市/自治区", WorkGroup, P::Region),
    address("商务地址 邮政编码", WorkGroup, P::Postcode),
    address("商务地址 国家/地区", WorkGroup, P::Country),
    address("商务地址 - 邮箱", WorkGroup, P::PoBox),
    address("商务地址邮政信箱", WorkGroup, P::PoBox),
    address("住宅地址 街道", HomeGroup, P::Street),
    address("住宅地址 街道 2", HomeGroup, P::Street2),
    address("住宅地址 街道 3", HomeGroup, P::Street3),
    address("住宅地址 市/县", HomeGroup, P::City),
    address("住宅地址 省/市/自治区", HomeGroup, P::Region),
    address("住宅地址 邮政编码", HomeGroup, P::Postcode),
    address("住宅地址 国家/地区", HomeGroup, P::Country),
    address("住宅地址 - 邮箱", HomeGroup, P::PoBox),
    address("住宅地址邮政信箱", HomeGroup, P::PoBox),
    address("其他地址 街道", OtherGroup, P::Street),
    address("其他地址 街道 2", OtherGroup, P::Street2),
    address("其他地址 街道 3", OtherGroup, P::Street3),
    address("其他地址 市/县", OtherGroup, P::City),
    address("其他地址 省/市/自治区", OtherGroup, P::Region),
    address("其他地址 邮政编码", OtherGroup, P::Postcode),
    address("其他地址 国家/地区", OtherGroup, P::Country),
    address("其他地址 - 邮箱", OtherGroup, P::PoBox),
    address("其他地址邮政信箱", OtherGroup, P::PoBox),
    field("助理的电话", 5, Rank::LastResort),
    field("商务传真", 6, Rank::Work),
    field("商务电话", 5, Rank::Work),
    field("商务电话 2", 5, Rank::Work),
    field("回电话", 5, Rank::LastResort),
    field("车载电话", 5, Rank::LastResort),
    field("单位主要电话", 5, Rank::Work),
    field("公司主要电话", 5, Rank::Work),
    field("住宅传真", 6),
    field("住宅电话", 5),
    field("住宅电话 2", 5),
    field("ISDN", 5, Rank::LastResort),
    field("移动电话", 7),
    field("其他传真", 6),
    field("其他电话", 5),
    field("寻呼机", 5, Rank::LastResort),
    field("主要电话", 5),
    field("无绳电话", 5, Rank::LastResort),
    field("TTY/TDD 电话", 5, Rank::LastResort),
    field("电报", 5, Rank::LastResort),
    field("电子邮件地址", 12),
    ignore("电子邮件类型"),
    ignore("电子邮件显示名称"),
    field("电子邮件 2 地址", 12),
    ignore("电子邮件 2 类型"),
    ignore("电子邮件 2 显示名"),
    ignore("电子邮件 2 显示名称"),
    field("电子邮件 3 地址", 12),
    ignore("电子邮件 3 类型"),
    ignore("电子邮件 3 显示名"),
    ignore("电子邮件 3 显示名称"),
    field("IM 地址", 11),
    field("网页", 9),
    field("个人网页", 9, Rank::LastResort),
    field("附注", 13),
    extra("办公地点"),
    extra("地点"),
    extra("工作证号码"),
    extra("关键词"),
    extra("记帐信息"),
    extra("纪念日"),
    extra("经理姓名"),
    extra("配偶"),
    extra("身份证编号"),
    extra("生日"),
    extra("业余爱好"),
    extra("引用者"),
    extra("用户 1"),
    extra("用户 2"),
    extra("用户 3"),
    extra("用户 4"),
    extra("帐户"),
    extra("职业"),
    extra("助理的姓名"),
    extra("子女"),
    ignore("Internet 忙闲"),
    ignore("类别"),
    ignore("里程"),
    ignore("敏感度"),
    ignore("目录服务器"),
    ignore("私有"),
    ignore("缩写"),
    ignore("性别"),
    ignore("优先级"),
    ignore("语言"),
};

const Entry ThunderbirdEntries[] = {
    named("First Name", Kind::Given),
    named("Last Name", Kind::Family),
    named("Display Name", Kind::FullName),
    extra("Nickname"),
    field("Primary Email", 12),
    field("Secondary Email", 12),
    extra("Screen Name"),
    field("Work Phone", 5, Rank::Work),
    field("Home Phone", 5),
    field("Fax Number", 6),
    field("Pager Number", 5, Rank::LastResort),
    field("Mobile Number", 7),
    address("Home Address", HomeGroup, P::Street),
    address("Home Address 2", HomeGroup, P::Street2),
    address("Home City", HomeGroup, P::City),
    address("Home State", HomeGroup, P::Region),
    address("Home ZipCode", HomeGroup, P::Postcode),
    address("Home Country", HomeGroup, P::Country),
    address("Work Address", WorkGroup, P::Street),
    address("Work Address 2", WorkGroup, P::Street2),
    address("Work City", WorkGroup, P::City),
    address("Work State", WorkGroup, P::Region),
    address("Work ZipCode", WorkGroup, P::Postcode),
    address("Work Country", WorkGroup, P::Country),
    field("Job Title", 2),
    extra("Department"),
    field("Organization", 3),
    field("Web Page 1", 9, Rank::Work),
    field("Web Page 2", 9),
    extra("Birth Year"),
    extra("Birth Month"),
    extra("Birth Day"),
    extra("Custom 1"),
    extra("Custom 2"),
    extra("Custom 3"),
    extra("Custom 4"),
    field("Notes", 13),
};

// Thunderbird, Chinese: home and work address columns share four names;
// of two, the first is the home one and the second the work one, which the
// address field takes.
const Entry ThunderbirdChineseEntries[] = {
    named("名字", Kind::Given),
    named("姓氏", Kind::Family),
    named("显示名称", Kind::FullName),
    named("显示姓名", Kind::FullName),
    extra("昵称"),
    field("主要电子邮件", 12),
    field("备用电子邮件", 12),
    extra("屏幕名"),
    field("工作电话", 5, Rank::Work),
    field("家庭电话", 5),
    field("传真号码", 6),
    field("寻呼机号码", 5, Rank::LastResort),
    field("移动电话号码", 7),
    address("家庭地址", HomeGroup, P::Street),
    address("家庭地址 2", HomeGroup, P::Street2),
    address("工作地址", WorkGroup, P::Street),
    address("工作地址 2", WorkGroup, P::Street2),
    address("城市", HomeThenWork, P::City),
    address("省/自治区/直辖市", HomeThenWork, P::Region),
    address("邮政编码", HomeThenWork, P::Postcode),
    address("国家", HomeThenWork, P::Country),
    field("职务", 2),
    extra("部门"),
    field("公司", 3),
    field("网页 1", 9, Rank::Work),
    field("网页 2", 9),
    extra("出生年份"),
    extra("出生月份"),
    extra("出生日"),
    extra("定制 1"),
    extra("定制 2"),
    extra("定制 3"),
    extra("定制 4"),
    field("注释", 13),
};

// Google's columns outside its numbered groups, older and newer layouts.
const Entry GoogleEntries[] = {
    named("Name", Kind::FullName),
    named("Given Name", Kind::Given),
    named("Additional Name", Kind::Additional),
    named("Family Name", Kind::Family),
    named("First Name", Kind::Given),
    named("Middle Name", Kind::Additional),
    named("Last Name", Kind::Family),
    extra("Name Prefix"),
    named("Name Suffix", Kind::Suffix),
    ignore("Yomi Name"),
    ignore("Given Name Yomi"),
    ignore("Additional Name Yomi"),
    ignore("Family Name Yomi"),
    ignore("Phonetic First Name"),
    ignore("Phonetic Middle Name"),
    ignore("Phonetic Last Name"),
    ignore("Initials"),
    extra("Nickname"),
    extra("Short Name"),
    extra("Maiden Name"),
    ignore("File As"),
    extra("Birthday"),
    ignore("Gender"),
    extra("Location"),
    extra("Billing Information"),
    ignore("Directory Server"),
    ignore("Mileage"),
    extra("Occupation"),
    extra("Hobby"),
    ignore("Sensitivity"),
    ignore("Priority"),
    extra("Subject"),
    field("Notes", 13),
    ignore("Language"),
    ignore("Photo"),
    ignore("Group Membership"),
    ignore("Labels"),
    field("Organization Name", 3),
    field("Organization Title", 2),
    extra("Organization Department"),
};

QString keyOf(const QString &name)
{
    return OneLine(name).toCaseFolded();
}

using Table = QHash<QString, Entry>;

Table tableOf(const Entry *entries, size_t count)
{
    Table table;
    for (size_t i = 0; i < count; ++i)
        table.insert(keyOf(QString::fromUtf8(entries[i].name)), entries[i]);
    return table;
}

template<size_t N>
const Table &tableFor(const Entry (&entries)[N])
{
    static const Table table = tableOf(entries, N);
    return table;
}

QString groupLabelFor(CsvLayout layout, int group)
{
    static const char *const outlook[] = {"Business Address", "Home Address", "Other Address"};
    static const char *const outlookChinese[] = {"商务地址", "住宅地址", "其他地址"};
    static const char *const thunderbird[] = {"Work Address", "Home Address", "Other Address"};
    static const char *const thunderbirdChinese[] = {"工作地址", "家庭地址", "其他地址"};
    if (group < 0 || group > 2)
        return QString();
    switch (layout) {
    case CsvLayout::Outlook:
        return QString::fromUtf8(outlook[group]);
    case CsvLayout::OutlookChinese:
        return QString::fromUtf8(outlookChinese[group]);
    case CsvLayout::Thunderbird:
        return QString::fromUtf8(thunderbird[group]);
    case CsvLayout::ThunderbirdChinese:
        return QString::fromUtf8(thunderbirdChinese[group]);
    default:
        break;
    }
    return QString();
}

CsvColumn columnOf(const Entry &entry, CsvLayout layout)
{
    CsvColumn column;
    column.kind = entry.kind;
    if (entry.kind == Kind::Field) {
        column.field = entry.field;
        column.rank = entry.rank;
    } else if (entry.kind == Kind::Address) {
        column.group = entry.field;
        column.part = entry.rank;
        column.rank = entry.field == WorkGroup ? Rank::Work : Rank::Other;
        column.groupLabel = groupLabelFor(layout, entry.field);
    }
    return column;
}

// "Phone 2 - Value", "E-mail 1 - Label", ...: Google's numbered groups.
std::optional<CsvColumn> googleGroupColumn(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^(.+) (\\d{1,3}) - (.+)$"));
    const QRegularExpressionMatch match = pattern.match(name.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const QString kind = keyOf(match.captured(1));
    const QString part = keyOf(match.captured(3));
    CsvColumn column;
    column.kind = Kind::GoogleGroup;
    column.group = match.captured(2).toInt();
    using G = CsvColumn::GoogleKind;
    struct KindName
    {
        const char *name;
        int kind;
    };
    static const KindName kinds[] = {
        {"e-mail", G::EMail},
        {"phone", G::Phone},
        {"address", G::AddressGroup},
        {"organization", G::Organization},
        {"website", G::Website},
        {"im", G::Im},
        {"event", G::Event},
        {"relation", G::Relation},
        {"custom field", G::CustomField},
        {"external id", G::OtherGroup},
        {"calendar link", G::OtherGroup},
        {"jot", G::OtherGroup},
    };
    bool known = false;
    for (const KindName &entry : kinds) {
        if (kind == QLatin1String(entry.name)) {
            column.googleKind = entry.kind;
            known = true;
        }
    }
    if (!known)
        return std::nullopt;
    struct PartName
    {
        const char *name;
        int part;
    };
    static const PartName parts[] = {
        {"type", P::GroupType},
        {"label", P::GroupType},
        {"value", P::GroupValue},
        {"service", P::GroupService},
        {"formatted", P::Formatted},
        {"street", P::Street},
        {"city", P::City},
        {"po box", P::PoBox},
        {"region", P::Region},
        {"postal code", P::Postcode},
        {"country", P::Country},
        {"extended address", P::Extended},
        {"name", P::OrgName},
        {"title", P::OrgTitle},
        {"department", P::OrgDepartment},
        {"yomi name", P::PartIgnored},
        {"symbol", P::PartIgnored},
        {"location", P::PartExtra},
        {"job description", P::PartExtra},
    };
    for (const PartName &entry : parts) {
        if (part == QLatin1String(entry.name)) {
            column.part = entry.part;
            return column;
        }
    }
    column.part = P::PartIgnored;
    return column;
}

struct Candidate
{
    CsvLayout layout;
    const Table *table;
};

int matchCount(const QStringList &cells, const Candidate &candidate)
{
    int count = 0;
    for (const QString &cell : cells) {
        if (candidate.table->contains(keyOf(cell)))
            ++count;
        else if (candidate.layout == CsvLayout::Google && googleGroupColumn(cell))
            ++count;
    }
    return count;
}

CsvHeader headerFor(const QStringList &cells, const Candidate &candidate)
{
    CsvHeader header;
    header.layout = candidate.layout;
    for (const QString &cell : cells)
        header.names.append(OneLine(cell));
    // Columns whose name belongs to both home and work: the last of them is
    // the work one, any before it the home one.
    QHash<QString, int> remaining;
    for (const QString &cell : cells) {
        const auto found = candidate.table->constFind(keyOf(cell));
        if (found != candidate.table->constEnd() && found->kind == Kind::Address && found->field == HomeThenWork)
            ++remaining[keyOf(cell)];
    }
    for (const QString &cell : cells) {
        const QString key = keyOf(cell);
        const auto found = candidate.table->constFind(key);
        if (found != candidate.table->constEnd()) {
            Entry entry = *found;
            if (entry.kind == Kind::Address && entry.field == HomeThenWork)
                entry.field = --remaining[key] == 0 ? WorkGroup : HomeGroup;
            header.columns.push_back(columnOf(entry, candidate.layout));
        } else if (candidate.layout == CsvLayout::Google && googleGroupColumn(cell)) {
            header.columns.push_back(*googleGroupColumn(cell));
        } else {
            CsvColumn column; // unknown column of a known layout: extra values
            column.kind = cell.trimmed().isEmpty() ? Kind::Ignore : Kind::Extra;
            header.columns.push_back(column);
        }
    }
    return header;
}

} // namespace

QString CsvLayoutName(CsvLayout layout)
{
    switch (layout) {
    case CsvLayout::Kelvo:
        return QStringLiteral("Kelvo");
    case CsvLayout::Google:
        return QStringLiteral("Google Contacts");
    case CsvLayout::Outlook:
        return QStringLiteral("Outlook");
    case CsvLayout::OutlookChinese:
        return QStringLiteral("Outlook (Chinese)");
    case CsvLayout::Thunderbird:
        return QStringLiteral("Thunderbird");
    case CsvLayout::ThunderbirdChinese:
        return QStringLiteral("Thunderbird (Chinese)");
    case CsvLayout::ByHand:
        return QStringLiteral("columns mapped by hand");
    case CsvLayout::NoHeader:
        return QStringLiteral("no header");
    }
    return QString();
}

std::optional<CsvHeader> RecognizeCsvHeader(const QStringList &cells)
{
    int nonBlank = 0;
    bool onlyKelvo = true;
    const auto &captions = KelvoFieldCaptions();
    for (const QString &cell : cells) {
        const QString name = cell.trimmed();
        if (name.isEmpty())
            continue;
        ++nonBlank;
        if (std::find(captions.begin(), captions.end(), name) == captions.end())
            onlyKelvo = false;
    }
    if (nonBlank == 0)
        return std::nullopt;
    if (onlyKelvo) {
        CsvHeader header;
        header.layout = CsvLayout::Kelvo;
        for (const QString &cell : cells) {
            const QString name = cell.trimmed();
            header.names.append(OneLine(name));
            CsvColumn column;
            const auto at = std::find(captions.begin(), captions.end(), name);
            if (at == captions.end()) {
                column.kind = Kind::Ignore;
            } else {
                column.kind = Kind::Field;
                column.field = int(at - captions.begin()) + 1;
            }
            header.columns.push_back(column);
        }
        return header;
    }

    const Candidate candidates[] = {
        {CsvLayout::Google, &tableFor(GoogleEntries)},
        {CsvLayout::Outlook, &tableFor(OutlookEntries)},
        {CsvLayout::OutlookChinese, &tableFor(OutlookChineseEntries)},
        {CsvLayout::Thunderbird, &tableFor(ThunderbirdEntries)},
        {CsvLayout::ThunderbirdChinese, &tableFor(ThunderbirdChineseEntries)},
    };
    const Candidate *best = nullptr;
    int bestCount = 0;
    for (const Candidate &candidate : candidates) {
        const int count = matchCount(cells, candidate);
        if (count > bestCount) {
            best = &candidate;
            bestCount = count;
        }
    }
    if (!best || bestCount < 2 || bestCount * 2 < nonBlank)
        return std::nullopt;
    return headerFor(cells, *best);
}

CsvHeader FieldOrderHeader(int columns)
{
    CsvHeader header;
    header.layout = CsvLayout::NoHeader;
    for (int i = 0; i < columns; ++i) {
        header.names.append(QStringLiteral("column %1").arg(i + 1));
        CsvColumn column;
        if (i < 13) {
            column.kind = Kind::Field;
            column.field = i + 1;
        }
        header.columns.push_back(column);
    }
    return header;
}

CsvHeader UnknownHeader(const QStringList &cells)
{
    CsvHeader header;
    header.layout = CsvLayout::ByHand;
    for (const QString &cell : cells) {
        header.names.append(OneLine(cell));
        CsvColumn column;
        column.kind = cell.trimmed().isEmpty() ? Kind::Ignore : Kind::Extra;
        header.columns.push_back(column);
    }
    return header;
}

std::optional<CsvColumnMap> ParseCsvColumnMap(const QString &text)
{
    const qsizetype equals = text.lastIndexOf(u'=');
    if (equals <= 0)
        return std::nullopt;
    bool ok = false;
    const int field = text.sliced(equals + 1).trimmed().toInt(&ok);
    if (!ok || field < 0 || field > 13)
        return std::nullopt;
    const QString column = text.first(equals).trimmed();
    if (column.isEmpty())
        return std::nullopt;
    return CsvColumnMap{column, field};
}

bool ApplyCsvColumnMaps(CsvHeader &header, const std::vector<CsvColumnMap> &maps, QString *error)
{
    for (const CsvColumnMap &map : maps) {
        qsizetype index = -1;
        for (qsizetype i = 0; i < header.names.size(); ++i) {
            if (header.layout != CsvLayout::NoHeader && keyOf(header.names.at(i)) == keyOf(map.column)) {
                index = i;
                break;
            }
        }
        if (index < 0) {
            bool ok = false;
            const int number = map.column.toInt(&ok);
            if (ok && number >= 1 && number <= MaxCsvColumns)
                index = number - 1;
        }
        if (index < 0) {
            *error = QStringLiteral("--map \"%1=%2\": the header has no column \"%1\"").arg(map.column).arg(map.field);
            return false;
        }
        while (qsizetype(header.columns.size()) <= index) {
            header.names.append(QStringLiteral("column %1").arg(header.columns.size() + 1));
            header.columns.push_back(CsvColumn());
        }
        CsvColumn column;
        if (map.field == 0) {
            column.kind = Kind::Ignore;
        } else {
            column.kind = Kind::Field;
            column.field = map.field;
        }
        header.columns[size_t(index)] = column;
    }
    return true;
}

} // namespace kelvo::exchange
