#include "catalogue/copy_check.h"

#include <cmath>

namespace krepiks::copying {

bool sameValue(const QVariant& a, const QVariant& b) {
    if (a.isNull() || b.isNull())
        return a.isNull() == b.isNull();
    const bool bytesA = a.typeId() == QMetaType::QByteArray;
    if (bytesA || b.typeId() == QMetaType::QByteArray)
        return bytesA == (b.typeId() == QMetaType::QByteArray) &&
               a.toByteArray() == b.toByteArray();
    const bool numberA = a.typeId() == QMetaType::Double || a.typeId() == QMetaType::LongLong;
    const bool numberB = b.typeId() == QMetaType::Double || b.typeId() == QMetaType::LongLong;
    if (numberA != numberB)
        return false;
    if (numberA) {
        const double x = a.toDouble(), y = b.toDouble();
        return x == y || (std::isnan(x) && std::isnan(y));
    }
    return a.toString() == b.toString();
}

QString compare(const Table& table, const Rows& written, const Rows& read) {
    if (written.size() != read.size())
        return QStringLiteral("таблица «%1»: записано строк: %2, прочитано при проверке: %3")
            .arg(table.name)
            .arg(written.size())
            .arg(read.size());
    for (std::size_t r = 0; r < written.size(); ++r)
        for (int i = 0; i < table.columns.size(); ++i)
            if (!sameValue(written[r][i], read[r][i]))
                return QStringLiteral("таблица «%1», строка %2, столбец %3: при проверке прочитано "
                                      "«%4», а не «%5»")
                    .arg(table.name, written[r][0].toString(), table.columns[i],
                         read[r][i].toString(), written[r][i].toString());
    return {};
}

QString summary(const std::vector<Rows>& copied) {
    QStringList parts;
    for (std::size_t t = 0; t < copied.size(); ++t)
        parts << QStringLiteral("«%1» (строк: %2)")
                     .arg(Tables()[t].name, QString::number(copied[t].size()));
    return parts.join(QStringLiteral(", "));
}

void writeChecked(const File& target, const std::vector<Rows>& rows) {
    target.exec(FileSchema);
    target.exec("begin");
    for (std::size_t t = 0; t < Tables().size(); ++t)
        copyIntoFile(target, Tables()[t], rows[t]);
    target.exec("commit");
    for (std::size_t t = 0; t < Tables().size(); ++t)
        if (const QString difference = compare(Tables()[t], rows[t], readFile(target, Tables()[t]));
            !difference.isEmpty())
            fail(difference + QStringLiteral("; ничего не записано"));
}

} // namespace krepiks::copying
