#include "shell/application.h"

#include "about/unit5.h"
#include "automation/bus/local_client.h"
#include "automation/bus/user_registration.h"
#include "catalogue/unit2.h"
#include "design/unit4.h"
#include "install/install_layout.h"
#include "model/solidworks.h"
#include "platform/browser/browser.h"
#include "platform/exception.h"
#include "platform/ui_effects.h"
#include "shell/unit1.h"

#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <typeinfo>

namespace krepiks {

namespace {

QString messageOf(const std::exception& error) {
    return QString::fromUtf8(error.what());
}

QString classOf(const std::exception& error) {
    if (const auto* own = dynamic_cast<const Exception*>(&error))
        return QString::fromLatin1(own->className());
    return QString::fromLatin1(typeid(error).name());
}

// Where the failing code lives, as an offset into the executable.
QString codeAddress() {
    Dl_info info{};
    const void* here = reinterpret_cast<const void*>(&CreateForms);
    if (dladdr(here, &info) && info.dli_fbase)
        return QStringLiteral("%1")
            .arg(static_cast<qulonglong>(reinterpret_cast<quintptr>(here) -
                                         reinterpret_cast<quintptr>(info.dli_fbase)),
                 8, 16, QLatin1Char('0'))
            .toUpper();
    return QStringLiteral("00000000");
}

} // namespace

KrepiksApplication::KrepiksApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // The windows name the original's fonts; map them to metric-alike faces with Cyrillic
    // so captions fit their boxes as they did there.
    const QStringList sans = {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                              QStringLiteral("DejaVu Sans")};
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), sans);
    QFont::insertSubstitutions(QStringLiteral("Tahoma"), sans);
}

bool KrepiksApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowErrorReport(error);
    } catch (...) {
        ShowErrorReport(Exception("Unknown error"));
    }
    return true;
}

void ShowStartupFailure(const std::exception& error) {
    const QString module = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const QString text =
        QStringLiteral("Exception %1 in module %2 at %3.\n%4")
            .arg(classOf(error), module, codeAddress(), ErrorReportText(messageOf(error)));
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    showMessage(QStringLiteral("Application Error"), text, BoxIcon::Error);
}

void CreateForms() {
    Form1 = new TForm1();
    Form4 = new TForm4();
    Form5 = new TForm5();
    Form2 = new TForm2();
}

void DestroyForms() {
    delete Form2;
    Form2 = nullptr;
    delete Form5;
    Form5 = nullptr;
    delete Form4;
    Form4 = nullptr;
    delete Form1;
    Form1 = nullptr;
    ReleaseSolidWorks();
    Bolt = TBolt{};
}

int RunKrepiks(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fprintf(stderr, "krepiks: no display found (set DISPLAY or WAYLAND_DISPLAY, or run "
                             "under Xvfb)\n");
        return 1;
    }
    // A display that is named but cannot be used makes Qt abort; end as any failed start
    // does, with Qt's own words on standard error.
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext&, const QString& message) {
            std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
            if (type == QtFatalMsg)
                std::_Exit(1);
        });
    KrepiksApplication app(argc, argv);
    qInstallMessageHandler(previous);
    // The CAD application is the program the user registered for it, or else krepiks-cad;
    // the installed one is started by the session bus, from its service file.
    const std::string cad = install::ProgramPath("krepiks-cad");
    automation::bus::RegisterUserLocalServer(SolidWorksProgId, cad,
                                             cad == install::ConfiguredProgramPath("krepiks-cad"));
    return ExecKrepiks(app);
}

int ExecKrepiks(QApplication& app) {
    RegisterBrowserClass();
    try {
        CreateForms();
    } catch (const std::exception& error) {
        // The windows made so far go before the box: its own event loop would otherwise
        // run the splash timer, which hands over to a design window that does not exist.
        DestroyForms();
        ShowStartupFailure(error);
        return 1;
    }
    Form1->show();
    const int code = app.exec();
    DestroyForms();
    return code;
}

} // namespace krepiks
