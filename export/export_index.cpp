#include "export/export_index.h"

#include "catalogue/csv_format.h"
#include "export/export_formats.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace krepiks::exporting {

namespace {

const char* const Dimensions[] = {"d0", "d1", "d2", "D", "R", "K", "L",
                                  "L2", "L3", "a",  "b", "c", "S", "e"};

QStringList header() {
    QStringList names = {QStringLiteral("id"), QStringLiteral("isp"), QStringLiteral("file")};
    for (const char* name : Dimensions)
        names << QLatin1String(name);
    names << QStringLiteral("volume_mm3") << QStringLiteral("mass_kg");
    for (const ExportFormat& format : ExportFormats())
        names << format.name;
    names << QStringLiteral("error");
    return names;
}

std::vector<double> dimensions(const TBolt& bolt) {
    return {bolt.d0, bolt.d1, bolt.d2, bolt.D, bolt.R, bolt.K, bolt.L,
            bolt.L2, bolt.L3, bolt.a,  bolt.b, bolt.c, bolt.S, bolt.e};
}

QString number(double value) {
    return QString::fromLatin1(csv::Number(value));
}

} // namespace

ExportIndex::ExportIndex(const QString& dir)
    : dir_(dir), path_(QDir(dir).filePath(QStringLiteral("index.csv"))) {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly))
        return;
    old_ = file.readAll();
    csv::Table table;
    csv::Error error;
    if (!csv::Parse(old_, &table, &error) || table.records.empty())
        return;
    QStringList names;
    for (const csv::Cell& cell : table.records[0])
        names << cell.text;
    if (names != header())
        return;
    for (std::size_t r = 1; r < table.records.size(); ++r) {
        const auto& record = table.records[r];
        if (record.size() != static_cast<std::size_t>(names.size()))
            continue;
        std::vector<QString> fields;
        for (const csv::Cell& cell : record)
            fields.push_back(cell.text);
        rows_[fields[0].toLongLong()] = std::move(fields);
    }
}

std::optional<double> ExportIndex::knownVolume(const VariantJob& job) const {
    const auto row = rows_.find(job.id);
    if (row == rows_.end() || row->second[1] != job.isp)
        return std::nullopt;
    const std::vector<double> values = dimensions(job.bolt);
    for (std::size_t i = 0; i < values.size(); ++i)
        if (row->second[3 + i] != number(values[i]))
            return std::nullopt;
    const QByteArray text = row->second[3 + values.size()].toLatin1();
    double volume = 0;
    const auto [end, ec] =
        std::from_chars(text.constData(), text.constData() + text.size(), volume);
    if (text.isEmpty() || ec != std::errc() || end != text.constData() + text.size())
        return std::nullopt;
    return volume;
}

QByteArray ExportIndex::text(const std::vector<VariantJob>& jobs,
                             const std::vector<VariantResult>& results) const {
    std::map<qlonglong, std::vector<QString>> rows = rows_;
    const QDir folder(dir_);
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        const VariantJob& job = jobs[j];
        const VariantResult& result = results[j];
        std::vector<QString> row = {QString::number(job.id), job.isp, job.base};
        for (const double value : dimensions(job.bolt))
            row.push_back(number(value));
        const bool measured = !std::isnan(result.volume);
        row.push_back(measured ? number(result.volume) : QString());
        row.push_back(measured ? number(result.volume * SteelKgPerMm3) : QString());
        for (const ExportFormat& format : ExportFormats()) {
            const QString name = job.base + QLatin1Char('.') + format.name;
            row.push_back(QFileInfo::exists(folder.filePath(name)) ? name : QString());
        }
        row.push_back(result.error);
        rows[job.id] = std::move(row);
    }
    std::vector<QByteArray> names;
    for (const QString& name : header())
        names.push_back(csv::Field(name));
    QByteArray text = csv::Record(names);
    for (const auto& [id, row] : rows) {
        std::vector<QByteArray> fields;
        for (const QString& field : row)
            fields.push_back(csv::Field(field));
        text += csv::Record(fields);
    }
    return text;
}

bool ExportIndex::write(const QByteArray& text, bool* changed, QString* error) const {
    *changed = text != old_ || !QFileInfo::exists(path_);
    if (!*changed)
        return true;
    QTemporaryFile partial(QDir(dir_).filePath(QStringLiteral(".index.csv.XXXXXX")));
    if (!partial.open() || partial.write(text) != text.size() || !partial.flush()) {
        *error = partial.errorString();
        return false;
    }
    partial.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                           QFileDevice::ReadGroup | QFileDevice::ReadOther);
    if (std::rename(QFile::encodeName(partial.fileName()).constData(),
                    QFile::encodeName(path_).constData()) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    partial.setAutoRemove(false);
    return true;
}

} // namespace krepiks::exporting
