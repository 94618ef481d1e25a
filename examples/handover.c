/* handover.c: hands photos over to the Vistora uploader, as a host application does.
 *
 *   handover NAME...
 *
 * The photos must already lie in the uploader's "temp" folder, and the uploader must run
 * (started as "VistoraUploader.exe N" for N photos); see HOST-PROTOCOL.md. Exits 0 when
 * every name and the "upload" command were taken. */
#include <windows.h>
#include <ddeml.h>
#include <stdio.h>
#include <string.h>

/* A client only: nothing to answer. */
static HDDEDATA CALLBACK Callback(UINT type, UINT format, HCONV conversation, HSZ topic, HSZ item,
                                  HDDEDATA data, ULONG_PTR value1, ULONG_PTR value2) {
    (void)type, (void)format, (void)conversation, (void)topic, (void)item, (void)data;
    (void)value1, (void)value2;
    return NULL;
}

/* One transaction to the uploader; it took it when its answer carries DDE_FACK. */
static int Send(DWORD instance, const char* topic, const char* item, const char* text, UINT type) {
    CONVCONTEXT context;
    HSZ service = DdeCreateStringHandleA(instance, "VistoraUploadServer", CP_WINANSI);
    HSZ topicName = DdeCreateStringHandleA(instance, topic, CP_WINANSI);
    HSZ itemName = item ? DdeCreateStringHandleA(instance, item, CP_WINANSI) : NULL;
    DWORD status = 0;
    HCONV conversation;
    int taken = 0;

    ZeroMemory(&context, sizeof context); /* the context the uploader's service expects */
    context.cb = sizeof context;
    context.iCodePage = CP_WINANSI;
    context.qos.Length = sizeof context.qos;
    context.qos.ImpersonationLevel = SecurityImpersonation;
    context.qos.ContextTrackingMode = SECURITY_STATIC_TRACKING;
    context.qos.EffectiveOnly = TRUE;
    conversation = DdeConnect(instance, service, topicName, &context);
    if (conversation != NULL) {
        taken = DdeClientTransaction((LPBYTE)text, (DWORD)strlen(text) + 1, conversation, itemName,
                                     type == XTYP_POKE ? CF_TEXT : 0, type, 10000, &status) != 0 &&
                (status & DDE_FACK) != 0;
        DdeDisconnect(conversation);
    }
    if (itemName != NULL)
        DdeFreeStringHandle(instance, itemName);
    DdeFreeStringHandle(instance, topicName);
    DdeFreeStringHandle(instance, service);
    return taken;
}

int main(int argc, char** argv) {
    DWORD instance = 0;
    int i, ok = 1;
    if (argc < 2 || DdeInitializeA(&instance, Callback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) {
        fprintf(stderr, "usage: handover NAME... (names relative to the uploader's temp)\n");
        return 2;
    }
    for (i = 1; i < argc && ok; ++i)
        ok = Send(instance, "Upload", "Filename", argv[i], XTYP_POKE);
    if (ok)
        ok = Send(instance, "System", NULL, "upload", XTYP_EXECUTE);
    DdeUninitialize(instance);
    fprintf(ok ? stdout : stderr, ok ? "handed over\n" : "the uploader did not take it\n");
    return ok ? 0 : 1;
}
