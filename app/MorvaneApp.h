// The application object: prepares the process, runs the configuration
// dialog modally and ends the program when it closes.
#pragma once
#include "framework/framework.h"

class CMorvaneApp : public CWinApp {
public:
    CMorvaneApp();
    ~CMorvaneApp() override;

    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};

extern CMorvaneApp theApp;
