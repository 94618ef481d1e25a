/* handover.c: hands photos over to the Vistora uploader, the whole way a host does it.
 *
 *   handover UPLOADER_EXE PHOTO...
 *
 * Starts the uploader with the number of photos, waits for its DDE service, copies the
 * photos into its "temp" folder, pokes their names on one conversation on topic Upload,
 * executes "upload" on topic System, waits for the uploader to end and reports which
 * photos left "temp" (see HOST-PROTOCOL.md). Exit codes: 0 every photo delivered,
 * 1 photos left in "temp", 2 usage, 3 the uploader did not start or already runs,
 * 4 a photo could not be copied, or the uploader did not take a name or the command. */
#include <windows.h>
#include <ddeml.h>
#include <stdio.h>
#include <string.h>

static const char Service[] = "VistoraUploadServer";
static const char Mutex[] = "tavik-vistora-upload-program";
static const DWORD StartWait = 30000; /* for the service to answer after the start */
static const DWORD RetryPause = 200;  /* between two attempts to connect */
static const DWORD ReplyWait = 10000; /* for the answer to one transaction */
static const DWORD EndWait = 600000;  /* for the uploader to upload and end */

static DWORD instance;

/* A client only: nothing to answer. */
static HDDEDATA CALLBACK Callback(UINT type, UINT format, HCONV conversation, HSZ topic, HSZ item,
                                  HDDEDATA data, ULONG_PTR value1, ULONG_PTR value2) {
    (void)type, (void)format, (void)conversation, (void)topic, (void)item, (void)data;
    (void)value1, (void)value2;
    return NULL;
}

/* A conversation with the context the uploader's service expects, or NULL. */
static HCONV Connect(const char* topic) {
    CONVCONTEXT context;
    HSZ service = DdeCreateStringHandleA(instance, Service, CP_WINANSI);
    HSZ topicName = DdeCreateStringHandleA(instance, topic, CP_WINANSI);
    HCONV conversation;

    ZeroMemory(&context, sizeof context);
    context.cb = sizeof context;
    context.iCodePage = CP_WINANSI;
    context.qos.Length = sizeof context.qos;
    context.qos.ImpersonationLevel = SecurityImpersonation;
    context.qos.ContextTrackingMode = SECURITY_STATIC_TRACKING;
    context.qos.EffectiveOnly = TRUE;
    conversation = DdeConnect(instance, service, topicName, &context);
    DdeFreeStringHandle(instance, topicName);
    DdeFreeStringHandle(instance, service);
    return conversation;
}

/* A poke (item given) or an execute (item NULL) of text with its zero; the uploader took
 * it when its answer carries DDE_FACK. */
static int Send(HCONV conversation, const char* item, const char* text) {
    HSZ itemName = item != NULL ? DdeCreateStringHandleA(instance, item, CP_WINANSI) : NULL;
    DWORD status = 0;
    int taken =
        DdeClientTransaction((LPBYTE)text, (DWORD)strlen(text) + 1, conversation, itemName,
                             item != NULL ? CF_TEXT : 0, item != NULL ? XTYP_POKE : XTYP_EXECUTE,
                             ReplyWait, &status) != 0 &&
        (status & DDE_FACK) != 0;
    if (itemName != NULL)
        DdeFreeStringHandle(instance, itemName);
    return taken;
}

/* The name part of a path. CharNextA steps over double-byte characters, whose second
 * byte can be a backslash (0x5C, as in 表). */
static const char* NameOf(const char* path) {
    const char* name = path;
    const char* p;
    for (p = path; *p != '\0'; p = CharNextA(p)) {
        if (*p == '\\' || *p == '/')
            name = p + 1;
    }
    return name;
}

/* The path of a photo's copy in "temp"; 0 when it does not fit. */
static int TempPath(char* path, size_t size, const char* folder, const char* photo) {
    int length = snprintf(path, size, "%stemp\\%s", folder, NameOf(photo));
    return length > 0 && (size_t)length < size;
}

static int HandOver(int count, char** photos, const char* folder) {
    char target[MAX_PATH];
    HCONV conversation = NULL;
    DWORD waited;
    int i, ok = 1;

    /* Wait for the service: it answers once the uploader's window is up. */
    for (waited = 0; conversation == NULL && waited < StartWait; waited += RetryPause) {
        conversation = Connect("Upload");
        if (conversation == NULL)
            Sleep(RetryPause);
    }
    if (conversation == NULL) {
        fprintf(stderr, "the uploader's service did not answer\n");
        return 3;
    }
    /* Copy the photos into temp, then poke each name, relative to temp. */
    for (i = 0; i < count && ok; ++i) {
        ok = TempPath(target, sizeof target, folder, photos[i]) &&
             CopyFileA(photos[i], target, FALSE);
        if (!ok)
            fprintf(stderr, "cannot copy %s into temp\n", photos[i]);
    }
    for (i = 0; i < count && ok; ++i) {
        ok = Send(conversation, "Filename", NameOf(photos[i]));
        if (!ok)
            fprintf(stderr, "the uploader did not take the name %s\n", NameOf(photos[i]));
    }
    DdeDisconnect(conversation);
    /* The command "upload", on topic System only. */
    if (ok) {
        conversation = Connect("System");
        ok = conversation != NULL && Send(conversation, NULL, "upload");
        if (conversation != NULL)
            DdeDisconnect(conversation);
        if (!ok)
            fprintf(stderr, "the uploader did not take the command\n");
    }
    return ok ? 0 : 4;
}

int main(int argc, char** argv) {
    char folder[MAX_PATH], commandLine[MAX_PATH + 16], target[MAX_PATH];
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    HANDLE running;
    int i, code, left = 0, count = argc - 2;

    if (argc < 3 || strlen(argv[1]) >= sizeof folder ||
        DdeInitializeA(&instance, Callback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) {
        fprintf(stderr, "usage: handover UPLOADER_EXE PHOTO...\n");
        return 2;
    }
    /* Only one copy runs at a time; this example hands over to a copy of its own. */
    running = OpenMutexA(SYNCHRONIZE, FALSE, Mutex);
    if (running != NULL) {
        CloseHandle(running);
        DdeUninitialize(instance);
        fprintf(stderr, "the uploader already runs\n");
        return 3;
    }
    /* Start "VistoraUploader.exe N" in its own folder. */
    lstrcpynA(folder, argv[1], sizeof folder);
    folder[NameOf(folder) - folder] = '\0';
    snprintf(commandLine, sizeof commandLine, "\"%s\" %d", argv[1], count);
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessA(argv[1], commandLine, NULL, NULL, FALSE, 0, NULL,
                        folder[0] != '\0' ? folder : NULL, &startup, &process)) {
        DdeUninitialize(instance);
        fprintf(stderr, "cannot start %s\n", argv[1]);
        return 3;
    }
    CloseHandle(process.hThread);

    code = HandOver(count, argv + 2, folder);
    DdeUninitialize(instance);
    /* After N uploads the uploader saves its settings and ends by itself. */
    if (code == 0 && WaitForSingleObject(process.hProcess, EndWait) != WAIT_OBJECT_0)
        fprintf(stderr, "the uploader did not end in time\n");
    CloseHandle(process.hProcess);
    if (code != 0)
        return code;
    /* A photo still in temp was not delivered. */
    for (i = 2; i < argc; ++i) {
        int present = TempPath(target, sizeof target, folder, argv[i]) &&
                      GetFileAttributesA(target) != INVALID_FILE_ATTRIBUTES;
        printf("%s %s\n", present ? "still in temp:" : "delivered:", NameOf(argv[i]));
        left += present;
    }
    return left == 0 ? 0 : 1;
}
