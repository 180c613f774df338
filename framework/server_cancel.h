#pragma once
// Cancelling what a PostgreSQL server runs for this process, from an interruption.
//
// A run that waits for the server (a table or schema another session has locked) sees an
// interruption only when the server answers, and a lock can be held for hours. While a
// TServerCancel exists for a connection, a signal (InstallInterruptHandler, or a program's
// own handler through RunInterruptAction) sends the server a cancel request for the
// statement that connection runs; the statement then fails with the server's "canceling
// statement due to user request", and the run winds down the way any failure does
// (a transaction rolled back, nothing written).
//
// libpq's PQcancel is async-signal-safe; its cancel object is made here, outside the
// handler, and freed when the TServerCancel goes. libpq is used only when the process
// has already loaded it (a connection exists): the framework does not load it. Up to
// four connections are served at once (a source and a target, with room to spare);
// a fifth is not cancelled by a signal.

class TServerCancel {
public:
    // For Conn, libpq's PGconn* of an open connection, from whichever library opened it.
    explicit TServerCancel(void* Conn);
    ~TServerCancel();
    TServerCancel(const TServerCancel&) = delete;
    TServerCancel& operator=(const TServerCancel&) = delete;

private:
    int FSlot = -1;
};
