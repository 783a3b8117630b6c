// The field rules over tables of recognised lines, without the recogniser.
#include "CardFields.h"

#include <QTest>

using namespace kelvo::capture;

namespace {

// "text @ x,y,w,h # confidence" per line; confidence 90 when left out.
QList<CapturedLine> lines(const QStringList &specs)
{
    QList<CapturedLine> result;
    for (const QString &spec : specs) {
        const qsizetype at = spec.lastIndexOf(QLatin1String(" @ "));
        CapturedLine line;
        line.text = spec.left(at);
        QString rest = spec.mid(at + 3);
        line.confidence = 90;
        if (const qsizetype hash = rest.indexOf(u'#'); hash >= 0) {
            line.confidence = rest.mid(hash + 1).trimmed().toInt();
            rest = rest.left(hash);
        }
        const QStringList n = rest.trimmed().split(u',');
        line.box = QRect(n[0].toInt(), n[1].toInt(), n[2].toInt(), n[3].toInt());
        result.append(line);
    }
    return result;
}

// The thirteen expected fields from "N=text" pairs; the others empty.
QStringList fields(const QStringList &pairs)
{
    QStringList result(13);
    for (const QString &pair : pairs) {
        const qsizetype eq = pair.indexOf(u'=');
        result[pair.left(eq).toInt() - 1] = pair.mid(eq + 1);
    }
    return result;
}

} // namespace

class TestCardFields : public QObject
{
    Q_OBJECT

private slots:
    void assignsFields_data();
    void assignsFields();
    void fieldsCarryTheirLine();
    void repairsDigitsInLongNumbersOnly_data();
    void repairsDigitsInLongNumbersOnly();
};

void TestCardFields::assignsFields_data()
{
    QTest::addColumn<QStringList>("input");
    QTest::addColumn<bool>("vertical");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("chinese labels, spaced name, fragments of one line")
        << QStringList{QStringLiteral("张 伟 @ 60,40,140,64"), QStringLiteral("销售经理 @ 230,66,120,28"),
                       QStringLiteral("北京华信科技有限公司 @ 60,120,400,34"),
                       QStringLiteral("地址：北京市海淀区中关村大街27号 @ 60,180,500,26"),
                       QStringLiteral("电话：010-62588888 @ 60,212,300,26"), QStringLiteral("传真： @ 60,244,64,26"),
                       QStringLiteral("010-62588889 @ 134,247,180,20"),
                       QStringLiteral("手机：138 1234 5678 @ 60,276,300,26"),
                       QStringLiteral("邮编：100080 @ 60,308,200,26"),
                       QStringLiteral("E-mail：zhang.wei@huaxin.com @ 60,340,400,26")}
        << false
        << fields({QStringLiteral("1=张伟"), QStringLiteral("2=销售经理"), QStringLiteral("3=北京华信科技有限公司"),
                   QStringLiteral("4=北京市海淀区中关村大街27号"), QStringLiteral("5=010-62588888"),
                   QStringLiteral("6=010-62588889"), QStringLiteral("7=138 1234 5678"),
                   QStringLiteral("8=100080"), QStringLiteral("12=zhang.wei@huaxin.com")});
    QTest::newRow("english without labels")
        << QStringList{QStringLiteral("John Smith @ 60,40,300,70"), QStringLiteral("Sales Manager @ 60,120,200,28"),
                       QStringLiteral("Acme Trading Co., Ltd. @ 60,160,330,30"),
                       QStringLiteral("Room 1203, No. 27 Zhongshan Road, Beijing @ 60,210,520,24"),
                       QStringLiteral("Tel: +86 10 6258 8888 @ 60,240,300,24"),
                       QStringLiteral("+86 138 1234 5678 @ 60,270,300,24"),
                       QStringLiteral("john.smith@acme.com @ 60,300,300,24"),
                       QStringLiteral("www.acme.com @ 60,330,200,24")}
        << false
        << fields({QStringLiteral("1=John Smith"), QStringLiteral("2=Sales Manager"),
                   QStringLiteral("3=Acme Trading Co., Ltd."),
                   QStringLiteral("4=Room 1203, No. 27 Zhongshan Road, Beijing"),
                   QStringLiteral("5=+86 10 6258 8888"), QStringLiteral("7=+86 138 1234 5678"),
                   QStringLiteral("9=www.acme.com"), QStringLiteral("12=john.smith@acme.com")});
    QTest::newRow("letters read for digits in long numbers")
        << QStringList{QStringLiteral("李明 @ 60,40,120,60"), QStringLiteral("手机：l38 l234 S678 @ 60,120,300,24"),
                       QStringLiteral("QQ：12345O @ 60,150,200,24"), QStringLiteral("Tel: 010-6258BB88 @ 60,180,300,24"),
                       QStringLiteral("Room B12, Block 5 Road @ 60,210,300,24")}
        << false
        << fields({QStringLiteral("1=李明"), QStringLiteral("4=Room B12, Block 5 Road"),
                   QStringLiteral("5=010-62588888"), QStringLiteral("7=138 1234 5678"),
                   QStringLiteral("10=123450")});
    QTest::newRow("single letters count as labels only with a colon")
        << QStringList{QStringLiteral("T: 010-12345678 F: 010-12345679 M: 13912345678 @ 60,100,600,24"),
                       QStringLiteral("F 0755-1234567 @ 60,130,300,24")}
        << false
        << fields({QStringLiteral("5=010-12345678"), QStringLiteral("6=010-12345679"),
                   QStringLiteral("7=13912345678"), QStringLiteral("13=0755-1234567")});
    QTest::newRow("postcode and MSN only when labelled, second e-mail and slogan left over")
        << QStringList{QStringLiteral("100080 @ 60,100,100,24"), QStringLiteral("MSN: wang@hotmail.com @ 60,130,300,24"),
                       QStringLiteral("wang@example.cn @ 60,160,300,24"),
                       QStringLiteral("wang2@example.cn @ 60,190,300,24"), QStringLiteral("诚信 共赢 未来 @ 400,20,300,40")}
        << false
        << fields({QStringLiteral("11=wang@hotmail.com"), QStringLiteral("12=wang@example.cn"),
                   QStringLiteral("13=wang2@example.cn 诚信共赢未来 100080")});
    QTest::newRow("a short line with a surname beats a taller one without")
        << QStringList{QStringLiteral("远景 @ 60,20,160,80"), QStringLiteral("李明 @ 60,120,100,50"),
                       QStringLiteral("Mary Jones @ 60,200,200,40")}
        << false << fields({QStringLiteral("1=李明"), QStringLiteral("13=远景 Mary Jones")});
    QTest::newRow("full-width digits and letters")
        << QStringList{QStringLiteral("电话：０１０－６２５８８８８８ @ 60,100,300,24"),
                       QStringLiteral("邮箱：ｌｉ＠ｅｘａｍｐｌｅ．ｃｎ @ 60,130,300,24")}
        << false << fields({QStringLiteral("5=010-62588888"), QStringLiteral("12=li@example.cn")});
    QTest::newRow("vertical card, right to left, widest name column")
        << QStringList{QStringLiteral("董事长 @ 440,160,30,100"), QStringLiteral("王建国 @ 500,120,62,200"),
                       QStringLiteral("上海恒达贸易有限公司 @ 380,60,30,320"),
                       QStringLiteral("电话：021-58886666 @ 300,60,24,400")}
        << true
        << fields({QStringLiteral("1=王建国"), QStringLiteral("2=董事长"), QStringLiteral("3=上海恒达贸易有限公司"),
                   QStringLiteral("5=021-58886666")});
    QTest::newRow("latin name and title on one line")
        << QStringList{QStringLiteral("Na He Marketing Manager @ 60,40,500,60")} << false
        << fields({QStringLiteral("1=Na He"), QStringLiteral("2=Marketing Manager")});
    QTest::newRow("chinese name and title on one line, digits in an address")
        << QStringList{QStringLiteral("王刚董事长 @ 60,40,400,60"), QStringLiteral("项目经理 @ 60,120,160,28"),
                       QStringLiteral("上海市朝阳区长江路 387 号 1911 室 @ 60,200,500,24")}
        << false
        << fields({QStringLiteral("1=王刚"), QStringLiteral("2=董事长"), QStringLiteral("4=上海市朝阳区长江路387号1911室"),
                   QStringLiteral("13=项目经理")});
    QTest::newRow("a line read twice counts once, the surer reading")
        << QStringList{QStringLiteral("张明 @ 93,63,132,64 # 93"), QStringLiteral("明 @ 165,63,60,64 # 79"),
                       QStringLiteral("总经理 @ 488,151,82,32 # 90"), QStringLiteral("总经理 @ 484,155,82,26 # 93"),
                       QStringLiteral("销售经天 @ 469,240,94,27 # 88"), QStringLiteral("销售经理 @ 469,237,113,33 # 93")}
        << false
        << fields({QStringLiteral("1=张明"), QStringLiteral("2=总经理"), QStringLiteral("13=销售经理")});
    QTest::newRow("a line read whole beats its characters read a little surer, not a much surer one")
        << QStringList{QStringLiteral("周 @ 177,130,47,53 # 92"), QStringLiteral("洋 @ 243,141,51,45 # 93"),
                       QStringLiteral("周洋 @ 177,130,117,56 # 92"), QStringLiteral("财务总监 @ 173,201,107,25 # 93"),
                       QStringLiteral("销售经理 @ 173,260,107,25 # 94"), QStringLiteral("销售经 @ 173,260,160,25 # 70")}
        << false
        << fields({QStringLiteral("1=周洋"), QStringLiteral("2=财务总监"), QStringLiteral("13=销售经理")});
    QTest::newRow("two readings of one line, each reaching further on one side, joined where they agree")
        << QStringList{QStringLiteral("南京博远科 @ 440,263,161,33 # 92"),
                       QStringLiteral("和京博远科技有限公司 @ 452,263,318,33 # 81"),
                       QStringLiteral("苏州金桥信息技术有| @ 403,380,303,32 # 95"),
                       QStringLiteral("金桥信息技术有限公司 @ 491,380,316,32 # 90")}
        << false
        << fields({QStringLiteral("3=南京博远科技有限公司"), QStringLiteral("13=苏州金桥信息技术有限公司")});
    QTest::newRow("a small title inside a tall name's box is no second reading")
        << QStringList{QStringLiteral("欧阳刚 @ 420,77,210,98"), QStringLiteral("董事长 @ 488,151,82,26")}
        << false << fields({QStringLiteral("1=欧阳刚"), QStringLiteral("2=董事长")});
    QTest::newRow("three-character name before a title")
        << QStringList{QStringLiteral("张晓东总经理 @ 60,40,400,60")} << false
        << fields({QStringLiteral("1=张晓东"), QStringLiteral("2=总经理")});
    QTest::newRow("name before a title with its rank")
        << QStringList{QStringLiteral("王敏高级工程师 @ 60,40,400,60")} << false
        << fields({QStringLiteral("1=王敏"), QStringLiteral("2=高级工程师")});
    QTest::newRow("compound surname before a title")
        << QStringList{QStringLiteral("欧阳建国董事长 @ 60,40,400,60")} << false
        << fields({QStringLiteral("1=欧阳建国"), QStringLiteral("2=董事长")});
    QTest::newRow("a title alone is no name")
        << QStringList{QStringLiteral("高级工程师 @ 60,40,300,40")} << false
        << fields({QStringLiteral("2=高级工程师")});
    QTest::newRow("labels twice as high as their values, a label's second character misread")
        << QStringList{QStringLiteral("传真： @ 141,367,72,37"), QStringLiteral("0755-2142185 @ 213,374,150,18"),
                       QStringLiteral("邮编： @ 141,440,72,37"), QStringLiteral("518046 @ 213,446,80,18"),
                       QStringLiteral("Add @ 90,186,34,15"), QStringLiteral(":杭州市高新区新华路97号2806室 @ 130,178,354,34"),
                       QStringLiteral("电者: 0571-61908205 @ 90,480,300,20"),
                       QStringLiteral("传趴 : (0512) 8112 2777 @ 90,520,300,24")}
        << false
        << fields({QStringLiteral("4=杭州市高新区新华路97号2806室"), QStringLiteral("5=0571-61908205"),
                   QStringLiteral("6=0755-2142185"), QStringLiteral("8=518046"),
                   QStringLiteral("13=(0512) 8112 2777")});
    QTest::newRow("a road named after a college is an address, a media company keeps its name")
        << QStringList{QStringLiteral("成都华信传媒有限公司 @ 403,268,400,51"),
                       QStringLiteral("成都市浦东新区学院路357号1317室 @ 141,333,400,37")}
        << false
        << fields({QStringLiteral("3=成都华信传媒有限公司"), QStringLiteral("4=成都市浦东新区学院路357号1317室")});
    QTest::newRow("addresses broken at their dots")
        << QStringList{QStringLiteral("zhang .na@dongfang-tech.com.cn @ 61,363,300,17"),
                       QStringLiteral("Www,hengda ,com @ 141,403,200,19"), QStringLiteral("Dr. Li, M. Sc. @ 60,500,100,20")}
        << false
        << fields({QStringLiteral("9=www.hengda.com"), QStringLiteral("12=zhang.na@dongfang-tech.com.cn"),
                   QStringLiteral("13=Dr. Li, M. Sc.")});
    QTest::newRow("chinese and english company names on one line")
        << QStringList{QStringLiteral("上海天成集团有限公司 Tiancheng Group Co., Ltd. @ 161,588,600,54")}
        << false
        << fields({QStringLiteral("3=上海天成集团有限公司"), QStringLiteral("13=Tiancheng Group Co., Ltd.")});
    QTest::newRow("a guess inside a sure line, a line read twice with one character apart")
        << QStringList{QStringLiteral("技术总监 @ 91,131,94,27 # 83"), QStringLiteral("上儿大 @ 151,132,49,15 # 53"),
                       QStringLiteral("林丽 @ 548,157,112,56 # 82"), QStringLiteral("高级工程j @ 536,218,122,42 # 72"),
                       QStringLiteral("高级工程师 @ 537,223,136,25 # 94")}
        << false
        << fields({QStringLiteral("1=林丽"), QStringLiteral("2=技术总监"), QStringLiteral("13=高级工程师")});
    QTest::newRow("a title with its last word misread")
        << QStringList{QStringLiteral("黄强 @ 93,62,134,65"), QStringLiteral("项目经 @ 91,131,94,27"),
                       QStringLiteral("北京市朝阳区长江路386号2716室 @ 91,203,355,37")}
        << false
        << fields({QStringLiteral("1=黄强"), QStringLiteral("2=项目经"), QStringLiteral("4=北京市朝阳区长江路386号2716室")});
    QTest::newRow("labels with a letter too many or a dot too few, spaces in a chinese address")
        << QStringList{QStringLiteral("PC.: 610071 @ 60,100,200,24"), QStringLiteral("QQR:5195321 @ 60,130,200,24"),
                       QStringLiteral("邮箱: sun.fang@mingde .com @ 60,160,300,24"),
                       QStringLiteral("网址: Www,mingde.com @ 60,190,300,24"),
                       QStringLiteral("地址: 北京市朝阳区长江路386号271 6室 @ 60,220,400,24"),
                       QStringLiteral("192-9814 -9557 @ 60,250,200,24")}
        << false
        << fields({QStringLiteral("4=北京市朝阳区长江路386号2716室"), QStringLiteral("7=192-9814-9557"),
                   QStringLiteral("8=610071"), QStringLiteral("9=www.mingde.com"), QStringLiteral("10=5195321"),
                   QStringLiteral("12=sun.fang@mingde.com")});
    QTest::newRow("signs and letters misread in labelled numbers and addresses")
        << QStringList{QStringLiteral("传真: ft86 10 8932 9341 @ 60,100,300,24"),
                       QStringLiteral("电话: 人(0512) 1550 6424 @ 60,130,300,24"),
                       QStringLiteral("Mob: .158 1508 7378 @ 60,160,300,24"),
                       QStringLiteral("E-mail: 1i.lei@ruifeng.com.cn @ 60,190,300,24"),
                       QStringLiteral("MSN: Xu.yuGhotmail.com @ 60,220,300,24"),
                       QStringLiteral("Web: Wwww.hengda-tech.Com.cn @ 60,250,300,24")}
        << false
        << fields({QStringLiteral("5=(0512) 1550 6424"), QStringLiteral("6=+86 10 8932 9341"),
                   QStringLiteral("7=158 1508 7378"), QStringLiteral("9=www.hengda-tech.com.cn"),
                   QStringLiteral("11=xu.yu@hotmail.com"), QStringLiteral("12=li.lei@ruifeng.com.cn")});
    QTest::newRow("labels apart from their values in a column of their own, a label's second character lost")
        << QStringList{QStringLiteral("Tel @ 141,416,33,14"), QStringLiteral("021-53225334 @ 198,416,136,14"),
                       QStringLiteral("P.C @ 141,486,33,14"), QStringLiteral("200077 @ 210,486,67,14"),
                       QStringLiteral("传 @ 142,362,20,22"), QStringLiteral("029-49967427 @ 216,365,147,16"),
                       QStringLiteral("Boyuan Technology Co., Ltd. @ 400,600,300,20")}
        << false
        << fields({QStringLiteral("3=Boyuan Technology Co., Ltd."), QStringLiteral("5=021-53225334"),
                   QStringLiteral("6=029-49967427"), QStringLiteral("8=200077")});
    QTest::newRow("an address's '@' read as a letter, put back before the card's web domain or a mail service's")
        << QStringList{QStringLiteral("网址 wew.ruifeng.com.cn @ 60,100,300,24"),
                       QStringLiteral("邮箱 li.leieruifeng.com.cn @ 60,130,300,24"),
                       QStringLiteral("MSN: wang.wenehotmail.com @ 60,160,300,24")}
        << false
        << fields({QStringLiteral("9=www.ruifeng.com.cn"), QStringLiteral("11=wang.wen@hotmail.com"),
                   QStringLiteral("12=li.lei@ruifeng.com.cn")});
    QTest::newRow("www without its dot, signs misread in numbers, an address of no known domain left as read")
        << QStringList{QStringLiteral("www tiancheng.com.cn @ 60,100,300,24"),
                       QStringLiteral("E-mail: zhuzhihong@,jinqiao-tech.com @ 60,130,300,24"),
                       QStringLiteral("MSN: wangwen.example.org @ 60,160,300,24"),
                       QStringLiteral("传真: (0257 5340 5318 @ 60,190,300,24"),
                       QStringLiteral("电话: + (0571) 886 8798 @ 60,220,300,24"),
                       QStringLiteral("邮编: 。200077 @ 60,250,300,24"), QStringLiteral("QGQ.360487 @ 60,280,300,24"),
                       QStringLiteral("+4广州市南山区建设路382号2314室 @ 60,310,400,24")}
        << false
        << fields({QStringLiteral("4=广州市南山区建设路382号2314室"), QStringLiteral("5=(0571) 886 8798"),
                   QStringLiteral("6=(025) 5340 5318"),
                   QStringLiteral("8=200077"), QStringLiteral("9=www.tiancheng.com.cn"), QStringLiteral("10=360487"),
                   QStringLiteral("11=wangwen.example.org"), QStringLiteral("12=zhuzhihong@jinqiao-tech.com")});
    QTest::newRow("signs misread in numbers and addresses without labels; capitals of an address's own kept")
        << QStringList{QStringLiteral("”86 512 2672 4399 @ 60,100,300,24"),
                       QStringLiteral("luo,1i@huaxin-tech,com.cn @ 60,130,300,24"),
                       QStringLiteral("www.boyuan-tech.com,.cn @ 60,160,300,24"),
                       QStringLiteral("zhangjingG@zhongke-tech.com @ 60,190,300,24"),
                       QStringLiteral("John.Smith@Acme.com @ 60,220,300,24"),
                       QStringLiteral("Room 919, No, 237 Jianshe Road, Shenzhen @ 60,250,500,24"),
                       QStringLiteral("Zhongke Technology Co.，Ltd. @ 60,280,400,24"),
                       QStringLiteral("Tiancheng Group Co.,Ltd. @ 60,310,400,24"),
                       QStringLiteral("189- 1886- 5106 @ 60,340,300,24"), QStringLiteral("9:00 - 18:00 @ 60,370,300,24")}
        << false
        << fields({QStringLiteral("3=Zhongke Technology Co., Ltd."),
                   QStringLiteral("4=Room 919, No. 237 Jianshe Road, Shenzhen"),
                   QStringLiteral("5=+86 512 2672 4399"), QStringLiteral("9=www.boyuan-tech.com.cn"),
                   QStringLiteral("12=luo.li@huaxin-tech.com.cn"),
                   QStringLiteral("7=189-1886-5106"),
                   QStringLiteral("13=zhangjing@zhongke-tech.com John.Smith@Acme.com Tiancheng Group Co., Ltd. "
                                  "9:00 - 18:00")});
    QTest::newRow("letters guessed with little confidence and lone signs are left out, an english address keeps its spaces")
        << QStringList{QStringLiteral("PHN @ 171,141,134,66 # 29"), QStringLiteral("ma etd @ 400,300,80,20 # 30"),
                       QStringLiteral("= @ 500,300,10,10 # 65"), QStringLiteral("诚信为本共创未来 @ 400,400,200,20 # 38"),
                       QStringLiteral("Room 12, No. 5 Keji Road @ 60,500,300,24 # 45"),
                       QStringLiteral("南京天成咨询有限 @ 437,270,300,50")}
        << false
        << fields({QStringLiteral("3=南京天成咨询有限"), QStringLiteral("4=Room 12, No. 5 Keji Road"),
                   QStringLiteral("13=诚信为本共创未来")});
    QTest::newRow("telephone signs misread, a space in an e-mail domain")
        << QStringList{QStringLiteral("电话: 《028) 6536 7360 @ 60,100,300,24"),
                       QStringLiteral("传真: 0029-66940029 @ 60,130,300,24"),
                       QStringLiteral("Tel: [0755] 2280 3948 @ 60,160,300,24"),
                       QStringLiteral("Fax: 0044 20 7946 0000 @ 60,190,300,24"),
                       QStringLiteral("guo.xiaodong@t iancheng-tech.com @ 60,220,300,24"),
                       QStringLiteral("<010) 6817 1840 @ 60,250,300,24")}
        << false
        << fields({QStringLiteral("5=(028) 6536 7360"), QStringLiteral("6=029-66940029"),
                   QStringLiteral("12=guo.xiaodong@tiancheng-tech.com"),
                   QStringLiteral("13=(0755) 2280 3948 0044 20 7946 0000 (010) 6817 1840")});
    QTest::newRow("latin name with a capital read for a small letter, before its title")
        << QStringList{QStringLiteral("YU Ma General Manager @ 141,210,500,42")} << false
        << fields({QStringLiteral("1=Yu Ma"), QStringLiteral("2=General Manager")});
    QTest::newRow("latin name in capitals as printed")
        << QStringList{QStringLiteral("JOHN SMITH @ 60,40,300,60"), QStringLiteral("Sales Manager @ 60,120,200,28")}
        << false << fields({QStringLiteral("1=JOHN SMITH"), QStringLiteral("2=Sales Manager")});
    QTest::newRow("a closing bracket before a company name")
        << QStringList{QStringLiteral("] 杭州金桥集团有限公司 @ 91,518,400,40"), QStringLiteral("(总部) @ 91,570,100,24")}
        << false << fields({QStringLiteral("3=杭州金桥集团有限公司"), QStringLiteral("13=(总部)")});
    QTest::newRow("labels without values") << QStringList{QStringLiteral("E-mail: @ 60,100,100,24"),
                                                          QStringLiteral("MSN: @ 60,130,100,24"),
                                                          QStringLiteral("邮编: @ 60,160,100,24")}
                                           << false << QStringList(13);
    QTest::newRow("nothing recognised") << QStringList{} << false << QStringList(13);
}

void TestCardFields::assignsFields()
{
    QFETCH(QStringList, input);
    QFETCH(bool, vertical);
    QFETCH(QStringList, expected);
    const AssignedFields result = assignCardFields(lines(input), vertical);
    QStringList got;
    for (const CapturedField &f : result.fields)
        got.append(f.text);
    QCOMPARE(got, expected);
    for (const CapturedField &f : result.fields)
        QCOMPARE(f.confidence < 0, f.text.isEmpty());
}

void TestCardFields::fieldsCarryTheirLine()
{
    // A label and its value recognised apart are one line: the field has
    // the lower confidence and the box around both.
    const AssignedFields result = assignCardFields(lines({QStringLiteral("传真： @ 60,244,64,26 # 95"),
                                                          QStringLiteral("010-62588889 @ 134,247,180,20 # 71"),
                                                          QStringLiteral("李明 @ 60,20,100,60 # 88")}));
    QCOMPARE(result.fields[5].text, QStringLiteral("010-62588889"));
    QCOMPARE(result.fields[5].confidence, 71);
    QCOMPARE(result.fields[5].box, QRect(60, 244, 254, 26));
    QCOMPARE(result.fields[0].confidence, 88);
    QCOMPARE(result.fields[0].box, QRect(60, 20, 100, 60));
    QCOMPARE(result.lines.size(), 2);
    QCOMPARE(result.lines[1].text, QStringLiteral("传真: 010-62588889"));
}

void TestCardFields::repairsDigitsInLongNumbersOnly_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    QTest::newRow("mobile") << QStringLiteral("l38 O123 4567") << QStringLiteral("138 0123 4567");
    QTest::newRow("eight, five") << QStringLiteral("0755-8B6S4321") << QStringLiteral("0755-88654321");
    QTest::newRow("too few digits") << QStringLiteral("BOSS 12") << QStringLiteral("BOSS 12");
    QTest::newRow("inside a word") << QStringLiteral("Building12345") << QStringLiteral("Building12345");
    QTest::newRow("mostly letters") << QStringLiteral("SOBIl12345") << QStringLiteral("SOBIl12345");
    QTest::newRow("pipe for one") << QStringLiteral("|3912345678") << QStringLiteral("13912345678");
}

void TestCardFields::repairsDigitsInLongNumbersOnly()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(repairDigits(input), expected);
}

QTEST_GUILESS_MAIN(TestCardFields)
#include "tst_cardfields.moc"
