// The kelvo program: one running copy per user, three windows, and the
// message loop until the main window really closes.

#include "AtomicFile.h"
#include "ChineseQtTexts.h"
#include "DataFiles.h"
#include "ImageList.h"
#include "KelvoVersion.h"
#include "Session.h"
#include "SingleInstance.h"
#include "SkinWindowFrame.h"
#include "TerminationSignals.h"

#include <QApplication>
#include <QSessionManager>

int main(int argc, char **argv)
{
    // Read before QApplication takes its own options out of the arguments.
    const bool ownStyle = kelvo::userChoseStyle(argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvo"));
    QApplication::setApplicationVersion(QString::fromLatin1(kelvo::version::Number));
    QApplication::setDesktopFileName(QStringLiteral("kelvo"));
    // Qt's own texts (stock buttons, file dialogs, editor menus) in Chinese,
    // like every text of the program, whatever the user's locale.
    const kelvo::ChineseQtTexts qtTexts(app);
    // Closing the main window normally only hides it; the program ends when
    // the main window says so.
    QApplication::setQuitOnLastWindowClosed(false);

    // From here on SIGTERM and SIGINT end the program in order (exit code 0,
    // unsaved changes written) instead of killing it.
    kelvo::TerminationSignals termination;

    kelvo::SingleInstance instance(kelvo::InstanceLock::kelvoName());
    if (!instance.acquire()) {
        instance.askRunningCopyToShow();
        return 0;
    }
    QApplication::setWindowIcon(kelvo::ImageList::programIcon());

    // Holding the lock, no save of Kelvo runs: a temporary file of an earlier
    // save that was killed is stale. One that cannot be removed is logged and
    // stays; it never stops the start.
    const kelvo::DataFiles files = kelvo::DataFiles::forThisProgram();
    kelvo::removeStaleTemporaryFiles(files);
    kelvo::Session session(files);
    // The skin paints the windows unless the user chose a Qt style with
    // -style or QT_STYLE_OVERRIDE: then that style and the system's frames.
    if (!ownStyle)
        session.applySkin();

    QObject::connect(&session, &kelvo::Session::finished, &app, [](int exitCode) { QCoreApplication::exit(exitCode); });
    QObject::connect(&instance, &kelvo::SingleInstance::showRequested, &session,
                     &kelvo::Session::showRequestedByAnotherStart);

    // Log-off, SIGTERM and SIGINT: unsaved changes are written first.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &session,
                     [&session](QSessionManager &) { session.saveBeforeProcessEnd(); });
    QObject::connect(&termination, &kelvo::TerminationSignals::terminationRequested, &session, [&session](int) {
        session.saveBeforeProcessEnd();
        QCoreApplication::exit(0);
    });

    QMetaObject::invokeMethod(&session, &kelvo::Session::showMainWindow, Qt::QueuedConnection);
    // The exit code is the one the session ended the program with.
    return app.exec();
}
