// krepiks-catalogue: moves a catalogue between a bolti.mdb file and the office's server,
// the one the "krepiks" connection service names, and brings an Access catalogue over.
//   krepiks-catalogue to-server [FILE]        FILE (default bolti.mdb) into an empty database
//   krepiks-catalogue from-server FILE        the server's catalogue into a new FILE
//   krepiks-catalogue from-jet OLD.mdb NEW.mdb an Access (Jet 4.0) file into a new FILE
//   krepiks-catalogue sample FILE             the sample catalogue into a new FILE
//   krepiks-catalogue drawing ISP FILE        the drawing of a variant into a new FILE
//   krepiks-catalogue to-csv FILE.csv         the variants into a new CSV file
//   krepiks-catalogue from-csv FILE.csv NEW.mdb  a spreadsheet's variants into a new FILE
//   krepiks-catalogue export DIR …            every variant as files of a parts library
#include "catalogue/catalogue_copy.h"
#include "catalogue/catalogue_source.h"
#include "catalogue/connection_service.h"
#include "catalogue/csv_copy.h"
#include "drawing/drawing_command.h"
#include "export/export_run.h"
#include "install/install_layout.h"
#include "platform/exception.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <cstdio>
#include <cstring>
#include <libpq-fe.h>

namespace {

constexpr char Usage[] =
    "использование: krepiks-catalogue to-server [FILE]\n"
    "       krepiks-catalogue from-server FILE\n"
    "       krepiks-catalogue from-jet OLD.mdb NEW.mdb\n"
    "       krepiks-catalogue sample FILE\n"
    "       krepiks-catalogue drawing ISP FILE [--material TEXT] [--density G_PER_CM3]\n"
    "                         [--designation TEXT] [--author TEXT]\n"
    "       krepiks-catalogue to-csv FILE.csv\n"
    "       krepiks-catalogue from-csv FILE.csv NEW.mdb [--template PATH]\n"
    "       krepiks-catalogue export DIR [--only ISP...] [--formats step,pdf,svg,dxf,stl]\n"
    "                         [--jobs N]\n"
    "  to-server копирует FILE (по умолчанию bolti.mdb; каталог или файл Access Jet 4.0)\n"
    "  в пустую базу данных, которую называет служба подключения PostgreSQL «krepiks»;\n"
    "  from-server записывает каталог оттуда в FILE, которого ещё не должно быть. from-jet\n"
    "  записывает все таблицы файла Access (Jet 4.0) OLD.mdb в новый файл каталога NEW.mdb\n"
    "  и сообщает, может ли Крепикс его открыть. После копирования все три команды\n"
    "  сверяют каждое значение.\n"
    "  sample записывает пример каталога с установленным шаблоном детали в FILE, которого\n"
    "  ещё не должно быть.\n"
    "  drawing делает чертёж исполнения ISP из каталога, который Крепикс открыл бы здесь,\n"
    "  в FILE (.pdf, .svg или .dxf), которого ещё не должно быть.\n"
    "  to-csv записывает исполнения каталога, который Крепикс открыл бы здесь (серверного\n"
    "  или bolti.mdb), в новый файл CSV FILE.csv (UTF-8, RFC 4180). from-csv записывает\n"
    "  исполнения из FILE.csv (в том числе из электронной таблицы, с ';' и десятичными\n"
    "  запятыми) в новый каталог NEW.mdb с шаблоном детали PATH, если все ячейки прошли\n"
    "  проверку.\n"
    "  export строит каждое исполнение этого каталога и записывает DIR/<имя>.step и его\n"
    "  чертёж DIR/<имя>.pdf (или указанные форматы) и DIR/index.csv; уже существующие\n"
    "  файлы остаются как есть. Коды выхода export: 0 всё записано или уже было;\n"
    "  2 часть исполнений с ошибкой; 1 ничего не сделано; 130 прервано.\n"
    "  Коды выхода: 0 готово; 1 ничего не записано; 2 неверный вызов; 3 (from-jet) файл\n"
    "  записан, но Крепикс не может открыть его как свой каталог.\n";

// Exit code of a copy that was written but that Krepiks would refuse.
constexpr int WrittenButRefused = 3;

void say(std::FILE* to, const QString& line) {
    std::fprintf(to, "krepiks-catalogue: %s\n", line.toUtf8().constData());
}

// A new file that cannot be made, named as the user gave it rather than as the copy would
// have met it; true when it was refused.
bool refusedNewFile(const QString& given) {
    const QString why = krepiks::NewFileProblem(given);
    if (!why.isEmpty())
        say(stderr, why + QStringLiteral("; ничего не записано"));
    return !why.isEmpty();
}

int fromJet(const QString& jet, const QString& file) {
    const krepiks::JetCopyResult result = krepiks::CopyJetToFile(jet, file);
    if (!result.written) {
        say(stderr, result.message);
        return 1;
    }
    say(stdout, result.message);
    for (const QString& note : result.notes)
        say(stdout, note);
    if (result.krepiksCanOpen) {
        std::printf("krepiks-catalogue: Крепикс может открыть %s как свой каталог bolti.mdb\n",
                    file.toUtf8().constData());
        return 0;
    }
    // What was copied comes first, also when both go to one pipe.
    std::fflush(stdout);
    std::fprintf(stderr, "krepiks-catalogue: Крепикс не может открыть %s как свой каталог: %s\n",
                 file.toUtf8().constData(), result.problem.toUtf8().constData());
    return WrittenButRefused;
}

int report(const krepiks::CopyResult& result) {
    std::fprintf(result.ok ? stdout : stderr, "krepiks-catalogue: %s\n",
                 result.message.toUtf8().constData());
    return result.ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "drawing") == 0) {
        // Painted into files only: no display is needed or used.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication app(argc, argv);
        return krepiks::drawing::RunDrawingCommand(app.arguments().mid(2));
    }
    if (argc > 1 && std::strcmp(argv[1], "export") == 0) {
        // The drawings, as above. The offscreen platform starts no thread, so the workers
        // forked from this process inherit nothing half-held.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication app(argc, argv);
        return krepiks::exporting::RunExport(app.arguments().mid(2));
    }
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    const QString command = arguments.value(0);
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (command == QLatin1String("from-jet") && arguments.size() == 3)
        return refusedNewFile(arguments[2]) ? 1
                                            : fromJet(QFileInfo(arguments[1]).absoluteFilePath(),
                                                      QFileInfo(arguments[2]).absoluteFilePath());
    if (command == QLatin1String("to-csv") && arguments.size() == 2) {
        QString where;
        krepiks::CopyResult result;
        try {
            result = krepiks::WriteVariantsCsv(krepiks::ReadCurrentCatalogue(&where),
                                               QFileInfo(arguments[1]).absoluteFilePath());
        } catch (const krepiks::EDatabaseError& error) {
            result = {false, QString::fromStdString(error.what())};
        }
        return report(result);
    }
    if (command == QLatin1String("from-csv") &&
        (arguments.size() == 3 ||
         (arguments.size() == 5 && arguments[3] == QLatin1String("--template"))))
        return report(krepiks::CsvToCatalogue(QFileInfo(arguments[1]).absoluteFilePath(),
                                              QFileInfo(arguments[2]).absoluteFilePath(),
                                              arguments.value(4)));
    if (command == QLatin1String("sample") && arguments.size() == 2) {
        if (refusedNewFile(arguments[1]))
            return 1;
        const auto shipped = [](const char* name) {
            return QString::fromStdString(krepiks::install::DataPath(name));
        };
        const krepiks::CopyResult result =
            krepiks::WriteSampleCatalogue(QFileInfo(arguments[1]).absoluteFilePath(),
                                          shipped("sample_catalogue.sql"), shipped("part.kprt"));
        std::fprintf(result.ok ? stdout : stderr, "krepiks-catalogue: %s\n",
                     result.message.toUtf8().constData());
        return result.ok ? 0 : 1;
    }
    const bool toServer = command == QLatin1String("to-server") && arguments.size() <= 2;
    const bool fromServer = command == QLatin1String("from-server") && arguments.size() == 2;
    if (!toServer && !fromServer) {
        std::fputs(Usage, stderr);
        return 2;
    }
    if (fromServer && refusedNewFile(arguments[1]))
        return 1;
    if (krepiks::CatalogueServiceFile().isEmpty()) {
        std::fprintf(stderr,
                     "krepiks-catalogue: служба подключения PostgreSQL «%s» не задана (ни в "
                     "~/.pg_service.conf, ни в PGSERVICEFILE, ни в системном pg_service.conf)\n",
                     krepiks::CatalogueService);
        return 1;
    }
    PGconn* server = PQconnectdb((QByteArray("service=") + krepiks::CatalogueService).constData());
    if (PQstatus(server) != CONNECTION_OK) {
        std::fprintf(stderr, "krepiks-catalogue: %s", PQerrorMessage(server));
        PQfinish(server);
        return 1;
    }
    PQsetClientEncoding(server, "UTF8");
    const QString file =
        QFileInfo(arguments.value(1, QStringLiteral("bolti.mdb"))).absoluteFilePath();
    const krepiks::CopyResult result = toServer ? krepiks::CopyFileToServer(file, server)
                                                : krepiks::CopyServerToFile(server, file);
    PQfinish(server);
    say(result.ok ? stdout : stderr, result.message);
    for (const QString& note : result.notes)
        say(stdout, note);
    return result.ok ? 0 : 1;
}
