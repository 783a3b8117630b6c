#include "TfrmSync.h"

#include "Dialogs.h"
#include "SyncTexts.h"
#include "WindowSync.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

namespace kelvo {

using namespace kelvo::sync;

namespace {

QLineEdit *makeEdit(QWidget *parent, const char *name, const QString &accessible)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setAccessibleName(accessible);
    return edit;
}

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setAccessibleName(caption);
    button->setAutoDefault(false);
    return button;
}

} // namespace

TfrmSync::TfrmSync(WindowSync &sync, Dialogs &dialogs, QWidget *parent)
    : QDialog(parent)
    , m_sync(sync)
    , m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("frmSync"));
    setWindowTitle(QStringLiteral("同步名片"));
    setAccessibleName(QStringLiteral("同步名片"));

    edtUrl = makeEdit(this, "edtUrl", QStringLiteral("服务器地址"));
    edtUrl->setPlaceholderText(QStringLiteral("https://example.com/ 或通讯录的地址"));
    edtUser = makeEdit(this, "edtUser", QStringLiteral("用户名"));
    edtPassword = makeEdit(this, "edtPassword", QStringLiteral("密码"));
    edtPassword->setEchoMode(QLineEdit::Password);

    auto *form = new QFormLayout;
    auto addRow = [&](const QString &caption, const char *name, QLineEdit *edit) {
        auto *label = new QLabel(caption, this);
        label->setObjectName(QLatin1String(name));
        label->setBuddy(edit);
        form->addRow(label, edit);
    };
    addRow(QStringLiteral("服务器地址(&S)："), "lblUrl", edtUrl);
    addRow(QStringLiteral("用户名(&U)："), "lblUser", edtUser);
    addRow(QStringLiteral("密码(&P)："), "lblPassword", edtPassword);

    auto *hint = new QLabel(QStringLiteral("密码保存在桌面的密钥环里，不写入名片文件。"), this);
    hint->setObjectName(QStringLiteral("lblHint"));
    hint->setWordWrap(true);

    btnTest = makeButton(this, "btnTest", QStringLiteral("测试连接(&T)"));
    btnStart = makeButton(this, "btnStart", QStringLiteral("开始同步(&Y)"));
    btnClose = makeButton(this, "btnClose", QStringLiteral("关闭"));
    btnTest->setAccessibleName(QStringLiteral("测试连接"));
    btnStart->setAccessibleName(QStringLiteral("开始同步"));

    prgSync = new QProgressBar(this);
    prgSync->setObjectName(QStringLiteral("prgSync"));
    prgSync->setAccessibleName(QStringLiteral("同步进度"));
    prgSync->setRange(0, 1);
    prgSync->setValue(0);
    prgSync->setTextVisible(false);
    lblState = new QLabel(this);
    lblState->setObjectName(QStringLiteral("lblState"));
    lblState->setAccessibleName(QStringLiteral("同步状态"));

    memReport = new QPlainTextEdit(this);
    memReport->setObjectName(QStringLiteral("memReport"));
    memReport->setAccessibleName(QStringLiteral("同步结果"));
    memReport->setReadOnly(true);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btnTest);
    buttons->addStretch(1);
    buttons->addWidget(btnStart);
    buttons->addWidget(btnClose);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(hint);
    layout->addLayout(buttons);
    layout->addWidget(prgSync);
    layout->addWidget(lblState);
    layout->addWidget(memReport, 1);
    resize(460, 380);

    if (const auto book = m_sync.book()) {
        edtUrl->setText(book->url);
        edtUser->setText(book->user);
        lblState->setText(QStringLiteral("已设置同步：%1").arg(m_sync.statusText()));
    }

    connect(btnTest, &QPushButton::clicked, this, &TfrmSync::testConnection);
    connect(btnStart, &QPushButton::clicked, this, &TfrmSync::startSync);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(&m_sync, &WindowSync::runFinished, this, &TfrmSync::syncFinished);
    connect(&m_sync, &WindowSync::runProgress, this, [this](int done, int total) {
        if (!m_waitingForRun || total <= 0)
            return; // the figures of a run the dialog did not ask for
        prgSync->setRange(0, total);
        prgSync->setValue(done);
    });
}

TfrmSync::~TfrmSync() = default;

QString TfrmSync::reportText() const
{
    return memReport->toPlainText();
}

void TfrmSync::showText(const QString &text)
{
    memReport->setPlainText(text);
}

void TfrmSync::setWorking(bool working, const QString &what)
{
    m_working = working;
    btnTest->setEnabled(!working);
    btnStart->setEnabled(!working);
    edtUrl->setEnabled(!working);
    edtUser->setEnabled(!working);
    edtPassword->setEnabled(!working);
    prgSync->setRange(0, working ? 0 : 1); // a moving bar while the server is asked
    prgSync->setValue(0); // full only once a sync has ended well
    lblState->setText(what);
    if (!working)
        Q_EMIT workFinished();
}

bool TfrmSync::settingsFromInput(CardDavSettings *settings)
{
    const QUrl url = CardDavClient::normalizedUrl(edtUrl->text().trimmed());
    if (!url.isValid() || url.host().isEmpty()) {
        m_dialogs.notice(this, QStringLiteral("请填写服务器地址，例如 https://example.com/ 或通讯录的地址。"));
        return false;
    }
    settings->url = url.toString();
    settings->user = edtUser->text().trimmed();
    settings->password = edtPassword->text();
    // Left empty for the book already set up: the keyring's password.
    if (const auto book = m_sync.book(); settings->password.isEmpty() && !settings->user.isEmpty() && book
        && book->user == settings->user && CardDavClient::normalizedUrl(book->url) == url)
        settings->password = m_sync.password(true).value_or(QString());
    const SyncBookTrust trust = m_sync.trust();
    settings->trustedCertificateSha256 = trust.trustedCertificateSha256;
    settings->allowInsecureHttp = false;
    if (!CardDavClient::transportAllowed(url, false)) {
        if (url.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) != 0) {
            m_dialogs.notice(this, QStringLiteral("服务器地址只能以 https:// 或 http:// 开头。"));
            return false;
        }
        if (!m_dialogs.question(this,
                                QStringLiteral("服务器地址 %1 使用不加密的 http：密码和名片会以明文在网络上传送，"
                                               "别人可能看到。\n\n仍要连接这个服务器吗？")
                                    .arg(url.host()),
                                QStringLiteral("提示")))
            return false;
        settings->allowInsecureHttp = true;
    }
    return true;
}

void TfrmSync::testConnection()
{
    CardDavSettings settings;
    if (m_working || !settingsFromInput(&settings))
        return;
    discover(Goal::Test, settings);
}

void TfrmSync::startSync()
{
    CardDavSettings settings;
    if (m_working || !settingsFromInput(&settings))
        return;
    discover(Goal::Sync, settings);
}

void TfrmSync::discover(Goal goal, CardDavSettings settings)
{
    setWorking(true, QStringLiteral("正在连接服务器…"));
    using Found = RemoteResult<QList<AddressBookInfo>>;
    auto result = std::make_shared<std::optional<Found>>();
    // The client lives and dies in the thread that asks the server.
    QThread *thread = QThread::create([settings, result] {
        CardDavClient client(settings);
        *result = client.discover();
    });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(thread, &QThread::finished, this, [this, goal, settings, result] {
        discovered(goal, settings, result->has_value() ? **result : Found(RemoteError{RemoteStatus::Network, 0, {}}));
    });
    thread->start();
}

void TfrmSync::discovered(Goal goal, CardDavSettings settings, const RemoteResult<QList<AddressBookInfo>> &found)
{
    if (!found) {
        const RemoteError &error = found.error();
        const QByteArray fingerprint = FingerprintOfCertificateError(error.text);
        if (error.status == RemoteStatus::Certificate && !fingerprint.isEmpty()) {
            const bool trust = m_dialogs.question(
                this,
                QStringLiteral("服务器的证书无法验证：%1\n\n证书的 SHA-256 指纹：\n%2\n\n"
                               "只有在确认这是你自己的服务器的证书时，才应信任它。要信任这个证书吗？")
                    .arg(error.text, QString::fromLatin1(fingerprint)),
                QStringLiteral("提示"));
            if (trust) {
                settings.trustedCertificateSha256 = fingerprint;
                discover(goal, settings);
                return;
            }
        }
        showText(QStringLiteral("连接失败：%1").arg(RemoteErrorText(error)));
        setWorking(false, QStringLiteral("连接失败"));
        return;
    }
    const QList<AddressBookInfo> &books = found.value();
    if (books.isEmpty()) {
        showText(QStringLiteral("服务器上没有找到通讯录。请在服务器上（或在手机的 DAVx5 里）先建一个通讯录，"
                            "或者填写通讯录自己的地址。"));
        setWorking(false, QStringLiteral("没有通讯录"));
        return;
    }
    // The address typed, when it is a book's own; else the first found.
    AddressBookInfo chosen = books.first();
    const QString typed = settings.url.endsWith(QLatin1Char('/')) ? settings.url : settings.url + QLatin1Char('/');
    for (const AddressBookInfo &book : books)
        if (book.url == typed)
            chosen = book;

    if (goal == Goal::Test) {
        QStringList lines{QStringLiteral("连接成功，找到 %1 个通讯录：").arg(books.size())};
        for (const AddressBookInfo &book : books)
            lines.append(QStringLiteral("%1  %2（vCard %3）")
                             .arg(book.displayName.isEmpty() ? QStringLiteral("（无名称）") : book.displayName,
                                  book.url)
                             .arg(book.vcardVersion == 4 ? QStringLiteral("4.0") : QStringLiteral("3.0")));
        lines.append(QStringLiteral("同步将使用：%1").arg(chosen.url));
        showText(lines.join(QLatin1Char('\n')));
        setWorking(false, QStringLiteral("连接成功"));
        return;
    }

    // The settings change only between runs: a run the window started on
    // its own (after a save) ends first.
    if (m_sync.isRunning()) {
        lblState->setText(QStringLiteral("正在等待后台同步结束…"));
        auto waiting = std::make_shared<QMetaObject::Connection>();
        *waiting = connect(&m_sync, &WindowSync::runFinished, this, [this, waiting, goal, settings, found] {
            disconnect(*waiting);
            QTimer::singleShot(0, this, [this, goal, settings, found] { discovered(goal, settings, found); });
        });
        return;
    }
    SyncBookTrust trust;
    trust.trustedCertificateSha256 = settings.trustedCertificateSha256;
    trust.allowInsecureHttp = settings.allowInsecureHttp;
    const Result<QString> setUp = m_sync.setUp(chosen, settings.user, settings.password, trust);
    if (!setUp) {
        showText(QStringLiteral("同步设置无法保存：%1").arg(setUp.error().message()));
        setWorking(false, QStringLiteral("同步没有开始"));
        return;
    }
    if (!setUp.value().isEmpty())
        m_dialogs.notice(this, setUp.value());
    edtUrl->setText(chosen.url);
    setWorking(true, QStringLiteral("正在同步…"));
    m_waitingForRun = true;
    m_sync.requestRun(true);
}

void TfrmSync::syncFinished(const SyncReport &report, bool interactive)
{
    if (!m_waitingForRun || !interactive)
        return;
    m_waitingForRun = false;
    showText(SyncReportText(report));
    if (report.massDelete
        && m_dialogs.question(this,
                              QStringLiteral("这次同步要删除的名片超过一半（或者一方突然变空了），所以什么也没有删除。\n\n"
                                             "%1\n\n确实要删除这些名片吗？")
                                  .arg(StoppedText(report.stopStatus, report.stopped)),
                              QStringLiteral("提示"))) {
        m_waitingForRun = true;
        setWorking(true, QStringLiteral("正在同步…"));
        m_sync.requestRun(true, true);
        return;
    }
    setWorking(false, report.ok() ? QStringLiteral("同步完成") : QStringLiteral("同步没有完成"));
    if (report.ok())
        prgSync->setValue(1);
}

} // namespace kelvo
