#include "catalogue/server_schema.h"

namespace krepiks {

QStringList ServerSchemaStatements() {
    // Unquoted names, so that the server folds them as it folds the statements' own.
    // Names made of digits only are the ones the program generates: the server keeps them
    // distinct, whoever adds at the same moment. Other names may repeat, as in the file.
    return {
        QStringLiteral("create table Размеры (\n"
                       "  id serial primary key,\n"
                       "  isp varchar(150),\n"
                       "  d0 double precision, d1 double precision, d2 double precision,\n"
                       "  D double precision, R double precision, K double precision,\n"
                       "  L double precision, L2 double precision, L3 double precision,\n"
                       "  a double precision, b double precision, c double precision,\n"
                       "  S double precision, e double precision\n"
                       ")"),
        QStringLiteral("create unique index Размеры_generated_names on Размеры (isp) "
                       "where isp ~ '^[0-9]+$'"),
        QStringLiteral("create table swApp (\n"
                       "  id_swApp serial primary key,\n"
                       "  path_templete_detal varchar(250)\n"
                       ")"),
    };
}

QStringList CatalogueTables() {
    return {QStringLiteral("Размеры"), QStringLiteral("swApp")};
}

} // namespace krepiks
