#pragma once
// The bound on a whole command of the tool. The DDE calls it makes cannot be cut short from
// inside: a connection is a broadcast that waits for every top-level window on the desktop
// in turn (on Windows for as long as a window's thread does not answer, under Wine up to
// 2 s a window), and a paused or dying uploader holds a transaction until its time-out.
// So the bound is kept from a thread of its own, which ends the process when it runs out.

#include <windows.h>

// A wait's milliseconds for seconds given on the command line, short of INFINITE however
// long, none for a negative number.
DWORD Milliseconds(double seconds);

class CommandLimit {
  public:
    // Called on the limit's thread once the limit has run out, before the process ends:
    // it says why (the command's own verdict, a report).
    using Expiry = void (*)(void* context);

    // Starts the clock: after seconds the process ends with exitStatus, unless Finish came
    // first.
    CommandLimit(double seconds, int exitStatus, Expiry expiry, void* context);
    ~CommandLimit();
    CommandLimit(const CommandLimit&) = delete;
    CommandLimit& operator=(const CommandLimit&) = delete;

    // The command has ended within its limit, which no longer applies. Once the limit has
    // run out this never returns: the process is ending with the limit's verdict, and the
    // command's own must not follow it.
    void Finish();

  private:
    static DWORD WINAPI Watch(void* self);

    enum State : LONG { Running, Finished, Expired };
    volatile LONG state_ = Running;
    DWORD milliseconds_;
    int exitStatus_;
    Expiry expiry_;
    void* context_;
    HANDLE finished_ = nullptr;
    HANDLE thread_ = nullptr;
};
