#pragma once
// A DDEML client of the uploader's service, as a host application uses it.

#include <windows.h>
#include <ddeml.h>

#include <string>
#include <utility>
#include <vector>

// The context the uploader's service expects. Wine never passes a client's context on
// to the server, but Windows does, so a host sends one that the service accepts.
CONVCONTEXT ServiceConversationContext();

enum class TransactionResult { Acknowledged, NotProcessed, Busy, TimedOut, Failed };
const char* ResultName(TransactionResult result);

class DdeClient {
  public:
    DdeClient();
    ~DdeClient();
    DdeClient(const DdeClient&) = delete;
    DdeClient& operator=(const DdeClient&) = delete;

    bool Initialized() const { return instance_ != 0; }

    // Connects to the service's topic; false when nobody answers or the service refuses.
    bool Connect(const std::string& service, const std::string& topic, const CONVCONTEXT* context);
    void Disconnect();

    TransactionResult Poke(const std::string& item, const std::vector<char>& data, UINT format,
                           DWORD timeout);
    // An execute carries no clipboard format of its own; format is what the call passes on.
    TransactionResult Execute(const std::vector<char>& command, UINT format, DWORD timeout);
    TransactionResult AdviseStart(const std::string& item, UINT format, DWORD timeout);
    // Request: true with the reply's bytes, false when no data came.
    bool Request(const std::string& item, UINT format, DWORD timeout, std::vector<char>& reply,
                 TransactionResult& result);

    UINT LastError() const;

  private:
    // One handle per text for the client's life: a host that pokes thousands of names
    // to one item asks DDEML for the item's atom once, not once a poke.
    HSZ Handle(const std::string& text);
    TransactionResult Outcome(HDDEDATA returned) const;
    // For pokes and executes: the acknowledgement flags of the server's answer count too.
    TransactionResult AcknowledgedOutcome(HDDEDATA returned, DWORD status) const;

    DWORD instance_ = 0;
    HCONV conversation_ = nullptr;
    std::vector<std::pair<std::string, HSZ>> handles_;
};

// Both halves of a wildcard conversation offer: the answering service and topic.
struct ServiceTopic {
    std::string service;
    std::string topic;
};

// Sends WM_DDE_INITIATE for service with no topic and collects every acknowledgement,
// then terminates the conversations that the answers opened. (Wine's DdeConnectList is a
// stub that asks no server, so a wildcard connection is made by hand.)
std::vector<ServiceTopic> WildcardInitiate(const std::string& service, DWORD timeout);
