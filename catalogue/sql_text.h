#pragma once
// The texts of statements: the table a statement reads, and identifiers quoted and unquoted.
#include <QString>

namespace krepiks {

// The table a "select * from <table> ..." statement reads, as written there; throws when the
// statement names none (the row then cannot be written back).
QString StatementTableName(const QString& statement);

// An identifier quoted for a statement of ours.
QString QuotedIdentifier(const QString& identifier);
// An identifier without the double quotes, brackets or backquotes around it.
QString UnquotedIdentifier(const QString& identifier);

} // namespace krepiks
