#include "export/export_build.h"

#include "cad/cad_server.h"
#include "cad/part_geometry.h"
#include "export/export_formats.h"
#include "model/solidworks.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace krepiks::exporting {

namespace {

struct Build {
    BuiltVariant built;
    double volume = NAN; // mm3
    std::string error;
};

// The build the design window's button makes, against the CAD core in this process; the
// CAD program's refusal of a feature fails it with the CAD program's reason.
Build build(const TBolt& bolt) {
    static const bool registered = (cad::RegisterCadServer(), true);
    (void)registered;
    Build result;
    result.built.bolt = bolt;
    try {
        BuildModel(result.built.bolt);
    } catch (const std::exception& failure) {
        result.error = failure.what();
    }
    const auto session = cad::RunningCadSession();
    result.built.document = session ? session->activeDocument() : nullptr;
    ReleaseSolidWorks();
    const auto& document = result.built.document;
    if (result.error.empty()) {
        if (!document || document->body().IsNull())
            result.error = "построение не дало тела";
        else if (!document->failures().empty())
            result.error =
                document->failures().front().name + ": " + document->failures().front().reason;
    }
    if (result.error.empty()) {
        // The refined integration the CAD window's figure takes would cost as much again as
        // writing the STEP file; the plain one agrees with it to about 1e-12.
        const double perMetre = document->unitsPerMetre();
        result.volume = document->quickVolume() / (perMetre * perMetre * perMetre) * 1e9;
    }
    // The document stays with the result; the application goes, so the next build starts
    // a new one, as after Close.
    if (session)
        session->quit();
    return result;
}

} // namespace

QString TemporaryName(const QString& tempPrefix, const QString& finalName) {
    return tempPrefix + finalName;
}

VariantResult RunVariantJob(const VariantJob& job, const QString& dir, const QString& tempPrefix) {
    VariantResult result;
    result.files.assign(job.formats.size(), FileOutcome::Skipped);
    bool wanted = job.needVolume;
    for (std::size_t f = 0; f < job.formats.size(); ++f)
        wanted = wanted || !job.present[f];
    if (!wanted)
        return result;
    const Build made = build(job.bolt);
    result.volume = made.volume;
    if (!made.error.empty()) {
        result.error = QString::fromStdString(made.error);
        for (std::size_t f = 0; f < job.formats.size(); ++f)
            if (!job.present[f])
                result.files[f] = FileOutcome::Failed;
        return result;
    }
    const QDir folder(dir);
    for (std::size_t f = 0; f < job.formats.size(); ++f) {
        if (job.present[f])
            continue;
        const ExportFormat& format = ExportFormats()[job.formats[f]];
        const QString name = job.base + QLatin1Char('.') + format.name;
        const QByteArray finalPath = QFile::encodeName(folder.filePath(name));
        const QByteArray partial =
            QFile::encodeName(folder.filePath(TemporaryName(tempPrefix, name)));
        std::string error;
        ::unlink(partial.constData());
        if (!format.write(made.built, partial.toStdString(), &error)) {
            ::unlink(partial.constData());
            result.files[f] = FileOutcome::Failed;
            result.error = QStringLiteral("%1: %2").arg(name, QString::fromStdString(error));
            continue;
        }
        // A link never replaces a file that appeared meanwhile: that one is kept.
        if (::link(partial.constData(), finalPath.constData()) == 0) {
            result.files[f] = FileOutcome::Written;
        } else if (errno == EEXIST) {
            result.files[f] = FileOutcome::Skipped;
        } else {
            result.files[f] = FileOutcome::Failed;
            result.error = QStringLiteral("%1 не удаётся создать: %2")
                               .arg(name, QString::fromLocal8Bit(std::strerror(errno)));
        }
        ::unlink(partial.constData());
    }
    return result;
}

} // namespace krepiks::exporting
