#pragma once
// The DDEML callback of the service and the pieces it is made of.

#include "dde/dde_tables.h"

HDDEDATA CALLBACK DdeCallback(UINT type, UINT format, HCONV conversation, HSZ topic, HSZ item,
                              HDDEDATA data, ULONG_PTR value1, ULONG_PTR value2);

// Whether a client's conversation context is acceptable; null means none was given.
bool PassesContextTest(const CONVCONTEXT* context);

// Runs an item's handler: directly on the Windows 9x family, inside the client's
// impersonation elsewhere (no impersonation, no handler: the result is 0).
HDDEDATA CallItemHandler(const DdeItem& item, const XferInfo& xfer, WORD formatIndex);

// The callback's answer for a handler's result, by transaction class.
HDDEDATA MapHandlerResult(UINT type, HDDEDATA result);
