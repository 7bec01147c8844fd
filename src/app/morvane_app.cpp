#include "app/morvane_app.h"

CMorvaneApp theApp;

int CMorvaneApp::InitInstance() { return 0; }
