// The floor of the CAD program's start: a Qt application linked against what krepiks-cad
// links, that makes its application object and claims a bus name, and nothing else.
//   krepiks-bare-qt-app NAME
#include <QApplication>
#include <QDBusConnection>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2 ||
        !QDBusConnection::sessionBus().registerService(QString::fromLocal8Bit(argv[1])))
        return 1;
    return app.exec();
}
