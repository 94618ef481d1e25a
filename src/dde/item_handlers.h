#pragma once
// The eight item handlers of the DDE service (some serve two items).

#include "dde/dde_tables.h"

HDDEDATA TopicListXfer(const XferInfo* xfer, WORD formatIndex);
HDDEDATA ItemListXfer(const XferInfo* xfer, WORD formatIndex);
HDDEDATA FormatListXfer(const XferInfo* xfer, WORD formatIndex);
HDDEDATA HelpTextXfer(const XferInfo* xfer, WORD formatIndex);
HDDEDATA UploadFilenameXfer(const XferInfo* xfer, WORD formatIndex);
HDDEDATA LoginDataXfer(const XferInfo* xfer, WORD formatIndex);
HDDEDATA ExitConditionXfer(const XferInfo* xfer, WORD formatIndex);

extern const char HelpText[];
