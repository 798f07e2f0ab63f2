#pragma once
// A small writer of Microsoft Jet 4.0 files for the tests: the header page, a page of usage
// maps, the system catalogue and each table's definition and data pages, enough for libmdb
// and mdbtools' own tools to read (Access itself would want its other system tables). No
// Debian package writes Jet 4.0, so the tests make their own files with this.
#include <QByteArray>
#include <QString>
#include <QVariant>
#include <optional>
#include <vector>

namespace krepiks::test {

struct JetFixtureColumn {
    QString name;
    int type = 7;       // Jet type code: 1 Boolean, 4 Long, 5 Currency, 7 Double, 8 Date/Time,
                        // 10 Text, 12 Memo
    int characters = 0; // for Text: the most characters
    bool autoNumber = false;
    bool variableLength = false; // a fixed type flagged variable-length, as Access may write it
};

// Values: qlonglong for the integer types and Boolean, double for Double and Date/Time (days),
// qlonglong ten-thousandths for Currency, QString for Text and Memo, null for NULL. A row
// with fewer values than its table has columns was written before the last ones were added.
struct JetFixtureTable {
    QString name;
    std::vector<JetFixtureColumn> columns;
    std::vector<std::vector<QVariant>> rows;
    // Rows, by index, left on the page marked deleted, as Access leaves them until the file
    // is compacted.
    std::vector<std::size_t> deleted = {};
    // The count of rows the definition stores, when it is not the live rows': Access lets it
    // go stale.
    std::optional<quint32> storedRows = {};
};

struct JetFixtureOptions {
    bool encrypted = false;
    QString password;
    // The catalogue of tables: the count of rows its definition stores, when not its live
    // rows'; and a row left of a table that was deleted.
    std::optional<quint32> catalogueStoredRows = {};
    bool deletedTableRow = false;
};

QByteArray WriteJet4(const std::vector<JetFixtureTable>& tables,
                     const JetFixtureOptions& options = {});

// The catalogue's two tables (Размеры with id, isp, the fourteen dimensions, and swApp), with
// the given variants (isp and fourteen doubles each) and template path.
JetFixtureTable JetVariantTable(const std::vector<std::vector<QVariant>>& rows);
JetFixtureTable JetTemplateTable(const QString& path);

} // namespace krepiks::test
