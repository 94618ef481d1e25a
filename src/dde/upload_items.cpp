// Items of the "Upload" topic: the file queue, the login data and the exit condition.
#include "dde/item_handlers.h"
#include "dde/login_data_tokens.h"
#include "dde/replies.h"
#include "queue/queue_snapshot.h"
#include "queue/upload_queue.h"
#include "settings/settings.h"
#include "util/bounded_text.h"

#include <cstddef>
#include <cstring>
#include <string>

namespace {

const HDDEDATA Acknowledged = reinterpret_cast<HDDEDATA>(DDE_FACK);

// The four login settings joined by tabs, the password in clear text; no terminator.
std::string LoginSettingsText() {
    std::string text = Settings.LoginUrl;
    for (const char* field : {Settings.UploadUrl, Settings.LoginName, Settings.Password}) {
        text += '\t';
        text += field;
    }
    return text;
}

HDDEDATA LoginSettingsReply(const XferInfo* xfer) {
    const std::string text = LoginSettingsText();
    return ReplyBytes(xfer, text.data(), text.size());
}

// Stages the tokens of a LoginData poke. A token longer than its field refuses the whole
// poke: a cut URL or credential would silently log in somewhere else or fail later.
bool StageLoginData(char* const tokens[], int count) {
    char* const fields[LoginDataTokenCount] = {StagedLoginData.LoginUrl, StagedLoginData.UploadUrl,
                                               StagedLoginData.LoginName, StagedLoginData.Password};
    const std::size_t sizes[LoginDataTokenCount] = {
        sizeof StagedLoginData.LoginUrl, sizeof StagedLoginData.UploadUrl,
        sizeof StagedLoginData.LoginName, sizeof StagedLoginData.Password};
    for (int i = 0; i < count; ++i) {
        if (!FitsIn(tokens[i], sizes[i]))
            return false;
    }
    for (int i = 0; i < count; ++i)
        CopyText(fields[i], sizes[i], tokens[i]);
    return true;
}

} // namespace

HDDEDATA UploadFilenameXfer(const XferInfo* xfer, WORD) {
    if (IsDataTransaction(xfer->type)) {
        QueueSnapshot snapshot(DdeQueueList);
        snapshot.Collect();
        char path[NameSize] = {};
        if (!snapshot.waiting.empty())
            ResolveNextFile(snapshot, 0, path, sizeof path);
        return ReplyBytes(xfer, path, std::strlen(path) + 1);
    }
    if (xfer->type != XTYP_POKE)
        return AdviseStartOnly(xfer);

    OutputDebugStringA("UploadFilenameXfer poke received.");
    char name[NameSize];
    if (ReadPokedData(xfer, name, sizeof name) == 0)
        return nullptr;
    name[sizeof name - 1] = '\0';
    // Refused before anything is read, sent or deleted: any program on the desktop can
    // poke, a name's file leaves for the album service and is then deleted, and a row
    // that can never be sent would be first in line at every run.
    if (!AcceptsFileName(name)) {
        OutputDebugStringA("UploadFilenameXfer: name refused, it names no file in temp.\n");
        return nullptr;
    }
    AddFile(DdeQueueList, name);
    return Acknowledged;
}

HDDEDATA LoginDataXfer(const XferInfo* xfer, WORD) {
    if (IsDataTransaction(xfer->type))
        return LoginSettingsReply(xfer);
    if (xfer->type != XTYP_POKE)
        return AdviseStartOnly(xfer);

    OutputDebugStringA("LoginDataXfer poke received.");
    char text[LongTextSize];
    if (ReadPokedData(xfer, text, sizeof text) == 0)
        return nullptr;
    text[sizeof text - 1] = '\0';
    char* tokens[LoginDataTokenCount] = {};
    const int count = SplitLoginData(text, tokens);
    if (!StageLoginData(tokens, count) || count < LoginDataTokenCount)
        return nullptr;
    LoginDataPending = 1;
    return Acknowledged;
}

HDDEDATA ExitConditionXfer(const XferInfo* xfer, WORD) {
    if (IsDataTransaction(xfer->type))
        return LoginSettingsReply(xfer);
    if (xfer->type != XTYP_POKE)
        return AdviseStartOnly(xfer);
    char ignored[256];
    if (ReadPokedData(xfer, ignored, sizeof ignored) == 0)
        return nullptr;
    return Acknowledged;
}
