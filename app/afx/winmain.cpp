// The program's entry point, compiled into each executable: the framework runs the application.
#include "app/afx/afxwin.h"

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR lpCmdLine, int nCmdShow) {
    return AfxWinMain(hInstance, lpCmdLine, nCmdShow);
}
