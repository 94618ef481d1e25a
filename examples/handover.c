/* handover.c: hands photos over to the Vistora uploader, the whole way a host does it.
 *
 *   handover [--replace] UPLOADER_EXE PHOTO...
 *
 * Copies the photos into the uploader's "temp" folder, never over a photo that already
 * waits there under the same name (unless --replace), starts the uploader with the number
 * of photos copied, waits for its DDE service, pokes their names on one conversation on
 * topic Upload, executes "upload" on topic System, waits for the uploader to end and
 * reports which photos left "temp" (see HOST-PROTOCOL.md). Exit codes: 0 every photo
 * delivered, 1 photos left in "temp", 2 usage, 3 the uploader did not start or already
 * runs, 4 a photo could not be copied, or the uploader did not take a name or the command,
 * 5 a photo's name already waited in "temp" (that photo was not handed over). */
#include <windows.h>
#include <ddeml.h>
#include <stdio.h>
#include <stdlib.h>
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

static int HandOver(int count, char** photos) {
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
    /* Poke each name, relative to temp. */
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

/* Copies each photo into temp and keeps the ones copied in handed[]; returns how many.
 * A file that already waits in temp under a photo's name is a photo not yet delivered
 * (refused by the service, or left when a run was ended): it is never written over unless
 * replace is set, and that photo is not handed over (*waits set). */
static int CopyIntoTemp(int count, char** photos, const char* folder, int replace, char** handed,
                        int* waits, int* failed) {
    char target[MAX_PATH];
    int i, copied = 0;
    for (i = 0; i < count; ++i) {
        DWORD error = 0;
        if (!TempPath(target, sizeof target, folder, photos[i]))
            error = ERROR_FILENAME_EXCED_RANGE;
        else if (!CopyFileA(photos[i], target, !replace))
            error = GetLastError();
        if (error == 0) {
            handed[copied++] = photos[i];
        } else if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
            fprintf(stderr,
                    "%s already waits in temp: %s was not copied or handed over (hand the "
                    "waiting one over first, or choose another name)\n",
                    NameOf(photos[i]), photos[i]);
            printf("already waits in temp: %s\n", NameOf(photos[i]));
            *waits = 1;
        } else {
            fprintf(stderr, "cannot copy %s into temp\n", photos[i]);
            *failed = 1;
        }
    }
    return copied;
}

int main(int argc, char** argv) {
    char folder[MAX_PATH], commandLine[MAX_PATH + 16], target[MAX_PATH];
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    HANDLE running;
    char** handed;
    int i, code, left = 0, waits = 0, failed = 0, count, replace;

    replace = argc > 1 && strcmp(argv[1], "--replace") == 0;
    argv += replace;
    argc -= replace;
    if (argc < 3 || strlen(argv[1]) >= sizeof folder ||
        DdeInitializeA(&instance, Callback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) {
        fprintf(stderr, "usage: handover [--replace] UPLOADER_EXE PHOTO...\n");
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
    lstrcpynA(folder, argv[1], sizeof folder);
    folder[NameOf(folder) - folder] = '\0';
    /* The photos go into temp first: the number announced is the number copied. */
    handed = (char**)calloc((size_t)argc, sizeof *handed);
    count = handed != NULL
                ? CopyIntoTemp(argc - 2, argv + 2, folder, replace, handed, &waits, &failed)
                : 0;
    if (handed == NULL || failed || count == 0) {
        DdeUninitialize(instance);
        free(handed);
        return failed || handed == NULL ? 4 : 5;
    }
    /* Start "VistoraUploader.exe N" in its own folder. */
    snprintf(commandLine, sizeof commandLine, "\"%s\" %d", argv[1], count);
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessA(argv[1], commandLine, NULL, NULL, FALSE, 0, NULL,
                        folder[0] != '\0' ? folder : NULL, &startup, &process)) {
        DdeUninitialize(instance);
        free(handed);
        fprintf(stderr, "cannot start %s\n", argv[1]);
        return 3;
    }
    CloseHandle(process.hThread);

    code = HandOver(count, handed);
    DdeUninitialize(instance);
    /* After N uploads the uploader saves its settings and ends by itself. */
    if (code == 0 && WaitForSingleObject(process.hProcess, EndWait) != WAIT_OBJECT_0)
        fprintf(stderr, "the uploader did not end in time\n");
    CloseHandle(process.hProcess);
    /* A photo still in temp was not delivered. */
    for (i = 0; code == 0 && i < count; ++i) {
        int present = TempPath(target, sizeof target, folder, handed[i]) &&
                      GetFileAttributesA(target) != INVALID_FILE_ATTRIBUTES;
        printf("%s %s\n", present ? "still in temp:" : "delivered:", NameOf(handed[i]));
        left += present;
    }
    free(handed);
    if (code != 0)
        return code;
    return waits ? 5 : left == 0 ? 0 : 1;
}
