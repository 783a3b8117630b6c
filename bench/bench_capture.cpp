// Reading synthetic business cards: how many fields come out exactly right.
//
//   bench_capture generate DIR [--seed N] [--count N]
//       renders cards (each as clean, scan, a harsh photo and a
//       realistic phone photo) into DIR with their
//       true fields in DIR/truth.jsonl; seed 1 is the tuning set, seed 2
//       the held-out set the rules are never tuned on
//   bench_capture evaluate DIR [--errors] [--limit N] [--only CONDITION]
//       reads every picture of DIR and reports, per condition, exact-field
//       accuracy per field with n and a 95% (Wilson) interval, corrections a
//       user would make per card, and seconds per card on one core; with
//       --errors, every wrong field (truth and reading) and the recognised
//       lines of its card
//   bench_capture fragments PICTURE
//       prints what the recogniser gives for one picture (text, confidence,
//       box), before the field rules
//
// Not a test: it reports figures and never fails on them.

#include "CardFields.h"
#include "CardOcr.h"
#include "CardReader.h"
#include "OcrEnvironment.h"
#include "SyntheticCards.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>

using namespace kelvo;

namespace {

const char *const FieldNames[13] = {"name",   "title", "company", "address", "phone", "fax",  "mobile",
                                    "postcode", "web", "qq",      "msn",     "email", "other"};

void print(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

int generate(const QString &dir, quint32 seed, int count)
{
    QDir().mkpath(dir);
    QFile truth(dir + QStringLiteral("/truth.jsonl"));
    if (!truth.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        print(QStringLiteral("cannot write %1\n").arg(truth.fileName()));
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        const bench::SyntheticCard card = bench::makeCard(seed, i);
        std::mt19937 random(seed * 104729u + quint32(i));
        for (bench::Condition condition :
             {bench::Condition::Clean, bench::Condition::Scan, bench::Condition::Photo, bench::Condition::Phone}) {
            const QImage picture = bench::degrade(card.picture, condition, random);
            const bool photo = condition == bench::Condition::Photo || condition == bench::Condition::Phone;
            const QString file = QStringLiteral("%1-%2.%3")
                                     .arg(i, 4, 10, QLatin1Char('0'))
                                     .arg(QLatin1String(bench::conditionName(condition)))
                                     .arg(photo ? QStringLiteral("jpg") : QStringLiteral("png"));
            const int quality = condition == bench::Condition::Photo   ? int(60 + random() % 26)
                                : condition == bench::Condition::Phone ? int(80 + random() % 11)
                                                                       : -1;
            if (!picture.save(dir + u'/' + file, nullptr, quality)) {
                print(QStringLiteral("cannot write %1\n").arg(file));
                return 1;
            }
            QJsonArray fields;
            for (const QString &f : card.fields)
                fields.append(f);
            const QJsonObject line{{QStringLiteral("file"), file},
                                   {QStringLiteral("condition"), QLatin1String(bench::conditionName(condition))},
                                   {QStringLiteral("language"), QLatin1String(bench::languageName(card.language))},
                                   {QStringLiteral("vertical"), card.vertical},
                                   {QStringLiteral("fields"), fields}};
            truth.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
        }
    }
    print(QStringLiteral("%1 cards, %2 pictures in %3\n").arg(count).arg(count * 4).arg(dir));
    return 0;
}

// Wilson score interval for k of n at 95%.
QString interval(int k, int n)
{
    if (n == 0)
        return QStringLiteral("   -               ");
    const double z = 1.96, p = double(k) / n;
    const double centre = (p + z * z / (2 * n)) / (1 + z * z / n);
    const double half = z * std::sqrt(p * (1 - p) / n + z * z / (4.0 * n * n)) / (1 + z * z / n);
    return QStringLiteral("%1 [%2-%3]")
        .arg(p, 0, 'f', 3)
        .arg(std::max(0.0, centre - half), 0, 'f', 2)
        .arg(std::min(1.0, centre + half), 0, 'f', 2);
}

struct Tally
{
    int right[13] = {};
    int total[13] = {};
    int cards = 0;
    int corrections = 0;
    int phoneRight = 0, phoneTotal = 0;
    double seconds = 0;
    std::vector<double> times;
};

int evaluate(const QString &dir, bool showErrors, int limit, const QString &only)
{
    QFile truth(dir + QStringLiteral("/truth.jsonl"));
    if (!truth.open(QIODevice::ReadOnly)) {
        print(QStringLiteral("cannot read %1\n").arg(truth.fileName()));
        return 1;
    }
    capture::CardOcr ocr;
    std::map<QString, Tally> tallies; // by condition, and by condition and kind of card
    int done = 0;
    while (!truth.atEnd()) {
        const QJsonObject line = QJsonDocument::fromJson(truth.readLine()).object();
        if (line.isEmpty())
            continue;
        if (limit > 0 && done >= limit)
            break;
        ++done;
        const QString file = line.value(QStringLiteral("file")).toString();
        const QString condition = line.value(QStringLiteral("condition")).toString();
        if (!only.isEmpty() && condition != only)
            continue;
        const bool vertical = line.value(QStringLiteral("vertical")).toBool();
        const QString kind = vertical ? QStringLiteral("vertical")
                                      : line.value(QStringLiteral("language")).toString();
        // Processor time: the machine may be shared, and the recogniser runs
        // on one thread (OMP_THREAD_LIMIT=1).
        const std::clock_t start = std::clock();
        const capture::CaptureResult result = capture::readCardFile(ocr, dir + u'/' + file);
        const double seconds = double(std::clock() - start) / CLOCKS_PER_SEC;
        const QJsonArray expected = line.value(QStringLiteral("fields")).toArray();
        for (const QString &key : {condition, condition + QStringLiteral(" / ") + kind}) {
            Tally &t = tallies[key];
            ++t.cards;
            t.seconds += seconds;
            t.times.push_back(seconds);
            for (int n = 0; n < 13; ++n) {
                const QString want = expected.at(n).toString().simplified();
                const QString got = result.fields[size_t(n)].text.simplified();
                if (want != got)
                    ++t.corrections;
                if (want.isEmpty())
                    continue;
                ++t.total[n];
                t.right[n] += want == got;
                if (n == 4 || n == 5 || n == 6 || n == 11) {
                    ++t.phoneTotal;
                    t.phoneRight += want == got;
                }
            }
        }
        if (showErrors) {
            for (int n = 0; n < 13; ++n) {
                const QString want = expected.at(n).toString().simplified();
                const QString got = result.fields[size_t(n)].text.simplified();
                if (want != got)
                    print(QStringLiteral("%1 %2: want '%3' got '%4' (%5)\n")
                              .arg(file, QLatin1String(FieldNames[n]), want, got)
                              .arg(result.fields[size_t(n)].confidence));
            }
            if (!result.error.isEmpty())
                print(QStringLiteral("%1: %2\n").arg(file, result.error));
            // The recognised lines, to tell a misread from a wrong
            // assignment or a line merged or split wrongly.
            bool wrong = false;
            for (int n = 0; n < 13; ++n)
                wrong = wrong || expected.at(n).toString().simplified() != result.fields[size_t(n)].text.simplified();
            if (wrong)
                for (const capture::CapturedLine &l : result.lines)
                    print(QStringLiteral("%1   | %2 (%3, h%4 at %5,%6)\n")
                              .arg(file, l.text)
                              .arg(l.confidence)
                              .arg(result.vertical ? l.box.width() : l.box.height())
                              .arg(l.box.left())
                              .arg(l.box.top()));
        }
    }
    for (auto &[key, t] : tallies) {
        int right = 0, total = 0;
        for (int n = 0; n < 13; ++n)
            right += t.right[n], total += t.total[n];
        std::sort(t.times.begin(), t.times.end());
        print(QStringLiteral("\n== %1: %2 cards; fields %3 (%4/%5); phones and e-mail %6; corrections per card %7; "
                             "processor seconds per card %8 (median %9)\n")
                  .arg(key)
                  .arg(t.cards)
                  .arg(interval(right, total))
                  .arg(right)
                  .arg(total)
                  .arg(interval(t.phoneRight, t.phoneTotal))
                  .arg(double(t.corrections) / t.cards, 0, 'f', 2)
                  .arg(t.seconds / t.cards, 0, 'f', 2)
                  .arg(t.times[t.times.size() / 2], 0, 'f', 2));
        if (key.contains(u'/'))
            continue;
        for (int n = 0; n < 13; ++n)
            print(QStringLiteral("   %1 n=%2 %3\n")
                      .arg(QLatin1String(FieldNames[n]), -9)
                      .arg(t.total[n], 4)
                      .arg(interval(t.right[n], t.total[n])));
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    capture::restartWithOneRecogniserThread(argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() < 2) {
        print(QStringLiteral("usage: bench_capture generate DIR [--seed N] [--count N]\n"
                             "       bench_capture evaluate DIR [--errors] [--limit N] [--only clean|scan|photo|phone]\n"
                             "       bench_capture fragments PICTURE\n"));
        return 1;
    }
    const QString command = args.takeFirst();
    const QString dir = args.takeFirst();
    auto option = [&](const char *name, int fallback) {
        const qsizetype i = args.indexOf(QLatin1String(name));
        return i >= 0 && i + 1 < args.size() ? args[i + 1].toInt() : fallback;
    };
    if (command == QLatin1String("generate"))
        return generate(dir, quint32(option("--seed", 1)), option("--count", 60));
    if (command == QLatin1String("fragments")) {
        // What the recogniser gives for one picture, before the field rules.
        capture::CardOcr ocr;
        const QImage picture(dir);
        const capture::OcrOutput out = ocr.read(picture, {});
        print(QStringLiteral("rotation %1, vertical %2 %3\n").arg(out.rotation).arg(out.vertical).arg(out.error));
        for (const capture::CapturedLine &l : out.fragments)
            print(QStringLiteral("%1 (%2, %3x%4 at %5,%6)\n")
                      .arg(l.text)
                      .arg(l.confidence)
                      .arg(l.box.width())
                      .arg(l.box.height())
                      .arg(l.box.left())
                      .arg(l.box.top()));
        const capture::AssignedFields fields = capture::assignCardFields(out.fragments, out.vertical);
        for (int n = 0; n < 13; ++n)
            if (!fields.fields[size_t(n)].text.isEmpty())
                print(QStringLiteral("%1: %2\n").arg(QLatin1String(FieldNames[n]), fields.fields[size_t(n)].text));
        return 0;
    }
    if (command == QLatin1String("evaluate"))
    {
        const qsizetype i = args.indexOf(QLatin1String("--only"));
        return evaluate(dir, args.contains(QLatin1String("--errors")), option("--limit", 0),
                        i >= 0 && i + 1 < args.size() ? args[i + 1] : QString());
    }
    print(QStringLiteral("unknown command %1\n").arg(command));
    return 1;
}
