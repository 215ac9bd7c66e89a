// Stand-in for the class library's application object of a module.
//
// A module defines one static CWinApp-derived object, after its other static
// objects; the constructor makes it the module's application. The module then
// attaches once, from a static initialiser defined right after that object in
// the same source file, so that it runs when every static is built:
//
//     CKESUpluginApp theApp;
//     static const BOOL g_moduleAttached = AfxAttachModule();
//
// Attaching runs the application's InitInstance exactly once.
#pragma once

#include <cstddef>

#include "platform/mfc/CString.h"
#include "platform/win/WinApi.h"

// A message map: the handlers a class adds (none in this plug-in) and the map
// of its base class, null at the root.
struct AFX_MSGMAP {
    const AFX_MSGMAP* pBaseMap;
    size_t entryCount;
};

class CWinApp {
public:
    // appName null: the application has no name of its own.
    explicit CWinApp(const wchar_t* appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Answers TRUE; an override chains to it.
    virtual BOOL InitInstance();
    virtual const AFX_MSGMAP* GetMessageMap() const;

    // The base map that a derived class's own map chains to.
    static const AFX_MSGMAP* GetThisMessageMap();

    const CString& GetAppName() const { return m_strAppName; }

private:
    CString m_strAppName;
};

// The module's application object: the one constructed last, or null once
// that one is destroyed (an earlier one that still exists does not come back:
// a module has only one).
CWinApp* AfxGetApp();

// Runs the application's InitInstance the first time it is called for that
// application and answers its result; later calls answer the same result
// without running it again. FALSE when there is no application object.
BOOL AfxAttachModule();
