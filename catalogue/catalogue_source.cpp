#include "catalogue/catalogue_source.h"

#include "catalogue/connection_service.h"
#include "catalogue/jet_file.h"
#include "platform/exception.h"

#include <QDir>
#include <QFileInfo>
#include <memory>

namespace krepiks {

namespace {

[[noreturn]] void fail(const QString& message) {
    throw EDatabaseError(message.toStdString());
}

} // namespace

CatalogueRows ReadCurrentCatalogue(QString* where) {
    if (!CatalogueServiceFile().isEmpty()) {
        *where =
            QStringLiteral("каталог сервера (служба «%1»)").arg(QLatin1String(CatalogueService));
        const std::unique_ptr<PGconn, decltype(&PQfinish)> server(
            PQconnectdb((QByteArray("service=") + CatalogueService).constData()), &PQfinish);
        if (PQstatus(server.get()) != CONNECTION_OK)
            fail(*where + QStringLiteral(": ") +
                 QString::fromLocal8Bit(PQerrorMessage(server.get())).trimmed());
        PQsetClientEncoding(server.get(), "UTF8");
        try {
            return ReadCatalogueServer(server.get());
        } catch (const EDatabaseError& error) {
            fail(*where + QStringLiteral(": ") + QString::fromStdString(error.what()));
        }
    }
    const QString file = QDir::current().absoluteFilePath(QStringLiteral("bolti.mdb"));
    *where = file;
    if (!QFileInfo(file).isFile())
        fail(QStringLiteral("файл %1 не найден").arg(file));
    if (ReadJetHeaderOf(file).format != JetFormat::NotJet)
        fail(QStringLiteral("%1 — файл Access, Крепикс его не открывает; сначала перенесите "
                            "каталог командой krepiks-catalogue from-jet")
                 .arg(file));
    if (const QString problem = CatalogueProblem(file); !problem.isEmpty())
        fail(file + QStringLiteral(": ") + problem);
    try {
        return ReadCatalogueFile(file);
    } catch (const EDatabaseError& error) {
        fail(file + QStringLiteral(": ") + QString::fromStdString(error.what()));
    }
}

} // namespace krepiks
