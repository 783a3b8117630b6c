#include "CardGenerator.h"

#include "CardData.h"
#include "CardRecords.h"
#include "CardTree.h"
#include "Gb18030.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace kelvo::tool {

namespace {

// A fixed, portable generator (splitmix64): the same seed gives the same
// numbers everywhere, unlike the distributions of <random>.
class Random
{
public:
    explicit Random(quint64 seed)
        : m_state(seed)
    {
    }

    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }

    // Uniform in 0..n-1 (n > 0).
    int below(int n) { return static_cast<int>((static_cast<unsigned __int128>(next()) * unsigned(n)) >> 64); }
    bool percent(int p) { return below(100) < p; }
    template<typename List>
    const auto &pick(const List &list)
    {
        return list[static_cast<size_t>(below(static_cast<int>(list.size())))];
    }

private:
    std::uint64_t m_state;
};

// A word in GB18030 with its romanisation (for web and mail addresses).
struct Word
{
    QByteArray text;
    QByteArray latin;
};

struct City
{
    QByteArray text;
    QByteArray latin;
    QByteArray areaCode;
    QByteArray postcodePrefix;
};

struct Source
{
    const char *utf8;
    const char *latin;
};

std::vector<Word> words(std::initializer_list<Source> sources)
{
    std::vector<Word> list;
    list.reserve(sources.size());
    for (const Source &s : sources)
        list.push_back({gb18030::encode(QString::fromUtf8(s.utf8)), QByteArray(s.latin)});
    return list;
}

std::vector<QByteArray> texts(std::initializer_list<const char *> sources)
{
    std::vector<QByteArray> list;
    list.reserve(sources.size());
    for (const char *s : sources)
        list.push_back(gb18030::encode(QString::fromUtf8(s)));
    return list;
}

// Every word list, encoded once.
struct Vocabulary
{
    std::vector<Word> surnames = words({
        {"王", "wang"},  {"李", "li"},    {"张", "zhang"}, {"刘", "liu"},   {"陈", "chen"},  {"杨", "yang"},
        {"黄", "huang"}, {"赵", "zhao"},  {"吴", "wu"},    {"周", "zhou"},  {"徐", "xu"},    {"孙", "sun"},
        {"马", "ma"},    {"朱", "zhu"},   {"胡", "hu"},    {"郭", "guo"},   {"何", "he"},    {"高", "gao"},
        {"林", "lin"},   {"罗", "luo"},   {"郑", "zheng"}, {"梁", "liang"}, {"谢", "xie"},   {"宋", "song"},
        {"唐", "tang"},  {"许", "xu"},    {"韩", "han"},   {"冯", "feng"},  {"邓", "deng"},  {"曹", "cao"},
        {"彭", "peng"},  {"曾", "zeng"},  {"肖", "xiao"},  {"田", "tian"},  {"董", "dong"},  {"袁", "yuan"},
        {"潘", "pan"},   {"于", "yu"},    {"蒋", "jiang"}, {"蔡", "cai"},   {"余", "yu"},    {"杜", "du"},
        {"叶", "ye"},    {"程", "cheng"}, {"苏", "su"},    {"魏", "wei"},   {"吕", "lv"},    {"丁", "ding"},
        {"任", "ren"},   {"沈", "shen"},  {"姚", "yao"},   {"卢", "lu"},    {"姜", "jiang"}, {"崔", "cui"},
        {"钟", "zhong"}, {"谭", "tan"},   {"陆", "lu"},    {"汪", "wang"},  {"范", "fan"},   {"金", "jin"},
        {"石", "shi"},   {"廖", "liao"},  {"贾", "jia"},   {"夏", "xia"},   {"韦", "wei"},   {"方", "fang"},
        {"白", "bai"},   {"邹", "zou"},   {"孟", "meng"},  {"熊", "xiong"}, {"秦", "qin"},   {"江", "jiang"},
    });
    std::vector<Word> compoundSurnames = words({
        {"欧阳", "ouyang"},
        {"司马", "sima"},
        {"诸葛", "zhuge"},
        {"上官", "shangguan"},
        {"东方", "dongfang"},
    });
    std::vector<Word> givenNames = words({
        {"伟", "wei"},  {"芳", "fang"}, {"娜", "na"},   {"敏", "min"},  {"静", "jing"}, {"丽", "li"},   {"强", "qiang"},
        {"磊", "lei"},  {"军", "jun"},  {"洋", "yang"}, {"勇", "yong"}, {"艳", "yan"},  {"杰", "jie"},  {"娟", "juan"},
        {"涛", "tao"},  {"明", "ming"}, {"超", "chao"}, {"秀", "xiu"},  {"霞", "xia"},  {"平", "ping"}, {"刚", "gang"},
        {"桂", "gui"},  {"英", "ying"}, {"华", "hua"},  {"建", "jian"}, {"国", "guo"},  {"文", "wen"},  {"辉", "hui"},
        {"玲", "ling"}, {"红", "hong"}, {"鹏", "peng"}, {"宇", "yu"},   {"浩", "hao"},  {"婷", "ting"}, {"雪", "xue"},
        {"琳", "lin"},  {"晨", "chen"}, {"欣", "xin"},  {"颖", "ying"}, {"博", "bo"},   {"志", "zhi"},  {"海", "hai"},
        {"峰", "feng"}, {"春", "chun"}, {"晓", "xiao"}, {"慧", "hui"},  {"云", "yun"},  {"飞", "fei"},  {"俊", "jun"},
        {"凯", "kai"},  {"佳", "jia"},  {"子", "zi"},   {"梓", "zi"},   {"睿", "rui"},
    });
    std::vector<City> cities = [] {
        struct C
        {
            const char *utf8, *latin, *area, *post;
        };
        const C list[] = {
            {"北京", "beijing", "010", "100"},   {"上海", "shanghai", "021", "200"},
            {"广州", "guangzhou", "020", "510"}, {"深圳", "shenzhen", "0755", "518"},
            {"天津", "tianjin", "022", "300"},   {"重庆", "chongqing", "023", "400"},
            {"杭州", "hangzhou", "0571", "310"}, {"南京", "nanjing", "025", "210"},
            {"武汉", "wuhan", "027", "430"},     {"成都", "chengdu", "028", "610"},
            {"西安", "xian", "029", "710"},      {"沈阳", "shenyang", "024", "110"},
            {"长沙", "changsha", "0731", "410"}, {"郑州", "zhengzhou", "0371", "450"},
            {"济南", "jinan", "0531", "250"},    {"青岛", "qingdao", "0532", "266"},
            {"厦门", "xiamen", "0592", "361"},   {"苏州", "suzhou", "0512", "215"},
            {"大连", "dalian", "0411", "116"},   {"哈尔滨", "haerbin", "0451", "150"},
        };
        std::vector<City> cities;
        for (const C &c : list)
            cities.push_back({gb18030::encode(QString::fromUtf8(c.utf8)), c.latin, c.area, c.post});
        return cities;
    }();
    std::vector<Word> brands = words({
        {"华信", "huaxin"},   {"金鹏", "jinpeng"},   {"东方", "dongfang"},   {"恒达", "hengda"},
        {"宏远", "hongyuan"}, {"天成", "tiancheng"}, {"新世纪", "xinshiji"}, {"中联", "zhonglian"},
        {"远航", "yuanhang"}, {"博雅", "boya"},      {"盛世", "shengshi"},   {"永安", "yongan"},
        {"瑞丰", "ruifeng"},  {"鑫源", "xinyuan"},   {"同创", "tongchuang"}, {"康达", "kangda"},
        {"嘉禾", "jiahe"},    {"海川", "haichuan"},  {"星辰", "xingchen"},   {"长城", "changcheng"},
        {"明德", "mingde"},   {"汇通", "huitong"},
    });
    std::vector<QByteArray> industries =
        texts({"科技", "贸易", "电子", "实业", "信息技术", "建筑工程", "物流", "文化传播", "医药", "机械设备",
               "投资咨询", "网络科技", "食品", "服装", "广告", "软件"});
    std::vector<QByteArray> companySuffixes = texts({"有限公司", "股份有限公司", "有限责任公司", "集团有限公司"});
    std::vector<QByteArray> titles =
        texts({"总经理",   "副总经理", "经理",     "销售经理",     "市场总监", "技术总监", "工程师",   "高级工程师",
               "项目经理", "财务主管", "行政助理", "董事长",       "总裁",     "部门主管", "销售代表", "客户经理",
               "设计师",   "会计",     "律师",     "人力资源经理", "采购员",   "总工程师"});
    std::vector<QByteArray> districts =
        texts({"东城区", "西城区", "朝阳区", "海淀区", "南山区", "福田区", "天河区", "浦东新区", "徐汇区", "鼓楼区",
               "高新区", "开发区", "江北区", "经济技术开发区"});
    std::vector<QByteArray> roads =
        texts({"中山路", "人民路", "解放路", "建设路", "长江路", "和平路", "科技园路", "文化路", "新华路", "南京路",
               "复兴路", "东风路", "建国门外大街", "学院路", "滨海大道"});
    QByteArray cityMark = gb18030::encode(QStringLiteral("市"));
    QByteArray numberMark = gb18030::encode(QStringLiteral("号"));
    std::vector<QByteArray> buildings = texts({"国际大厦", "科技大厦", "商务中心", "金融中心", "广场", "创业园"});
    QByteArray floorMark = gb18030::encode(QStringLiteral("层"));
    QByteArray roomMark = gb18030::encode(QStringLiteral("室"));
    std::vector<QByteArray> notes =
        texts({"生日：三月十二日", "2008年展会上认识", "老客户，注意维护", "喜欢喝茶", "介绍人：王总", "周末不便联系",
               "已寄送样品", "年底拜访", "英语流利", "负责华东区业务"});
    std::vector<QByteArray> groups = texts({"客户", "供应商", "合作伙伴", "同事", "同学", "朋友", "亲戚", "政府部门",
                                            "媒体", "银行与保险", "行业协会", "展会结识"});
    std::vector<QByteArray> regions = texts({"华北区", "华东区", "华南区", "华中区", "西南区", "西北区", "东北区",
                                             "海外", "2009年", "2010年", "重要", "潜在"});
    std::vector<QByteArray> sectors =
        texts({"IT行业", "制造业", "金融业", "教育", "医疗", "房地产", "零售", "物流运输", "重点联系", "一般联系"});
    QByteArray areaMark = gb18030::encode(QStringLiteral("地区"));
    std::vector<QByteArray> mailDomains =
        texts({"163.com", "126.com", "qq.com", "sina.com", "sohu.com", "yahoo.com.cn", "gmail.com", "hotmail.com"});
    std::vector<QByteArray> msnDomains = texts({"hotmail.com", "msn.com", "live.cn"});
    std::vector<QByteArray> webSuffixes = texts({".com", ".com.cn", ".cn", ".net"});
};

const Vocabulary &vocabulary()
{
    static const Vocabulary v;
    return v;
}

constexpr int MaxClassLevel = 4;
constexpr double FirstDay = 38353.0; // 2005-01-01
constexpr int DaySpan = 2922;        // eight years

class Generator
{
public:
    Generator(CardTree &tree, quint64 seed)
        : m_tree(tree)
        , m_random(seed)
        , m_v(vocabulary())
    {
    }

    void generate(int cards)
    {
        std::vector<CardNode *> classes;
        classes.push_back(addReservedClass());
        const int classCount = cards == 0 ? 0 : std::max(1, (cards + 250) / 500);
        addClasses(classCount, classes);

        // Deal the cards out first, so that each class gets its cards in one run.
        std::vector<int> cardsPerClass(classes.size(), 0);
        for (int i = 0; i < cards; ++i) {
            const bool reserved = classes.size() == 1 || m_random.percent(5);
            ++cardsPerClass[reserved ? 0 : 1 + static_cast<size_t>(m_random.below(int(classes.size()) - 1))];
        }
        for (size_t c = 0; c < classes.size(); ++c) {
            for (int i = 0; i < cardsPerClass[c]; ++i)
                addCard(classes[c]);
        }
    }

private:
    double randomDate()
    {
        // One call per statement: the order of operands is unspecified in C++.
        const int day = m_random.below(DaySpan);
        const int second = m_random.below(86400);
        return FirstDay + day + second / 86400.0;
    }

    CardNode *addReservedClass()
    {
        auto record = std::make_unique<TCardData>();
        record->Kind = Kind::CardClass;
        record->setField(Field::Name, ReservedCardClassLabel());
        record->Created = randomDate();
        CardNode *node = m_tree.addTopLevel(ReservedCardClassLabel(), std::move(record));
        m_tree.setDisplayIndexes(node, 0, 0, -1, -1);
        return node;
    }

    void addClasses(int count, std::vector<CardNode *> &classes)
    {
        struct Nestable
        {
            CardNode *node;
            int level;
        };
        std::vector<Nestable> parents; // classes that may hold another class
        for (int i = 0; i < count; ++i) {
            const bool topLevel = parents.empty() || m_random.percent(30);
            const Nestable parent = topLevel ? Nestable{nullptr, 0} : m_random.pick(parents);
            const int level = parent.level + 1;
            const QByteArray label = classLabel(level);

            auto record = std::make_unique<TCardData>();
            record->Kind = Kind::CardClass;
            record->setField(Field::Name, label);
            record->Created = randomDate();
            CardNode *node = parent.node ? m_tree.addChild(parent.node, label, std::move(record))
                                         : m_tree.addTopLevel(label, std::move(record));
            m_tree.setDisplayIndexes(node, 0, 0, 0, 0);
            classes.push_back(node);
            if (level < MaxClassLevel)
                parents.push_back({node, level});
        }
    }

    QByteArray classLabel(int level)
    {
        switch (level) {
        case 1:
            return m_random.pick(m_v.groups);
        case 2:
            return m_random.pick(m_v.regions);
        case 3:
            return m_random.pick(m_v.cities).text + m_v.areaMark;
        default:
            return m_random.pick(m_v.sectors);
        }
    }

    void appendDigits(QByteArray &out, int count, bool leadingNonZero = false)
    {
        for (int i = 0; i < count; ++i) {
            const int digit = (i == 0 && leadingNonZero) ? 1 + m_random.below(9) : m_random.below(10);
            out += char('0' + digit);
        }
    }

    void addCard(CardNode *cardClass)
    {
        const Vocabulary &v = m_v;
        auto record = std::make_unique<TCardData>();
        record->Kind = Kind::Card;

        // Name, and its romanisation for the addresses.
        const Word &surname = m_random.percent(3) ? m_random.pick(v.compoundSurnames) : m_random.pick(v.surnames);
        QByteArray name = surname.text;
        QByteArray latinGiven;
        const int givenLength = m_random.percent(65) ? 2 : 1;
        for (int i = 0; i < givenLength; ++i) {
            const Word &given = m_random.pick(v.givenNames);
            name += given.text;
            latinGiven += given.latin;
        }
        record->setField(Field::Name, name);
        if (m_random.percent(90))
            record->setField(Field::TouXian, m_random.pick(v.titles));

        const City &city = m_random.pick(v.cities);
        const Word &brand = m_random.pick(v.brands);
        QByteArray company = city.text + brand.text;
        company += m_random.pick(v.industries);
        company += m_random.pick(v.companySuffixes);
        record->setField(Field::DW, company);

        QByteArray address = city.text + v.cityMark;
        address += m_random.pick(v.districts);
        address += m_random.pick(v.roads);
        address += QByteArray::number(1 + m_random.below(999)) + v.numberMark;
        if (m_random.percent(50)) {
            address += brand.text + m_random.pick(v.buildings);
            const int floor = 1 + m_random.below(30);
            const int room = 1 + m_random.below(20);
            address += QByteArray::number(floor) + v.floorMark;
            address += QByteArray::number(floor) + QByteArray::number(room).rightJustified(2, '0') + v.roomMark;
        }
        record->setField(Field::DZ, address);

        QByteArray phone = city.areaCode + '-';
        appendDigits(phone, 1, true);
        appendDigits(phone, 7);
        record->setField(Field::DH, phone);
        if (m_random.percent(60)) {
            QByteArray fax = city.areaCode + '-';
            appendDigits(fax, 1, true);
            appendDigits(fax, 7);
            record->setField(Field::CZ, fax);
        }
        if (m_random.percent(90)) {
            static const char prefixes[] = {'3', '5', '8'};
            QByteArray mobile = "1";
            mobile += prefixes[m_random.below(3)];
            appendDigits(mobile, 9);
            record->setField(Field::SJ, mobile);
        }
        QByteArray postcode = city.postcodePrefix;
        appendDigits(postcode, 3);
        record->setField(Field::YB, postcode);

        const QByteArray companyDomain = brand.latin + m_random.pick(v.webSuffixes);
        if (m_random.percent(50))
            record->setField(Field::WZ, "www." + companyDomain);
        if (m_random.percent(70)) {
            QByteArray qq;
            appendDigits(qq, 5 + m_random.below(6), true);
            record->setField(Field::QQ, qq);
        }
        const QByteArray mailbox = latinGiven + '.' + surname.latin;
        if (m_random.percent(25))
            record->setField(Field::MSN, mailbox + '@' + m_random.pick(v.msnDomains));
        if (m_random.percent(85)) {
            QByteArray mail = mailbox;
            if (m_random.percent(30))
                appendDigits(mail, 2);
            mail += '@';
            mail += m_random.percent(50) ? companyDomain : m_random.pick(v.mailDomains);
            record->setField(Field::EMail, mail);
        }
        if (m_random.percent(20))
            record->setField(Field::Other, m_random.pick(v.notes));
        record->Created = randomDate();

        CardNode *node = m_tree.addChild(cardClass, name, std::move(record));
        m_tree.setDisplayIndexes(node, 1, 1, 1, 1);
    }

    CardTree &m_tree;
    Random m_random;
    const Vocabulary &m_v;
};

} // namespace

void GenerateCardTree(CardTree &tree, int cards, quint64 seed)
{
    Generator generator(tree, seed);
    generator.generate(std::clamp(cards, 0, MaxGeneratedCards));
}

} // namespace kelvo::tool
