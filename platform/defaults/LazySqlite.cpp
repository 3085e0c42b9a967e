// SPDX-License-Identifier: GPL-3.0-or-later
//
// The SQLite functions the settings store calls, defined here for the `tessaril` tool so that it does
// not link libsqlite3: each loads the library on its first call and forwards to it. Relocating
// libsqlite3 at start-up cost about 1.1 M instructions of every run, while a run with no settings file
// (cleaning links in a fresh home, `--version`) never opens a database
// (docs/decisions/lazy-libsqlite.md). Where the library cannot be loaded, opening a database fails
// with SQLITE_CANTOPEN, which the store already handles; nothing else is reached without a database.
//
// Linked with --as-needed, libsqlite3 then drops out of the program's dependencies; should the store
// call a function missing here, the link takes it from libsqlite3 again and nothing breaks.
#include "platform/lazy/LazyLibrary.h"

#include <sqlite3.h>
#include <cstdarg>

namespace {

void* library() {
    static void* const handle = tessaril::lazy::open("libsqlite3.so.0");
    return handle;
}

}  // namespace

extern "C" {

int sqlite3_open_v2(const char* filename, sqlite3** ppDb, int flags, const char* zVfs) {
    static auto* const real = tessaril::lazy::bind<decltype(sqlite3_open_v2)>(library(), "sqlite3_open_v2");
    if (real != nullptr) return real(filename, ppDb, flags, zVfs);
    if (ppDb != nullptr) *ppDb = nullptr;
    return SQLITE_CANTOPEN;
}

int sqlite3_close_v2(sqlite3* db) {
    TESSARIL_FORWARD(sqlite3_close_v2, SQLITE_OK, db);
}

int sqlite3_exec(sqlite3* db, const char* sql, int (*callback)(void*, int, char**, char**), void* argument,
                 char** errmsg) {
    TESSARIL_FORWARD(sqlite3_exec, SQLITE_ERROR, db, sql, callback, argument, errmsg);
}

int sqlite3_busy_timeout(sqlite3* db, int ms) {
    TESSARIL_FORWARD(sqlite3_busy_timeout, SQLITE_ERROR, db, ms);
}

int sqlite3_get_autocommit(sqlite3* db) {
    TESSARIL_FORWARD(sqlite3_get_autocommit, 1, db);
}

int sqlite3_errcode(sqlite3* db) {
    TESSARIL_FORWARD(sqlite3_errcode, SQLITE_CANTOPEN, db);
}

// The store sets only options that take an int and an int* (SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE); the
// variable arguments are forwarded as that pair.
int sqlite3_db_config(sqlite3* db, int op, ...) {
    static auto* const real = tessaril::lazy::bind<decltype(sqlite3_db_config)>(library(), "sqlite3_db_config");
    if (real == nullptr) return SQLITE_ERROR;
    va_list arguments;
    va_start(arguments, op);
    // The analyser loses va_start's effect when it checks several files in one run.
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    const int value = va_arg(arguments, int);
    int* const result = va_arg(arguments, int*);
    va_end(arguments);
    return real(db, op, value, result);
}

int sqlite3_prepare_v2(sqlite3* db, const char* zSql, int nByte, sqlite3_stmt** ppStmt, const char** pzTail) {
    static auto* const real = tessaril::lazy::bind<decltype(sqlite3_prepare_v2)>(library(), "sqlite3_prepare_v2");
    if (real != nullptr) return real(db, zSql, nByte, ppStmt, pzTail);
    if (ppStmt != nullptr) *ppStmt = nullptr;
    return SQLITE_ERROR;
}

int sqlite3_prepare_v3(sqlite3* db, const char* zSql, int nByte, unsigned int prepFlags, sqlite3_stmt** ppStmt,
                       const char** pzTail) {
    static auto* const real = tessaril::lazy::bind<decltype(sqlite3_prepare_v3)>(library(), "sqlite3_prepare_v3");
    if (real != nullptr) return real(db, zSql, nByte, prepFlags, ppStmt, pzTail);
    if (ppStmt != nullptr) *ppStmt = nullptr;
    return SQLITE_ERROR;
}

int sqlite3_step(sqlite3_stmt* statement) {
    TESSARIL_FORWARD(sqlite3_step, SQLITE_ERROR, statement);
}

int sqlite3_reset(sqlite3_stmt* statement) {
    TESSARIL_FORWARD(sqlite3_reset, SQLITE_OK, statement);
}

int sqlite3_finalize(sqlite3_stmt* statement) {
    TESSARIL_FORWARD(sqlite3_finalize, SQLITE_OK, statement);
}

int sqlite3_bind_int(sqlite3_stmt* statement, int index, int value) {
    TESSARIL_FORWARD(sqlite3_bind_int, SQLITE_ERROR, statement, index, value);
}

int sqlite3_bind_int64(sqlite3_stmt* statement, int index, sqlite3_int64 value) {
    TESSARIL_FORWARD(sqlite3_bind_int64, SQLITE_ERROR, statement, index, value);
}

int sqlite3_bind_double(sqlite3_stmt* statement, int index, double value) {
    TESSARIL_FORWARD(sqlite3_bind_double, SQLITE_ERROR, statement, index, value);
}

int sqlite3_bind_zeroblob(sqlite3_stmt* statement, int index, int n) {
    TESSARIL_FORWARD(sqlite3_bind_zeroblob, SQLITE_ERROR, statement, index, n);
}

int sqlite3_bind_text64(sqlite3_stmt* statement, int index, const char* text, sqlite3_uint64 length,
                        void (*destructor)(void*), unsigned char encoding) {
    TESSARIL_FORWARD(sqlite3_bind_text64, SQLITE_ERROR, statement, index, text, length, destructor, encoding);
}

int sqlite3_bind_blob64(sqlite3_stmt* statement, int index, const void* data, sqlite3_uint64 length,
                        void (*destructor)(void*)) {
    TESSARIL_FORWARD(sqlite3_bind_blob64, SQLITE_ERROR, statement, index, data, length, destructor);
}

int sqlite3_column_type(sqlite3_stmt* statement, int column) {
    TESSARIL_FORWARD(sqlite3_column_type, SQLITE_NULL, statement, column);
}

int sqlite3_column_int(sqlite3_stmt* statement, int column) {
    TESSARIL_FORWARD(sqlite3_column_int, 0, statement, column);
}

sqlite3_int64 sqlite3_column_int64(sqlite3_stmt* statement, int column) {
    TESSARIL_FORWARD(sqlite3_column_int64, 0, statement, column);
}

double sqlite3_column_double(sqlite3_stmt* statement, int column) {
    TESSARIL_FORWARD(sqlite3_column_double, 0.0, statement, column);
}

int sqlite3_column_bytes(sqlite3_stmt* statement, int column) {
    TESSARIL_FORWARD(sqlite3_column_bytes, 0, statement, column);
}

const unsigned char* sqlite3_column_text(sqlite3_stmt* statement, int column) {
    TESSARIL_FORWARD(sqlite3_column_text, nullptr, statement, column);
}

const void* sqlite3_column_blob(sqlite3_stmt* statement, int column) {
    TESSARIL_FORWARD(sqlite3_column_blob, nullptr, statement, column);
}

}  // extern "C"
