#include "platform/mfc/WinApp.h"

#include <mutex>

namespace {

// Built on first use, since applications are static objects of other files.
// Recursive: an InitInstance may ask for AfxGetApp while the attach holds it.
struct AppRegistry {
    std::recursive_mutex mutex;
    CWinApp* app = nullptr;
    bool attached = false;
    BOOL initResult = FALSE;
};

AppRegistry& registry() {
    static AppRegistry instance;
    return instance;
}

const AFX_MSGMAP g_winAppMessageMap = {nullptr, 0};

}  // namespace

CWinApp::CWinApp(const wchar_t* appName) : m_strAppName(appName) {
    AppRegistry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    r.app = this;
    r.attached = false;
    r.initResult = FALSE;
}

CWinApp::~CWinApp() {
    AppRegistry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    if (r.app != this) return;
    r.app = nullptr;
    r.attached = false;
    r.initResult = FALSE;
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

const AFX_MSGMAP* CWinApp::GetMessageMap() const {
    return GetThisMessageMap();
}

const AFX_MSGMAP* CWinApp::GetThisMessageMap() {
    return &g_winAppMessageMap;
}

CWinApp* AfxGetApp() {
    AppRegistry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    return r.app;
}

BOOL AfxAttachModule() {
    AppRegistry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    if (!r.app) return FALSE;
    if (!r.attached) {
        r.attached = true;
        r.initResult = r.app->InitInstance();
    }
    return r.initResult;
}
