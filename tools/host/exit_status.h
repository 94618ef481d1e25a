#pragma once
// The host tool's exit statuses, one meaning each across its commands.

enum ExitStatus {
    AllDone = 0,
    FilesLeft = 1,
    UsageError = 2,
    ServiceMissing = 3,
    ConnectionRefused = 4,
    NotAcknowledged = 5,
    // A wait, or the limit on the whole command, ran out.
    TimedOut = 6,
    // A name given for temp already waits there: that photo was not copied or handed over.
    NameWaits = 7,
};
