#include "dde/dde_callback.h"
#include "support/platform_override.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> calls;

BOOL WINAPI ImpersonateOk(HCONV) {
    calls.push_back("impersonate");
    return TRUE;
}
BOOL WINAPI ImpersonateFails(HCONV) {
    calls.push_back("impersonate");
    return FALSE;
}
BOOL WINAPI Revert() {
    calls.push_back("revert");
    return TRUE;
}
HDDEDATA RecordingHandler(const XferInfo* xfer, WORD) {
    calls.push_back("handler " + std::to_string(xfer->type));
    return reinterpret_cast<HDDEDATA>(0x1234);
}

class DdeCallbackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        calls.clear();
        platform.calls().DdeImpersonateClient = ImpersonateOk;
        platform.calls().RevertToSelf = Revert;
    }
    PlatformOverride platform;
    DdeItem item{nullptr, RecordingHandler, "Filename"};
    XferInfo xfer{XTYP_POKE, CF_TEXT, nullptr, nullptr, nullptr, nullptr, 0, 0};
};

CONVCONTEXT MatchingContext() {
    CONVCONTEXT context = ServiceContext;
    context.iCodePage = CP_WINANSI;
    return context;
}

} // namespace

TEST_F(DdeCallbackTest, OnNtTheHandlerRunsImpersonatedAndRevertsAfter) {
    platform.calls().GetVersion = WindowsXpGetVersion;
    EXPECT_EQ(CallItemHandler(item, xfer, 0), reinterpret_cast<HDDEDATA>(0x1234));
    EXPECT_EQ(calls, (std::vector<std::string>{"impersonate", "handler 16528", "revert"}));
}

TEST_F(DdeCallbackTest, OnNtAFailedImpersonationRunsNoHandler) {
    platform.calls().GetVersion = WindowsXpGetVersion;
    platform.calls().DdeImpersonateClient = ImpersonateFails;
    EXPECT_EQ(CallItemHandler(item, xfer, 0), nullptr);
    EXPECT_EQ(calls, (std::vector<std::string>{"impersonate"}));
    // What the callback then answers: not processed for a poke, TRUE for an advise start.
    EXPECT_EQ(MapHandlerResult(XTYP_POKE, nullptr), reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED));
    EXPECT_EQ(MapHandlerResult(XTYP_ADVSTART, nullptr), reinterpret_cast<HDDEDATA>(TRUE));
    EXPECT_EQ(MapHandlerResult(XTYP_REQUEST, nullptr), nullptr);
}

TEST_F(DdeCallbackTest, On9xTheHandlerRunsDirectly) {
    platform.calls().GetVersion = Windows98GetVersion;
    EXPECT_EQ(CallItemHandler(item, xfer, 0), reinterpret_cast<HDDEDATA>(0x1234));
    EXPECT_EQ(calls, (std::vector<std::string>{"handler 16528"}));
}

TEST(DdeResultMapping, FollowsTheTransactionClass) {
    const HDDEDATA data = reinterpret_cast<HDDEDATA>(0x5678);
    EXPECT_EQ(MapHandlerResult(XTYP_ADVSTART, nullptr), reinterpret_cast<HDDEDATA>(TRUE));
    EXPECT_EQ(MapHandlerResult(XTYP_REQUEST, data), data);
    EXPECT_EQ(MapHandlerResult(XTYP_ADVREQ, data), data);
    EXPECT_EQ(MapHandlerResult(XTYP_POKE, data), reinterpret_cast<HDDEDATA>(DDE_FACK));
    EXPECT_EQ(MapHandlerResult(XTYP_POKE, reinterpret_cast<HDDEDATA>(TRUE)),
              reinterpret_cast<HDDEDATA>(DDE_FACK));
    EXPECT_EQ(MapHandlerResult(XTYP_ADVSTOP, data), nullptr);
}

TEST_F(DdeCallbackTest, ContextTestOnBothFamilies) {
    for (auto version : {WindowsXpGetVersion, Windows98GetVersion}) {
        platform.calls().GetVersion = version;
        SCOPED_TRACE(version == WindowsXpGetVersion ? "NT" : "9x");
        EXPECT_TRUE(PassesContextTest(nullptr));
        CONVCONTEXT context = MatchingContext();
        EXPECT_TRUE(PassesContextTest(&context));

        context = MatchingContext();
        context.iCodePage = 932;
        EXPECT_FALSE(PassesContextTest(&context));
        context = MatchingContext();
        context.wFlags = 1;
        EXPECT_FALSE(PassesContextTest(&context));
        context = MatchingContext();
        context.dwSecurity = 1;
        EXPECT_FALSE(PassesContextTest(&context));

        context = MatchingContext();
        context.qos.ImpersonationLevel = SecurityDelegation;
        EXPECT_TRUE(PassesContextTest(&context));
    }
}

TEST_F(DdeCallbackTest, ImpersonationLevelBelowImpersonationIsRefusedOnNtOnly) {
    CONVCONTEXT context = MatchingContext();
    context.qos.ImpersonationLevel = SecurityIdentification;
    platform.calls().GetVersion = WindowsXpGetVersion;
    EXPECT_FALSE(PassesContextTest(&context));
    // What Wine's server side always receives: code page 1004, everything else zero.
    CONVCONTEXT wine = {};
    wine.cb = sizeof wine;
    wine.iCodePage = CP_WINANSI;
    EXPECT_FALSE(PassesContextTest(&wine));

    platform.calls().GetVersion = Windows98GetVersion;
    EXPECT_TRUE(PassesContextTest(&context));
    EXPECT_TRUE(PassesContextTest(&wine));
}
