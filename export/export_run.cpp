#include "export/export_run.h"

#include "catalogue/catalogue_source.h"
#include "export/export_build.h"
#include "export/export_formats.h"
#include "export/export_index.h"
#include "export/export_names.h"
#include "export/export_progress.h"
#include "export/export_workers.h"
#include "install/install_layout.h"
#include "platform/exception.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <sched.h>
#include <set>
#include <unistd.h>

namespace krepiks::exporting {

namespace {

constexpr int NothingDone = 1;
constexpr int SomeFailed = 2;
constexpr int Stopped = 130;

int refuse(const QString& message) {
    std::fprintf(stderr, "krepiks-catalogue export: %s\n", message.toUtf8().constData());
    return NothingDone;
}

int cores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return std::max(1, CPU_COUNT(&set));
    return static_cast<int>(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
}

struct Options {
    QString dir;
    QStringList only;
    QStringList formats = DefaultFormats();
    int jobs = cores();
};

// Empty when the arguments are good, else what is wrong with them.
QString parse(const QStringList& arguments, Options& options) {
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--only")) {
            const qsizetype first = i + 1;
            while (i + 1 < arguments.size() && !arguments[i + 1].startsWith(QLatin1String("--")))
                options.only << arguments[++i];
            if (i + 1 == first)
                return QStringLiteral("после --only нужны имена исполнений");
        } else if (argument == QLatin1String("--formats") && i + 1 < arguments.size()) {
            options.formats = arguments[++i].split(QLatin1Char(','), Qt::SkipEmptyParts);
            if (options.formats.isEmpty())
                return QStringLiteral("после --formats нужен хотя бы один формат");
        } else if (argument == QLatin1String("--jobs") && i + 1 < arguments.size()) {
            bool ok = false;
            options.jobs = arguments[++i].toInt(&ok);
            if (!ok || options.jobs < 1)
                return QStringLiteral("после --jobs нужно целое число не меньше 1");
        } else if (argument.startsWith(QLatin1String("--")) || !options.dir.isEmpty()) {
            return QStringLiteral("непонятный аргумент «%1»").arg(argument);
        } else {
            options.dir = argument;
        }
    }
    if (options.dir.isEmpty())
        return QStringLiteral("не указана папка, в которую писать");
    return {};
}

// A value of a dimension column as the design window reads it: NULL as 0.
bool dimension(const QVariant& value, double* number) {
    if (value.isNull()) {
        *number = 0;
        return true;
    }
    bool ok = false;
    *number = value.toDouble(&ok);
    return ok;
}

// Whether the run of this process id is still going: a process of this very program.
bool runAlive(qint64 pid) {
    const QString exe = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
    return !exe.isEmpty() && exe == QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}

// Removes the temporary files of runs that have ended without removing them (killed), or,
// with only, of that run.
void removeTemporaries(QDir dir, qint64 only = 0) {
    static const QRegularExpression temporary(QStringLiteral("^\\.krepiks-export-(\\d+)-"));
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        const auto match = temporary.match(name);
        if (!match.hasMatch())
            continue;
        const qint64 pid = match.captured(1).toLongLong();
        if (only ? pid == only : !runAlive(pid))
            dir.remove(name);
    }
}

} // namespace

int RunExport(const QStringList& arguments) {
    Options options;
    if (const QString problem = parse(arguments, options); !problem.isEmpty())
        return refuse(problem + QStringLiteral(
                                    "\nиспользование: krepiks-catalogue export DIR [--only ISP...] "
                                    "[--formats step,pdf,svg,dxf,stl] [--jobs N]"));
    std::vector<int> formats;
    for (const QString& name : options.formats) {
        const int format = FindFormat(name);
        if (format < 0)
            return refuse(QStringLiteral("формат «%1» не поддерживается: команда пишет step, "
                                         "stl, pdf, svg, dxf")
                              .arg(name));
        if (std::find(formats.begin(), formats.end(), format) == formats.end())
            formats.push_back(format);
    }

    QString where;
    CatalogueRows catalogue;
    try {
        catalogue = ReadCurrentCatalogue(&where);
    } catch (const EDatabaseError& error) {
        return refuse(QString::fromStdString(error.what()) +
                      QStringLiteral("; ничего не записано"));
    }
    QString templatePath;
    if (!catalogue.templatePaths.empty())
        templatePath = catalogue.templatePaths.front()[1].toString();
    if (templatePath.isEmpty())
        templatePath = QString::fromStdString(install::DataPath("part.kprt"));

    const QString dirPath = QFileInfo(options.dir).absoluteFilePath();
    const QDir dir(dirPath);
    if (!QDir().mkpath(dirPath) || !QFileInfo(dirPath).isDir())
        return refuse(QStringLiteral("папку %1 нельзя создать").arg(dirPath));
    if (::access(QFile::encodeName(dirPath).constData(), W_OK | X_OK) != 0)
        return refuse(QStringLiteral("в папку %1 нельзя писать").arg(dirPath));
    removeTemporaries(dir);

    std::vector<NamedVariant> named;
    for (const auto& row : catalogue.variants)
        named.push_back({row[0].toLongLong(), row[1].toString()});
    const std::vector<QString> bases = FileBases(named);
    std::set<QString> unknown(options.only.begin(), options.only.end());
    for (const NamedVariant& variant : named)
        unknown.erase(variant.isp);
    if (!unknown.empty())
        return refuse(QStringLiteral("%1: нет исполнения «%2»; ничего не записано")
                          .arg(where, *unknown.begin()));

    const ExportIndex index(dirPath);
    std::vector<VariantJob> jobs;
    for (std::size_t v = 0; v < named.size(); ++v) {
        if (!options.only.isEmpty() && !options.only.contains(named[v].isp))
            continue;
        const auto& row = catalogue.variants[v];
        VariantJob job;
        job.id = named[v].id;
        job.isp = named[v].isp;
        job.base = bases[v];
        job.formats = formats;
        job.bolt.isp = job.isp.toStdString();
        job.bolt.TemplatePath = templatePath.toStdString();
        double* fields[] = {&job.bolt.d0, &job.bolt.d1, &job.bolt.d2, &job.bolt.D,  &job.bolt.R,
                            &job.bolt.K,  &job.bolt.L,  &job.bolt.L2, &job.bolt.L3, &job.bolt.a,
                            &job.bolt.b,  &job.bolt.c,  &job.bolt.S,  &job.bolt.e};
        for (int i = 0; i < 14; ++i)
            if (!dimension(row[2 + i], fields[i]) && job.refusal.isEmpty())
                job.refusal = QStringLiteral("в столбце %1 «%2» — не число")
                                  .arg(VariantColumns()[2 + i], row[2 + i].toString());
        for (const int format : formats)
            job.present.push_back(QFileInfo::exists(
                dir.filePath(job.base + QLatin1Char('.') + ExportFormats()[format].name)));
        jobs.push_back(std::move(job));
    }

    const bool terminal = ::isatty(STDOUT_FILENO);
    std::printf("krepiks-catalogue export: исполнений: %zu; источник: %s; папка: %s; форматы: %s; "
                "одновременно: %d\n",
                jobs.size(), where.toUtf8().constData(), dirPath.toUtf8().constData(),
                options.formats.join(QLatin1Char(',')).toUtf8().constData(), options.jobs);
    std::fflush(stdout);
    Progress progress(jobs.size(), terminal);
    std::vector<VariantResult> results(jobs.size());
    std::vector<std::size_t> pending;
    const auto names = [&](const VariantJob& job) {
        QStringList list;
        for (const int format : job.formats)
            list << job.base + QLatin1Char('.') + ExportFormats()[format].name;
        return list;
    };
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        VariantJob& job = jobs[j];
        VariantResult& result = results[j];
        if (!job.refusal.isEmpty()) {
            for (std::size_t f = 0; f < formats.size(); ++f)
                result.files.push_back(job.present[f] ? FileOutcome::Skipped : FileOutcome::Failed);
            result.error = job.refusal;
            progress.ended(job, result, names(job));
            continue;
        }
        const std::optional<double> known = index.knownVolume(job);
        job.needVolume = !known;
        const bool allThere =
            std::all_of(job.present.begin(), job.present.end(), [](bool p) { return p; });
        if (known && allThere) {
            result.files.assign(formats.size(), FileOutcome::Skipped);
            result.volume = *known;
            progress.ended(job, result, names(job));
            continue;
        }
        pending.push_back(j);
    }

    const QString prefix = QStringLiteral(".krepiks-export-%1-").arg(::getpid());
    const bool finished = RunInWorkers(
        jobs, pending, options.jobs,
        [&](const VariantJob& job) {
            VariantResult result = RunVariantJob(job, dirPath, prefix);
            if (!job.needVolume && std::isnan(result.volume))
                result.volume = *index.knownVolume(job);
            return result;
        },
        [&](std::size_t job, const VariantResult& result) {
            results[job] = result;
            if (!jobs[job].needVolume && std::isnan(results[job].volume) &&
                results[job].error.isEmpty())
                results[job].volume = *index.knownVolume(jobs[job]);
            progress.ended(jobs[job], result, names(jobs[job]));
        });
    progress.close();
    if (!finished) {
        removeTemporaries(dir, ::getpid());
        std::printf("krepiks-catalogue export: остановлено: готово исполнений %zu из %zu (файлов "
                    "записано: %zu, уже было: %zu, исполнений с ошибкой: %zu) за %.1f с; "
                    "запустите снова, чтобы закончить\n",
                    progress.variantsDone(), jobs.size(), progress.written(), progress.skipped(),
                    progress.failedVariants(), progress.seconds());
        return Stopped;
    }

    // The index is written whole or not at all, even when a signal comes meanwhile.
    sigset_t stops, previous;
    sigemptyset(&stops);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stops, signal);
    sigprocmask(SIG_BLOCK, &stops, &previous);
    bool changed = false;
    QString indexError;
    const bool indexWritten = index.write(index.text(jobs, results), &changed, &indexError);
    sigprocmask(SIG_SETMASK, &previous, nullptr);

    std::printf("krepiks-catalogue export: файлов записано: %zu, уже было и оставлено: %zu, "
                "исполнений с ошибкой: %zu; за %.1f с\n",
                progress.written(), progress.skipped(), progress.failedVariants(),
                progress.seconds());
    if (!indexWritten) {
        std::fprintf(stderr, "krepiks-catalogue export: %s не удаётся записать: %s\n",
                     index.path().toUtf8().constData(), indexError.toUtf8().constData());
        return SomeFailed;
    }
    std::printf("krepiks-catalogue export: %s %s\n", index.path().toUtf8().constData(),
                changed ? "записан" : "уже актуален");
    return progress.failedVariants() ? SomeFailed : 0;
}

} // namespace krepiks::exporting
