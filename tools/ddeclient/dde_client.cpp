#include "dde_client.h"

#include <dde.h>

namespace {

HDDEDATA CALLBACK IgnoreCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
    return nullptr;
}

} // namespace

CONVCONTEXT ServiceConversationContext() {
    CONVCONTEXT context = {};
    context.cb = sizeof context;
    context.iCodePage = CP_WINANSI;
    context.qos.Length = sizeof context.qos;
    context.qos.ImpersonationLevel = SecurityImpersonation;
    context.qos.ContextTrackingMode = SECURITY_STATIC_TRACKING;
    context.qos.EffectiveOnly = TRUE;
    return context;
}

const char* ResultName(TransactionResult result) {
    switch (result) {
    case TransactionResult::Acknowledged:
        return "ack";
    case TransactionResult::NotProcessed:
        return "not-processed";
    case TransactionResult::Busy:
        return "busy";
    case TransactionResult::TimedOut:
        return "timeout";
    default:
        return "failed";
    }
}

DdeClient::DdeClient() {
    if (DdeInitializeA(&instance_, IgnoreCallback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR)
        instance_ = 0;
}

DdeClient::~DdeClient() {
    Disconnect();
    if (instance_ != 0) {
        for (const auto& named : handles_)
            DdeFreeStringHandle(instance_, named.second);
        DdeUninitialize(instance_);
    }
}

HSZ DdeClient::Handle(const std::string& text) {
    for (const auto& named : handles_) {
        if (named.first == text)
            return named.second;
    }
    HSZ handle = DdeCreateStringHandleA(instance_, text.c_str(), CP_WINANSI);
    if (handle != nullptr)
        handles_.emplace_back(text, handle);
    return handle;
}

bool DdeClient::Connect(const std::string& service, const std::string& topic,
                        const CONVCONTEXT* context) {
    Disconnect();
    if (instance_ == 0)
        return false;
    CONVCONTEXT copy;
    if (context != nullptr)
        copy = *context;
    conversation_ =
        DdeConnect(instance_, Handle(service), Handle(topic), context != nullptr ? &copy : nullptr);
    return conversation_ != nullptr;
}

void DdeClient::Disconnect() {
    if (conversation_ != nullptr) {
        DdeDisconnect(conversation_);
        conversation_ = nullptr;
    }
}

UINT DdeClient::LastError() const {
    return instance_ != 0 ? DdeGetLastError(instance_) : 0;
}

TransactionResult DdeClient::Outcome(HDDEDATA returned) const {
    if (returned != nullptr)
        return TransactionResult::Acknowledged;
    switch (DdeGetLastError(instance_)) {
    case DMLERR_NOTPROCESSED:
        return TransactionResult::NotProcessed;
    case DMLERR_BUSY:
        return TransactionResult::Busy;
    case DMLERR_POKEACKTIMEOUT:
    case DMLERR_EXECACKTIMEOUT:
    case DMLERR_DATAACKTIMEOUT:
    case DMLERR_ADVACKTIMEOUT:
        return TransactionResult::TimedOut;
    default:
        return TransactionResult::Failed;
    }
}

TransactionResult DdeClient::AcknowledgedOutcome(HDDEDATA returned, DWORD status) const {
    // Wine's client reports success for every answered poke and leaves the server's
    // verdict in the status word only; Windows fails the call as well.
    if (returned == nullptr)
        return Outcome(returned);
    if (LOWORD(status) & DDE_FACK)
        return TransactionResult::Acknowledged;
    return (LOWORD(status) & DDE_FBUSY) ? TransactionResult::Busy : TransactionResult::NotProcessed;
}

TransactionResult DdeClient::Poke(const std::string& item, const std::vector<char>& data,
                                  UINT format, DWORD timeout) {
    DWORD status = 0;
    HDDEDATA returned = DdeClientTransaction(
        reinterpret_cast<LPBYTE>(const_cast<char*>(data.data())), static_cast<DWORD>(data.size()),
        conversation_, Handle(item), format, XTYP_POKE, timeout, &status);
    return AcknowledgedOutcome(returned, status);
}

TransactionResult DdeClient::Execute(const std::vector<char>& command, UINT format, DWORD timeout) {
    DWORD status = 0;
    HDDEDATA returned =
        DdeClientTransaction(reinterpret_cast<LPBYTE>(const_cast<char*>(command.data())),
                             static_cast<DWORD>(command.size()), conversation_, nullptr, format,
                             XTYP_EXECUTE, timeout, &status);
    return AcknowledgedOutcome(returned, status);
}

TransactionResult DdeClient::AdviseStart(const std::string& item, UINT format, DWORD timeout) {
    DWORD status = 0;
    HDDEDATA returned = DdeClientTransaction(nullptr, 0, conversation_, Handle(item), format,
                                             XTYP_ADVSTART, timeout, &status);
    return Outcome(returned);
}

bool DdeClient::Request(const std::string& item, UINT format, DWORD timeout,
                        std::vector<char>& reply, TransactionResult& result) {
    reply.clear();
    DWORD status = 0;
    HDDEDATA data = DdeClientTransaction(nullptr, 0, conversation_, Handle(item), format,
                                         XTYP_REQUEST, timeout, &status);
    result = Outcome(data);
    if (data == nullptr)
        return false;
    DWORD size = DdeGetData(data, nullptr, 0, 0);
    reply.resize(size);
    if (size > 0)
        DdeGetData(data, reinterpret_cast<LPBYTE>(reply.data()), size, 0);
    DdeFreeDataHandle(data);
    return true;
}

namespace {

struct InitiateAnswers {
    std::vector<std::pair<HWND, ServiceTopic>> answers;
};

std::string AtomText(ATOM atom) {
    char text[256] = {};
    if (atom != 0)
        GlobalGetAtomNameA(atom, text, sizeof text);
    return text;
}

LRESULT CALLBACK InitiateWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DDE_ACK) {
        auto* answers =
            reinterpret_cast<InitiateAnswers*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        // An acknowledgement of an initiate carries the two atoms unpacked; the server
        // made them and the client deletes them.
        ATOM application = LOWORD(lParam);
        ATOM topic = HIWORD(lParam);
        if (answers != nullptr)
            answers->answers.push_back(
                {reinterpret_cast<HWND>(wParam), {AtomText(application), AtomText(topic)}});
        GlobalDeleteAtom(application);
        GlobalDeleteAtom(topic);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

std::vector<ServiceTopic> WildcardInitiate(const std::string& service, DWORD timeout) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = InitiateWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "VistoraHostInitiate";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA(windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                windowClass.hInstance, nullptr);
    InitiateAnswers answers;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&answers));

    ATOM serviceAtom = service.empty() ? 0 : GlobalAddAtomA(service.c_str());
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(HWND_BROADCAST, WM_DDE_INITIATE, reinterpret_cast<WPARAM>(window),
                        MAKELPARAM(serviceAtom, 0), SMTO_ABORTIFHUNG, timeout, &ignored);
    if (serviceAtom != 0)
        GlobalDeleteAtom(serviceAtom);

    // Answers may also arrive posted; collect them for a moment.
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 300) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        Sleep(20);
    }

    std::vector<ServiceTopic> offered;
    for (const auto& answer : answers.answers) {
        PostMessageA(answer.first, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(window), 0);
        offered.push_back(answer.second);
    }
    // Wait briefly for the servers' own terminate messages before going away.
    start = GetTickCount();
    while (GetTickCount() - start < 200) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        Sleep(20);
    }
    DestroyWindow(window);
    return offered;
}
