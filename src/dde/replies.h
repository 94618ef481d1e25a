#pragma once
// Building blocks of the item handlers: replies and poked data.

#include "dde/dde_tables.h"

#include <cstddef>
#include <string>

inline bool IsDataTransaction(UINT type) {
    return type == XTYP_REQUEST || type == XTYP_ADVREQ;
}

// What a handler answers to anything but data and pokes: TRUE to an advise start, else 0.
HDDEDATA AdviseStartOnly(const XferInfo* xfer);

// A new data handle for the transaction's item and format holding bytes.
HDDEDATA ReplyBytes(const XferInfo* xfer, const void* bytes, std::size_t size);
// The same, made at full size first and filled through DdeAccessData; 0 if access fails.
HDDEDATA FilledReply(const XferInfo* xfer, const std::string& bytes);

// Reads up to size bytes of a poke into a zero-filled buffer; returns the count read.
DWORD ReadPokedData(const XferInfo* xfer, char* buffer, std::size_t size);
