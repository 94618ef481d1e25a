// Items that describe the service: its topics, items, formats and help.
#include "dde/item_handlers.h"
#include "dde/replies.h"

#include <string>

namespace {

// Names joined by tabs, the last tab replaced by the terminating zero.
template <typename Named> std::string JoinNames(const Named* entries, DWORD count) {
    std::string joined;
    for (DWORD i = 0; i < count; ++i) {
        joined += entries[i].name;
        joined += '\t';
    }
    if (joined.empty())
        joined.push_back('\t');
    joined.back() = '\0';
    return joined;
}

} // namespace

const char HelpText[] =
    "DDEML Vistora Uploader help:\r\n\n"
    "'VistoraUploadServer' の構成内容\r\n\n"
    "topicとしては、'Upload' と 'System' が有効です。\r\n"
    "'Upload' のitemは、'Filename' があります。\r\n"
    "Upload/Filenameに対して、POKEでファイル(フルパス)をセットしてください。\r\n"
    "ファイルが一個ListViewに増えます。\r\n"
    "'System'に対して、EXECが有効です。\r\n"
    "コマンドには、'upload'があります。\r\n"
    "uploadを開始します。すでにアップロードが開始していたら無視されます。\r\n";

HDDEDATA TopicListXfer(const XferInfo* xfer, WORD) {
    if (!IsDataTransaction(xfer->type))
        return AdviseStartOnly(xfer);
    return FilledReply(xfer, JoinNames(DdeTopics, DdeTopicCount));
}

HDDEDATA ItemListXfer(const XferInfo* xfer, WORD) {
    if (!IsDataTransaction(xfer->type))
        return AdviseStartOnly(xfer);
    for (const DdeTopic& topic : DdeTopics) {
        if (topic.handle == xfer->topic)
            return FilledReply(xfer, JoinNames(topic.items, topic.itemCount));
    }
    return nullptr;
}

HDDEDATA FormatListXfer(const XferInfo* xfer, WORD) {
    if (!IsDataTransaction(xfer->type))
        return AdviseStartOnly(xfer);
    std::string names = JoinNames(DdeFormats, DdeFormatCount);
    return ReplyBytes(xfer, names.data(), names.size());
}

HDDEDATA HelpTextXfer(const XferInfo* xfer, WORD) {
    if (!IsDataTransaction(xfer->type))
        return AdviseStartOnly(xfer);
    if (xfer->type == XTYP_REQUEST)
        OutputDebugStringA("Help text requested.");
    return ReplyBytes(xfer, HelpText, sizeof HelpText);
}
