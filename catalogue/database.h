#pragma once
// The catalogue behind an ADO-shaped layer: one connection, queries with a static
// (snapshot) cursor, and append/edit/post of single rows. SQLite holds the data, or the
// office's PostgreSQL server where the user's client settings name one.
#include "catalogue/connection.h"
#include "catalogue/query.h"
#include "catalogue/sql_text.h"
#include "catalogue/sqlite_engine.h"
#include "catalogue/write_lock.h"
