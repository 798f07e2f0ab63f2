// The whole catalogue read and written for the CSV and export commands, and the sample
// catalogue written from the script shipped with Krepiks.
#include "catalogue/catalogue_copy.h"

#include "catalogue/copy_check.h"
#include "catalogue/copy_rows.h"
#include "catalogue/server_engine.h"
#include "platform/exception.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

namespace krepiks {

using namespace copying;

CopyResult WriteSampleCatalogue(const QString& file, const QString& script,
                                const QString& templatePath) {
    QFile source(script);
    if (!source.open(QIODevice::ReadOnly))
        return {false, QStringLiteral("%1 не читается: %2; ничего не записано")
                           .arg(script, source.errorString())};
    QString sql = QString::fromUtf8(source.readAll());
    QString quoted = templatePath;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    sql.replace(QStringLiteral("@TEMPLATE_PATH@"), quoted);
    // A name of its own, so that two first starts at once cannot write into one file.
    QTemporaryFile partial(file + QStringLiteral(".XXXXXX.partial"));
    try {
        if (const QString why = NewFileProblem(file); !why.isEmpty())
            fail(why + QStringLiteral("; ничего не записано"));
        if (!partial.open())
            fail(QStringLiteral("%1 не удаётся создать: %2; ничего не записано")
                     .arg(file, partial.errorString()));
        {
            const File target(partial.fileName(), SQLITE_OPEN_READWRITE);
            target.exec("begin");
            target.exec(sql.toUtf8().constData());
            target.exec("commit");
        }
        if (const QString problem = CatalogueProblem(partial.fileName()); !problem.isEmpty())
            fail(problem + QStringLiteral("; ничего не записано"));
        LinkIntoPlace(partial.fileName(), file);
        return {true, QStringLiteral("пример каталога записан в %1, шаблон детали: %2")
                          .arg(file, templatePath)};
    } catch (const EDatabaseError& error) {
        return {false, QString::fromStdString(error.what())};
    }
}

const QStringList& VariantColumns() {
    return Tables()[0].columns;
}

CatalogueRows ReadCatalogueFile(const QString& file) {
    const File source(file, SQLITE_OPEN_READONLY);
    return {readFile(source, Tables()[0]), readFile(source, Tables()[1])};
}

CatalogueRows ReadCatalogueServer(PGconn* server) {
    server::Exec(server, QStringLiteral("begin transaction isolation level repeatable read"));
    CatalogueRows tables;
    try {
        server::Exec(server, QStringLiteral("set local extra_float_digits = 3"));
        tables = {readServer(server, Tables()[0]), readServer(server, Tables()[1])};
        server::Exec(server, QStringLiteral("commit"));
    } catch (...) {
        PQclear(PQexec(server, "rollback"));
        throw;
    }
    return tables;
}

CopyResult WriteCatalogueFile(const QString& file, const CatalogueRows& tables) {
    const std::vector<Rows> rows = {tables.variants, tables.templatePaths};
    // A name of its own, so that two copies at once cannot write into one file.
    QTemporaryFile partial(file + QStringLiteral(".XXXXXX.partial"));
    try {
        if (QFileInfo::exists(file))
            fail(QStringLiteral("%1 уже существует; ничего не записано").arg(file));
        if (!partial.open())
            fail(QStringLiteral("%1 не удаётся создать: %2; ничего не записано")
                     .arg(file, partial.errorString()));
        {
            const File target(partial.fileName(), SQLITE_OPEN_READWRITE);
            writeChecked(target, rows);
        }
        LinkIntoPlace(partial.fileName(), file);
        return {true, QStringLiteral("записано в %2: %1").arg(summary(rows), file)};
    } catch (const EDatabaseError& error) {
        return {false, QString::fromStdString(error.what())};
    }
}

} // namespace krepiks
