#include "catalogue/variant_lookup.h"

#include "catalogue/catalogue_copy.h"
#include "catalogue/connection_service.h"
#include "catalogue/jet_file.h"
#include "catalogue/server_engine.h"
#include "platform/exception.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <array>
#include <sqlite3.h>

namespace krepiks {

namespace {

// The dimensions in the catalogue's column order, and where each goes.
constexpr std::array<double TBolt::*, 14> Dimensions = {
    &TBolt::d0, &TBolt::d1, &TBolt::d2, &TBolt::D, &TBolt::R, &TBolt::K, &TBolt::L,
    &TBolt::L2, &TBolt::L3, &TBolt::a,  &TBolt::b, &TBolt::c, &TBolt::S, &TBolt::e};
constexpr char Columns[] = "d0, d1, d2, D, R, K, L, L2, L3, a, b, c, S, e";

VariantLookup fromFile(const QString& isp) {
    VariantLookup lookup;
    const QString file = QDir::current().absoluteFilePath(QStringLiteral("bolti.mdb"));
    if (!QFileInfo(file).isFile()) {
        lookup.error = QStringLiteral("файл %1 не найден").arg(file);
        return lookup;
    }
    if (const JetHeader jet = ReadJetHeaderOf(file); jet.format != JetFormat::NotJet) {
        lookup.error = QStringLiteral("каталог %1 — файл Microsoft Access; сначала перенесите "
                                      "его командой krepiks-catalogue from-jet")
                           .arg(file);
        return lookup;
    }
    if (const QString problem = CatalogueProblem(file); !problem.isEmpty()) {
        lookup.error = problem;
        return lookup;
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
        lookup.error = file + QStringLiteral(": ") + QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_close(db);
        return lookup;
    }
    sqlite3_busy_timeout(db, 5000);
    const auto query = [&](const QByteArray& sql, const QByteArray& value, const auto& readRow) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, sql.constData(), -1, &statement, nullptr) != SQLITE_OK) {
            lookup.error = QString::fromUtf8(sqlite3_errmsg(db));
            return;
        }
        if (!value.isNull())
            sqlite3_bind_text(statement, 1, value.constData(), -1, SQLITE_TRANSIENT);
        const int step = sqlite3_step(statement);
        if (step == SQLITE_ROW)
            readRow(statement);
        else if (step != SQLITE_DONE)
            lookup.error = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_finalize(statement);
    };
    query(QByteArray("select ") + Columns + " from \"Размеры\" where isp = ? order by id limit 1",
          isp.toUtf8(), [&](sqlite3_stmt* row) {
              lookup.found = true;
              for (std::size_t i = 0; i < Dimensions.size(); ++i)
                  lookup.bolt.*Dimensions[i] = sqlite3_column_double(row, static_cast<int>(i));
          });
    if (lookup.found && lookup.error.isEmpty())
        query("select path_templete_detal from swApp order by id_swApp limit 1", QByteArray(),
              [&](sqlite3_stmt* row) {
                  if (const auto* text = sqlite3_column_text(row, 0))
                      lookup.bolt.TemplatePath = reinterpret_cast<const char*>(text);
              });
    sqlite3_close(db);
    if (!lookup.error.isEmpty())
        lookup.found = false;
    return lookup;
}

VariantLookup fromServer(const QString& isp) {
    VariantLookup lookup;
    PGconn* server = PQconnectdb((QByteArray("service=") + CatalogueService).constData());
    try {
        if (PQstatus(server) != CONNECTION_OK)
            throw EDatabaseError(QString::fromUtf8(PQerrorMessage(server)).trimmed().toStdString());
        PQsetClientEncoding(server, "UTF8");
        const server::Result row =
            server::Exec(server,
                         QStringLiteral("select %1 from Размеры where isp = ? order by id limit 1")
                             .arg(QLatin1String(Columns)),
                         {isp});
        if (PQntuples(row.get()) > 0) {
            lookup.found = true;
            for (std::size_t i = 0; i < Dimensions.size(); ++i)
                lookup.bolt.*Dimensions[i] =
                    server::CellValue(row.get(), 0, static_cast<int>(i)).toDouble();
            const server::Result path = server::Exec(
                server,
                QStringLiteral("select path_templete_detal from swApp order by id_swApp limit 1"));
            if (PQntuples(path.get()) > 0)
                lookup.bolt.TemplatePath =
                    server::CellValue(path.get(), 0, 0).toString().toStdString();
        }
    } catch (const EDatabaseError& error) {
        lookup.found = false;
        lookup.error = QString::fromStdString(error.what());
    }
    PQfinish(server);
    return lookup;
}

} // namespace

VariantLookup LookUpVariant(const QString& isp) {
    VariantLookup lookup = CatalogueServiceFile().isEmpty() ? fromFile(isp) : fromServer(isp);
    lookup.bolt.isp = isp.toStdString();
    return lookup;
}

} // namespace krepiks
