#include "catalogue_rows.h"

#include "person.h"

#include <QFile>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>

namespace krepiks::test {

namespace {

struct Handle {
    sqlite3* db = nullptr;
    explicit Handle(const QString& file) {
        if (sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
            SQLITE_OK) {
            sqlite3_close(db);
            db = nullptr;
        }
    }
    ~Handle() { sqlite3_close(db); }
};

} // namespace

std::multimap<double, std::vector<double>> RowsByD0(const QString& file) {
    std::multimap<double, std::vector<double>> rows;
    Handle h(file);
    sqlite3_stmt* s = nullptr;
    if (!h.db || sqlite3_prepare_v2(h.db,
                                    "select d0, d1, d2, D, R, K, L, L2, L3, a, b, c, S, e "
                                    "from \"Размеры\"",
                                    -1, &s, nullptr) != SQLITE_OK)
        return rows;
    while (sqlite3_step(s) == SQLITE_ROW) {
        std::vector<double> values;
        for (int i = 0; i < 14; ++i)
            values.push_back(sqlite3_column_double(s, i));
        rows.emplace(values[0], std::move(values));
    }
    sqlite3_finalize(s);
    return rows;
}

std::multimap<double, std::vector<double>> ServerRowsByD0(const QString& conninfo) {
    std::multimap<double, std::vector<double>> rows;
    PGconn* connection = PQconnectdb(conninfo.toUtf8().constData());
    // float8 comes back as text with every digit it holds; extra_float_digits makes sure.
    PQclear(PQexec(connection, "set extra_float_digits = 3"));
    PGresult* result = PQexec(connection, "select d0, d1, d2, D, R, K, L, L2, L3, a, b, c, S, e "
                                          "from Размеры");
    if (PQresultStatus(result) == PGRES_TUPLES_OK)
        for (int r = 0; r < PQntuples(result); ++r) {
            std::vector<double> values;
            for (int i = 0; i < 14; ++i)
                values.push_back(std::strtod(PQgetvalue(result, r, i), nullptr));
            rows.emplace(values[0], std::move(values));
        }
    else
        ADD_FAILURE() << PQerrorMessage(connection);
    PQclear(result);
    PQfinish(connection);
    return rows;
}

void ExpectStoredVariant(const std::multimap<double, std::vector<double>>& rows, int key) {
    const VariantValues v = VariantValues::ForKey(key);
    ASSERT_EQ(rows.count(v.d0), 1u) << "key " << key;
    const std::vector<double> expected = {v.d0,    v.d1,     v.d2, 0.95 * v.S, 1,  7,   v.L,
                                          v.L / 2, v.L / 10, 30,   45,         45, v.S, 20};
    EXPECT_EQ(rows.find(v.d0)->second, expected) << "key " << key;
}

QString IntegrityCheck(const QString& file) {
    Handle h(file);
    sqlite3_stmt* s = nullptr;
    if (!h.db || sqlite3_prepare_v2(h.db, "pragma integrity_check", -1, &s, nullptr) != SQLITE_OK)
        return {};
    QString result;
    while (sqlite3_step(s) == SQLITE_ROW)
        result += QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
    sqlite3_finalize(s);
    return result;
}

std::optional<QByteArray> FileBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.readAll();
}

} // namespace krepiks::test
