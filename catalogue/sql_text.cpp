#include "catalogue/sql_text.h"

#include "platform/exception.h"

#include <QRegularExpression>

namespace krepiks {

namespace {

[[noreturn]] void fail(const QString& message) {
    throw EDatabaseError(message.toStdString());
}

} // namespace

QString StatementTableName(const QString& statement) {
    static const QRegularExpression from(QStringLiteral("\\bfrom\\s+([^\\s;]+)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const auto match = from.match(statement);
    if (!match.hasMatch())
        fail(QStringLiteral("Insufficient key column information for updating or refreshing."));
    return match.captured(1);
}

QString QuotedIdentifier(const QString& identifier) {
    QString escaped = identifier;
    escaped.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

QString UnquotedIdentifier(const QString& identifier) {
    if (identifier.size() >= 2 &&
        ((identifier.front() == QLatin1Char('"') && identifier.back() == QLatin1Char('"')) ||
         (identifier.front() == QLatin1Char('[') && identifier.back() == QLatin1Char(']')) ||
         (identifier.front() == QLatin1Char('`') && identifier.back() == QLatin1Char('`'))))
        return identifier.mid(1, identifier.size() - 2);
    return identifier;
}

} // namespace krepiks
