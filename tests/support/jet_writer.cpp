#include "support/jet_writer.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace krepiks::test {

namespace {

constexpr int PageSize = 4096;

void put16(QByteArray& b, int at, uint32_t v) {
    b[at] = char(v & 0xff);
    b[at + 1] = char((v >> 8) & 0xff);
}
void put32(QByteArray& b, int at, uint32_t v) {
    put16(b, at, v & 0xffff);
    put16(b, at + 2, v >> 16);
}
void append16(QByteArray& b, uint32_t v) {
    b.append(char(v & 0xff));
    b.append(char((v >> 8) & 0xff));
}
void append32(QByteArray& b, uint32_t v) {
    append16(b, v & 0xffff);
    append16(b, v >> 16);
}
QByteArray utf16(const QString& text) {
    return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

void rc4(const std::array<uint8_t, 4>& key, char* data, int length) {
    std::array<uint8_t, 256> s{};
    for (int i = 0; i < 256; ++i)
        s[i] = uint8_t(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % 4]) & 0xff;
        std::swap(s[i], s[j]);
    }
    for (int n = 0, i = 0, j = 0; n < length; ++n) {
        i = (i + 1) & 0xff;
        j = (j + s[i]) & 0xff;
        std::swap(s[i], s[j]);
        data[n] = char(uint8_t(data[n]) ^ s[(s[i] + s[j]) & 0xff]);
    }
}

int fixedSize(int type) {
    switch (type) {
    case 1:
        return 0; // a Boolean is its null-mask bit
    case 2:
        return 1;
    case 3:
        return 2;
    case 4:
    case 6:
        return 4;
    case 5:
    case 7:
    case 8:
        return 8;
    default:
        return -1;
    }
}

struct Layout {
    const JetFixtureColumn* column;
    bool fixed;
    int fixedOffset;
    int varNumber;
    int size;
};

class Writer {
public:
    QByteArray page(int number) const { return pages_[number]; }
    int newPage() {
        pages_.push_back(QByteArray(PageSize, '\0'));
        return static_cast<int>(pages_.size()) - 1;
    }
    QByteArray& at(int number) { return pages_[number]; }
    QByteArray file() const {
        QByteArray all;
        for (const QByteArray& p : pages_)
            all.append(p);
        return all;
    }

    // A data page of owner holding rows, last placed lowest; those deleted keep their place,
    // flagged as Access flags them.
    void dataPage(int number, int owner, const std::vector<QByteArray>& rows,
                  const std::vector<bool>& deleted = {}) {
        QByteArray& p = at(number);
        p[0] = 1;
        p[1] = 1;
        put32(p, 4, uint32_t(owner));
        put16(p, 12, uint32_t(rows.size()));
        int end = PageSize;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            end -= int(rows[i].size());
            std::memcpy(p.data() + end, rows[i].constData(), size_t(rows[i].size()));
            const bool gone = i < deleted.size() && deleted[i];
            put16(p, 14 + 2 * int(i), uint32_t(end) | (gone ? 0xC000u : 0u));
        }
        put16(p, 2, uint32_t(end - 14 - 2 * int(rows.size())));
    }

private:
    std::vector<QByteArray> pages_;
};

std::vector<Layout> layoutOf(const std::vector<JetFixtureColumn>& columns) {
    std::vector<Layout> layout;
    int fixedOffset = 0, varNumber = 0;
    for (const JetFixtureColumn& c : columns) {
        const int size = fixedSize(c.type);
        Layout l{&c, size >= 0 && !c.variableLength, 0, 0, 0};
        if (l.fixed) {
            l.fixedOffset = fixedOffset;
            l.size = size;
            fixedOffset += size;
        } else {
            l.varNumber = varNumber++;
            l.size = c.type == 10 ? 2 * c.characters : size > 0 ? size : 0;
        }
        layout.push_back(l);
    }
    return layout;
}

QByteArray fixedBytes(int type, const QVariant& value) {
    QByteArray b;
    switch (type) {
    case 2:
        b.append(char(value.toLongLong()));
        break;
    case 3:
        append16(b, uint32_t(value.toLongLong()));
        break;
    case 4:
        append32(b, uint32_t(value.toLongLong()));
        break;
    case 5: {
        const int64_t count = value.toLongLong();
        b = QByteArray(reinterpret_cast<const char*>(&count), 8);
        break;
    }
    case 6: {
        const float f = value.toFloat();
        b = QByteArray(reinterpret_cast<const char*>(&f), 4);
        break;
    }
    case 7:
    case 8: {
        const double d = value.toDouble();
        b = QByteArray(reinterpret_cast<const char*>(&d), 8);
        break;
    }
    default:
        break;
    }
    return b;
}

} // namespace

QByteArray WriteJet4(const std::vector<JetFixtureTable>& tables, const JetFixtureOptions& options) {
    Writer w;
    const int header = w.newPage();
    const int maps = w.newPage();
    const int catalogueDefinition = w.newPage();
    const int catalogueData = w.newPage();
    std::vector<QByteArray> mapRows;

    // A memo that does not fit its row goes to pages of its own, chained.
    const auto memoBytes = [&](const QString& text) {
        const QByteArray data = utf16(text);
        QByteArray head;
        if (data.size() < 1000) {
            append32(head, uint32_t(data.size()) | 0x80000000u);
            append32(head, 0);
            append32(head, 0);
            return head + data;
        }
        constexpr int chunk = PageSize - 14 - 2 - 4 - 16;
        std::vector<int> chain;
        for (qsizetype at = 0; at < data.size(); at += chunk)
            chain.push_back(w.newPage());
        for (std::size_t i = 0; i < chain.size(); ++i) {
            QByteArray row;
            append32(row, i + 1 < chain.size() ? uint32_t(chain[i + 1]) << 8 : 0);
            row.append(data.mid(qsizetype(i) * chunk, chunk));
            w.dataPage(chain[i], 0, {row});
        }
        append32(head, uint32_t(data.size()));
        append32(head, uint32_t(chain[0]) << 8);
        append32(head, 0);
        return head;
    };

    const auto rowOf = [&](const std::vector<Layout>& layout, const std::vector<QVariant>& values) {
        // A short row has only the columns it was written with.
        const int n = int(std::min(layout.size(), values.size()));
        QByteArray fixed, var;
        std::vector<int> offsets;
        QByteArray mask((n + 7) / 8, '\0');
        int fixedLength = 0;
        for (int i = 0; i < n; ++i)
            if (layout[size_t(i)].fixed)
                fixedLength =
                    std::max(fixedLength, layout[size_t(i)].fixedOffset + layout[size_t(i)].size);
        fixed = QByteArray(fixedLength, '\0');
        for (int i = 0; i < n; ++i) {
            const Layout& l = layout[size_t(i)];
            const QVariant& v = values[size_t(i)];
            const bool present = l.column->type == 1 ? v.toBool() : !v.isNull();
            if (present)
                mask[i / 8] = char(mask[i / 8] | (1 << (i % 8)));
            if (l.fixed) {
                if (!v.isNull() && l.size > 0)
                    fixed.replace(l.fixedOffset, l.size, fixedBytes(l.column->type, v));
                continue;
            }
            offsets.push_back(2 + fixedLength + int(var.size()));
            if (v.isNull())
                continue;
            if (l.column->type == 10)
                var.append(utf16(v.toString()));
            else if (l.column->type == 12)
                var.append(memoBytes(v.toString()));
            else
                var.append(fixedBytes(l.column->type, v));
        }
        QByteArray row;
        append16(row, uint32_t(n));
        row.append(fixed);
        row.append(var);
        append16(row, uint32_t(2 + fixedLength + var.size()));
        for (auto o = offsets.rbegin(); o != offsets.rend(); ++o)
            append16(row, uint32_t(*o));
        append16(row, uint32_t(offsets.size()));
        row.append(mask);
        return row;
    };

    const auto definition = [&](int number, const JetFixtureTable& t, bool system, int rows,
                                int mapRow) {
        QByteArray& p = w.at(number);
        const std::vector<Layout> layout = layoutOf(t.columns);
        p[0] = 2;
        p[1] = 1;
        put32(p, 16, uint32_t(rows));
        put32(p, 20, uint32_t(rows + 1));
        p[40] = char(system ? 0x53 : 0x4E);
        int vars = 0;
        for (const Layout& l : layout)
            vars += l.fixed ? 0 : 1;
        put16(p, 41, uint32_t(layout.size()));
        put16(p, 43, uint32_t(vars));
        put16(p, 45, uint32_t(layout.size()));
        put32(p, 55, uint32_t(maps) << 8 | uint32_t(mapRow));
        put32(p, 59, uint32_t(maps) << 8 | uint32_t(mapRow + 1));
        int at = 63;
        for (std::size_t i = 0; i < layout.size(); ++i, at += 25) {
            const Layout& l = layout[i];
            p[at] = char(l.column->type);
            put16(p, at + 5, uint32_t(i));
            put16(p, at + 7, uint32_t(l.varNumber));
            put16(p, at + 9, uint32_t(i));
            if (l.column->type == 10 || l.column->type == 12)
                put16(p, at + 11, 0x0419);
            p[at + 15] = char((l.fixed ? 0x01 : 0) | 0x02 | (l.column->autoNumber ? 0x04 : 0));
            put16(p, at + 21, uint32_t(l.fixedOffset));
            put16(p, at + 23, uint32_t(l.size));
        }
        for (const JetFixtureColumn& c : t.columns) {
            const QByteArray name = utf16(c.name);
            put16(p, at, uint32_t(name.size()));
            std::memcpy(p.data() + at + 2, name.constData(), size_t(name.size()));
            at += 2 + int(name.size());
        }
        put32(p, 8, uint32_t(at - 8));
        put16(p, 2, uint32_t(PageSize - at));
    };

    // A map of the pages a table's data lies on, and an empty one of its free pages.
    const auto mapsFor = [&](const std::vector<int>& dataPages) {
        QByteArray used(1 + 4 + 32, '\0');
        for (int page : dataPages)
            used[5 + page / 8] = char(used[5 + page / 8] | (1 << (page % 8)));
        mapRows.push_back(used);
        mapRows.push_back(QByteArray(1 + 4 + 32, '\0'));
        return int(mapRows.size()) - 2;
    };

    std::vector<int> definitions;
    for (const JetFixtureTable& t : tables) {
        const int def = w.newPage();
        definitions.push_back(def);
        const std::vector<Layout> layout = layoutOf(t.columns);
        std::vector<int> dataPages;
        std::vector<QByteArray> pending;
        std::vector<bool> pendingDeleted;
        int used = 14;
        const auto flush = [&] {
            const int page = w.newPage();
            w.dataPage(page, def, pending, pendingDeleted);
            dataPages.push_back(page);
            pending.clear();
            pendingDeleted.clear();
            used = 14;
        };
        for (std::size_t r = 0; r < t.rows.size(); ++r) {
            const QByteArray row = rowOf(layout, t.rows[r]);
            if (used + row.size() + 2 > PageSize && !pending.empty())
                flush();
            if (14 + row.size() + 2 > PageSize)
                throw std::runtime_error("a test row larger than a page");
            pending.push_back(row);
            pendingDeleted.push_back(std::find(t.deleted.begin(), t.deleted.end(), r) !=
                                     t.deleted.end());
            used += int(row.size()) + 2;
        }
        if (!pending.empty() || dataPages.empty())
            flush();
        const int live = int(t.rows.size() - t.deleted.size());
        definition(def, t, false, int(t.storedRows.value_or(quint32(live))), mapsFor(dataPages));
    }
    if (w.file().size() / PageSize > 32 * 8)
        throw std::runtime_error("a test file larger than its usage maps");

    const JetFixtureTable catalogue{QStringLiteral("MSysObjects"),
                                    {{QStringLiteral("Id"), 4},
                                     {QStringLiteral("Name"), 10, 128},
                                     {QStringLiteral("Type"), 3},
                                     {QStringLiteral("Flags"), 4},
                                     {QStringLiteral("LvProp"), 11}},
                                    {}};
    std::vector<QByteArray> catalogueRows;
    const auto catalogueLayout = layoutOf(catalogue.columns);
    catalogueRows.push_back(
        rowOf(catalogueLayout, {qlonglong(catalogueDefinition), QStringLiteral("MSysObjects"),
                                qlonglong(1), qlonglong(0x80000002u), QVariant()}));
    for (std::size_t i = 0; i < tables.size(); ++i)
        catalogueRows.push_back(rowOf(catalogueLayout, {qlonglong(definitions[i]), tables[i].name,
                                                        qlonglong(1), qlonglong(0), QVariant()}));
    std::vector<bool> catalogueDeleted(catalogueRows.size(), false);
    if (options.deletedTableRow) {
        // Its definition's page long given to another.
        catalogueRows.push_back(rowOf(catalogueLayout, {qlonglong(header), QStringLiteral("Старая"),
                                                        qlonglong(1), qlonglong(0), QVariant()}));
        catalogueDeleted.push_back(true);
    }
    w.dataPage(catalogueData, catalogueDefinition, catalogueRows, catalogueDeleted);
    const int liveCatalogueRows = int(1 + tables.size());
    definition(catalogueDefinition, catalogue, true,
               int(options.catalogueStoredRows.value_or(quint32(liveCatalogueRows))),
               mapsFor({catalogueData}));
    w.dataPage(maps, catalogueDefinition, mapRows);

    QByteArray& h = w.at(header);
    h[1] = 1;
    std::memcpy(h.data() + 4, "Standard Jet DB", 16);
    h[0x14] = 1;
    put16(h, 0x3C, 1251);
    put16(h, 0x6E, 0x0419);
    if (options.encrypted)
        put32(h, 0x3E, 0x5A17C0DE);
    const QByteArray password = utf16(options.password.left(20));
    std::memcpy(h.data() + 0x42, password.constData(), size_t(password.size()));
    rc4({0xC7, 0xDA, 0x39, 0x6B}, h.data() + 0x18, 128);
    return w.file();
}

JetFixtureTable JetVariantTable(const std::vector<std::vector<QVariant>>& rows) {
    JetFixtureTable table{QStringLiteral("Размеры"),
                          {{QStringLiteral("id"), 4, 0, true}, {QStringLiteral("isp"), 10, 150}},
                          {}};
    for (const char* name :
         {"d0", "d1", "d2", "D", "R", "K", "L", "L2", "L3", "a", "b", "c", "S", "e"})
        table.columns.push_back({QString::fromLatin1(name), 7});
    qlonglong id = 0;
    for (const auto& values : rows) {
        std::vector<QVariant> row{++id};
        row.insert(row.end(), values.begin(), values.end());
        table.rows.push_back(row);
    }
    return table;
}

JetFixtureTable JetTemplateTable(const QString& path) {
    return {QStringLiteral("swApp"),
            {{QStringLiteral("id_swApp"), 4, 0, true},
             {QStringLiteral("path_templete_detal"), 10, 250}},
            {{qlonglong(1), path}}};
}

} // namespace krepiks::test
