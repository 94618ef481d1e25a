#pragma once
// The main window: its procedure and one handler per message.

#include "jobs/job_messages.h"

#include <windows.h>

// The controller's next step of a run is due (the controller keeps which step it is).
constexpr UINT WM_RUN_STEP = WM_APP + 3;

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

LRESULT OnCreate(HWND window, LPARAM lParam);
void OnSize(HWND window, WPARAM wParam, LPARAM lParam);
// WM_DPICHANGED: the window moved to a monitor of another scale (or the user changed the
// scale): the place and size Windows suggests, and the controls, the list's columns and
// the fonts at dpi.
void OnDpiChanged(HWND window, UINT dpi, const RECT& suggested);
// WM_NCDESTROY: the fonts made for a scale go with the controls that used them.
void OnNcDestroy(HWND window);
void OnClose(HWND window);
// Whether the close question is open: while it is, the run starts nothing.
bool CloseQuestionOpen();
// WM_ENTERMENULOOP and WM_EXITMENULOOP: whether the user is choosing from the menu, where
// the run starts nothing either.
void OnMenuLoop(HWND window, bool entering);
bool MenuOpen();
void OnTimer(HWND window, UINT_PTR id);
void OnDestroy(HWND window);
LRESULT OnCommand(HWND window, int id, int code, LPARAM lParam);

// Commands 1001 and 40004: starts a run unless one is going on.
void StartUploadRun(HWND window);

// The program's plain alert: no owner, caption "警告", OK only.
void ShowAlert(const char* text);

void ShowAboutBox(HWND owner);
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
