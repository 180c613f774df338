// The PostgreSQL client library, loaded when a database engine first connects to a
// server rather than when a program starts. Linking it directly would map it and the
// security libraries it needs (Kerberos, LDAP, TLS: some 3 MB) into every program of the
// suite, most of whose runs never meet a server.
//
// These definitions stand in for the few client functions the engine calls: each looks
// its real function up once and calls it. A system without the library gets a clear
// error when it first connects, and nothing else changes.

#include "framework/exceptions.h"

#include <libpq-fe.h>

#include <dlfcn.h>

#include <mutex>
#include <string>

namespace {

void* Library()
{
    static void* handle = nullptr;
    static std::string failure;
    static std::once_flag once;
    std::call_once(once, [] {
        handle = ::dlopen("libpq.so.5", RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = ::dlerror();
            failure = why ? why : "not found";
        }
    });
    if (!handle)
        throw Exception("The PostgreSQL client library (libpq.so.5) cannot be loaded: " + failure);
    return handle;
}

template <class F>
F Lookup(F, const char* name)
{
    void* symbol = ::dlsym(Library(), name);
    if (!symbol)
        throw Exception(std::string("The PostgreSQL client library has no function ") + name);
    return reinterpret_cast<F>(symbol);
}

} // namespace

// Each stand-in resolves its function on first use.
#define TABRIX_PQ_FORWARD(Ret, Name, Params, Args)                                                  \
    extern "C" Ret Name Params                                                                      \
    {                                                                                               \
        static const auto real = Lookup(static_cast<decltype(&::Name)>(nullptr), #Name);            \
        return real Args;                                                                           \
    }

TABRIX_PQ_FORWARD(PGconn*, PQconnectdbParams,
                  (const char* const* keywords, const char* const* values, int expand_dbname),
                  (keywords, values, expand_dbname))
TABRIX_PQ_FORWARD(void, PQfinish, (PGconn * conn), (conn))
TABRIX_PQ_FORWARD(ConnStatusType, PQstatus, (const PGconn* conn), (conn))
TABRIX_PQ_FORWARD(char*, PQerrorMessage, (const PGconn* conn), (conn))
TABRIX_PQ_FORWARD(int, PQsetClientEncoding, (PGconn * conn, const char* encoding), (conn, encoding))
TABRIX_PQ_FORWARD(PGresult*, PQexec, (PGconn * conn, const char* query), (conn, query))
TABRIX_PQ_FORWARD(PGresult*, PQexecParams,
                  (PGconn * conn, const char* command, int nParams, const Oid* paramTypes,
                   const char* const* paramValues, const int* paramLengths, const int* paramFormats, int resultFormat),
                  (conn, command, nParams, paramTypes, paramValues, paramLengths, paramFormats, resultFormat))
TABRIX_PQ_FORWARD(PGresult*, PQgetResult, (PGconn * conn), (conn))
TABRIX_PQ_FORWARD(int, PQputCopyData, (PGconn * conn, const char* buffer, int nbytes), (conn, buffer, nbytes))
TABRIX_PQ_FORWARD(int, PQputCopyEnd, (PGconn * conn, const char* errormsg), (conn, errormsg))
TABRIX_PQ_FORWARD(ExecStatusType, PQresultStatus, (const PGresult* res), (res))
TABRIX_PQ_FORWARD(int, PQntuples, (const PGresult* res), (res))
TABRIX_PQ_FORWARD(char*, PQgetvalue, (const PGresult* res, int tup_num, int field_num), (res, tup_num, field_num))
TABRIX_PQ_FORWARD(int, PQgetlength, (const PGresult* res, int tup_num, int field_num), (res, tup_num, field_num))
TABRIX_PQ_FORWARD(void, PQclear, (PGresult * res), (res))
TABRIX_PQ_FORWARD(PQconninfoOption*, PQconninfoParse, (const char* conninfo, char** errmsg), (conninfo, errmsg))
TABRIX_PQ_FORWARD(void, PQconninfoFree, (PQconninfoOption * connOptions), (connOptions))
TABRIX_PQ_FORWARD(void, PQfreemem, (void* ptr), (ptr))
