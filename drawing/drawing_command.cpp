#include "drawing/drawing_command.h"

#include "catalogue/variant_lookup.h"
#include "drawing/bolt_drawing.h"
#include "drawing/sheet_file.h"
#include "drawing/signature.h"

#include <QFile>
#include <QFileInfo>
#include <cstdio>

namespace krepiks::drawing {

namespace {

int fail(const QString& message, int code = 1) {
    std::fprintf(stderr, "krepiks-catalogue: %s\n", message.toUtf8().constData());
    return code;
}

// The record as the design window hands it over: "name=value" lines, numbers with a point.
bool readRecord(TBolt& bolt, QString* error) {
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly)) {
        *error = QStringLiteral("нет записи исполнения на стандартном входе");
        return false;
    }
    const struct {
        const char* name;
        double TBolt::*field;
    } fields[] = {{"d0", &TBolt::d0}, {"d1", &TBolt::d1}, {"d2", &TBolt::d2}, {"D", &TBolt::D},
                  {"R", &TBolt::R},   {"K", &TBolt::K},   {"L", &TBolt::L},   {"L2", &TBolt::L2},
                  {"L3", &TBolt::L3}, {"a", &TBolt::a},   {"b", &TBolt::b},   {"c", &TBolt::c},
                  {"S", &TBolt::S},   {"e", &TBolt::e}};
    int numbers = 0;
    for (const QByteArray& line : input.readAll().split('\n')) {
        const int equals = line.indexOf('=');
        if (equals < 0)
            continue;
        const QByteArray key = line.left(equals);
        const QByteArray value = line.mid(equals + 1);
        if (key == "isp")
            bolt.isp = value.toStdString();
        else if (key == "template")
            bolt.TemplatePath = value.toStdString();
        else
            for (const auto& field : fields)
                if (key == field.name) {
                    bool ok = false;
                    bolt.*field.field = value.toDouble(&ok);
                    if (!ok) {
                        *error = QStringLiteral("размер %1 записи не число: %2")
                                     .arg(QString::fromLatin1(key), QString::fromUtf8(value));
                        return false;
                    }
                    ++numbers;
                }
    }
    if (numbers != 14) {
        *error = QStringLiteral("в записи исполнения не все четырнадцать размеров");
        return false;
    }
    return true;
}

} // namespace

int RunDrawingCommand(const QStringList& arguments) {
    QStringList positional;
    DrawingRequest request;
    bool fromRecord = false;
    QString author;
    bool authorGiven = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == QLatin1String("--record") && hasValue && arguments[i + 1] == "-") {
            fromRecord = true;
            ++i;
        } else if (argument == QLatin1String("--material") && hasValue) {
            request.material = arguments[++i].toStdString();
        } else if (argument == QLatin1String("--designation") && hasValue) {
            request.designation = arguments[++i].toStdString();
        } else if (argument == QLatin1String("--author") && hasValue) {
            author = arguments[++i];
            authorGiven = true;
        } else if (argument == QLatin1String("--density") && hasValue) {
            bool ok = false;
            request.density =
                QString(arguments[++i]).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
            if (!ok || !(request.density > 0))
                return fail(QStringLiteral("плотность должна быть положительным числом, г/см³: %1")
                                .arg(arguments[i]),
                            2);
        } else if (argument.startsWith(QLatin1String("--"))) {
            return fail(QStringLiteral("неизвестный параметр %1").arg(argument), 2);
        } else {
            positional << argument;
        }
    }
    if (positional.size() != (fromRecord ? 1 : 2))
        return fail(QStringLiteral("использование:\n") + QString::fromLatin1(DrawingUsage), 2);
    const QString file = QFileInfo(positional.last()).absoluteFilePath();
    // Refused before anything is built: nothing would be written anyway.
    if (!KnownDrawingFormat(file))
        return fail(QStringLiteral("%1: чертёж записывается только в .pdf, .svg или .dxf; "
                                   "ничего не записано")
                        .arg(file));
    if (QFileInfo::exists(file))
        return fail(QStringLiteral("%1 уже существует; ничего не записано").arg(file));

    if (fromRecord) {
        QString error;
        if (!readRecord(request.bolt, &error))
            return fail(error);
    } else {
        const QString isp = positional.first();
        const VariantLookup lookup = LookUpVariant(isp);
        if (!lookup.error.isEmpty())
            return fail(lookup.error);
        if (!lookup.found)
            return fail(
                QStringLiteral("нет исполнения «%1» в каталоге; ничего не записано").arg(isp));
        request.bolt = lookup.bolt;
    }
    request.author = (authorGiven ? author : AccountName()).toStdString();
    request.date = Today().toStdString();

    const BoltDrawing drawing = MakeBoltDrawing(request);
    if (!drawing.error.empty())
        return fail(QStringLiteral("чертёж исполнения «%1» не сделан: %2")
                        .arg(QString::fromStdString(request.bolt.isp),
                             QString::fromStdString(drawing.error)));
    const QString designation = QString::fromStdString(
        request.designation.empty() ? request.bolt.isp : request.designation);
    if (const QString error =
            WriteSheetFile(drawing.sheet, file, QStringLiteral("Болт ") + designation);
        !error.isEmpty())
        return fail(error);
    std::printf(
        "krepiks-catalogue: чертёж исполнения «%s» записан в %s: %s, масштаб %s, масса %s кг\n",
        request.bolt.isp.c_str(), file.toUtf8().constData(), drawing.sheet.format.c_str(),
        drawing.scale.text.c_str(), MassNumber(drawing.mass).c_str());
    return 0;
}

} // namespace krepiks::drawing
