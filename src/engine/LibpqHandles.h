#pragma once

#include "TeardownObserver.h"

#include <libpq-fe.h>
#include <memory>

// Owning handles for libpq objects: each is freed by its own libpq function, so
// no early return can leak a result or leave a connection open.
struct PGconnDeleter {
    void operator()(PGconn *conn) const {
        noteTeardown("PQfinish");
        PQfinish(conn);
    }
};
struct PGresultDeleter {
    void operator()(PGresult *result) const { PQclear(result); }
};
struct PGcancelDeleter {
    void operator()(PGcancel *cancel) const { PQfreeCancel(cancel); }
};

using PGconnPtr = std::unique_ptr<PGconn, PGconnDeleter>;
using PGresultPtr = std::unique_ptr<PGresult, PGresultDeleter>;
using PGcancelPtr = std::unique_ptr<PGcancel, PGcancelDeleter>;
