// The module's application object; its start-up only chains to the class
// library's.
#pragma once

#include "platform/mfc/WinApp.h"

class CKESUpluginApp : public CWinApp {
public:
    CKESUpluginApp();
    ~CKESUpluginApp() override;

    // TRUE whatever the class library's start-up answered.
    BOOL InitInstance() override;
    // No entries of its own; chains to the class library's map.
    const AFX_MSGMAP* GetMessageMap() const override;
    static const AFX_MSGMAP* GetThisMessageMap();
};

// The one application object of the module, built after every other static.
extern CKESUpluginApp theApp;
