#include "plugin/CKESUpluginApp.h"

CKESUpluginApp::CKESUpluginApp() : CWinApp(nullptr) {}

CKESUpluginApp::~CKESUpluginApp() = default;

BOOL CKESUpluginApp::InitInstance() {
    CWinApp::InitInstance();
    return TRUE;
}

const AFX_MSGMAP* CKESUpluginApp::GetMessageMap() const {
    return GetThisMessageMap();
}

const AFX_MSGMAP* CKESUpluginApp::GetThisMessageMap() {
    // Built on first use: the base map is another file's static.
    static const AFX_MSGMAP messageMap = {CWinApp::GetThisMessageMap(), 0};
    return &messageMap;
}
