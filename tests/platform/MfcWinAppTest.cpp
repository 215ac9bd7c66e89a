#include <gtest/gtest.h>

#include "platform/mfc/WinApp.h"

namespace {

class CountingApp : public CWinApp {
public:
    explicit CountingApp(BOOL answer = TRUE, const wchar_t* name = nullptr)
        : CWinApp(name), answer_(answer) {}

    BOOL InitInstance() override {
        ++initCount;
        appSeenInside = AfxGetApp();
        CWinApp::InitInstance();
        return answer_;
    }
    const AFX_MSGMAP* GetMessageMap() const override { return &messageMap; }

    int initCount = 0;
    CWinApp* appSeenInside = nullptr;
    static const AFX_MSGMAP messageMap;

private:
    BOOL answer_;
};

const AFX_MSGMAP CountingApp::messageMap = {CWinApp::GetThisMessageMap(), 0};

TEST(WinAppTest, AttachingRunsInitInstanceOnceAndRepeatsItsAnswer) {
    CountingApp app;
    EXPECT_EQ(&app, AfxGetApp());
    EXPECT_EQ(0, app.initCount);

    EXPECT_EQ(TRUE, AfxAttachModule());
    EXPECT_EQ(1, app.initCount);
    EXPECT_EQ(&app, app.appSeenInside);

    EXPECT_EQ(TRUE, AfxAttachModule());
    EXPECT_EQ(1, app.initCount);
}

TEST(WinAppTest, RefusedInitInstanceIsAnsweredAgainWithoutRunning) {
    CountingApp app(FALSE);
    EXPECT_EQ(FALSE, AfxAttachModule());
    EXPECT_EQ(FALSE, AfxAttachModule());
    EXPECT_EQ(1, app.initCount);
}

TEST(WinAppTest, WithoutAnApplicationAttachingAnswersFalse) {
    {
        CountingApp gone;
        EXPECT_EQ(TRUE, AfxAttachModule());
    }
    EXPECT_EQ(nullptr, AfxGetApp());
    EXPECT_EQ(FALSE, AfxAttachModule());

    // A later application is attached afresh.
    CountingApp next;
    EXPECT_EQ(TRUE, AfxAttachModule());
    EXPECT_EQ(1, next.initCount);
}

TEST(WinAppTest, TheApplicationIsTheLastConstructedUntilItIsDestroyed) {
    CountingApp first;
    {
        CountingApp second;
        EXPECT_EQ(&second, AfxGetApp());
    }
    // A module has one application; the earlier one is not taken up again.
    EXPECT_EQ(nullptr, AfxGetApp());
    EXPECT_EQ(FALSE, AfxAttachModule());
    EXPECT_EQ(0, first.initCount);
}

TEST(WinAppTest, NameAndMessageMapChain) {
    CountingApp named(TRUE, L"KESU");
    EXPECT_EQ(named.GetAppName(), L"KESU");
    CountingApp unnamed;
    EXPECT_TRUE(unnamed.GetAppName().IsEmpty());

    const CWinApp& base = unnamed;
    EXPECT_EQ(&CountingApp::messageMap, base.GetMessageMap());
    EXPECT_EQ(CWinApp::GetThisMessageMap(), base.GetMessageMap()->pBaseMap);
    EXPECT_EQ(nullptr, CWinApp::GetThisMessageMap()->pBaseMap);
}

}  // namespace
