// The repaint dialogs: the modeless parameter dialog of each method, docked
// in the dialog container, with its live preview of a framed region, and the
// worker thread of a full run.
#pragma once

#include <windows.h>

#include "app/app.h"

enum RepaintMethod { RepaintOriginal, RepaintSmudge, RepaintRedraw };

// Opens the method's dialog as a child of the container, with the
// document's original picture as the loaded picture and its result picture
// as the one the view shows; docks and shows it and locks the toolbar's file
// and repaint buttons until it closes. Null when it cannot be created.
HWND OpenRepaintDialog(RepaintMethod method, Document& document);

// Fills the method's job record from the settings and starts its worker on
// source, writing result. The open dialog hears the end of the run as
// UM_RUN_DONE or UM_RUN_ABORTED, also when no thread could be started.
void StartRepaintWorker(RepaintMethod method, const SBxPicBuf& source, SBxPicBuf& result);
// True while a worker thread runs.
bool RepaintWorkerRunning();
// Asks a running worker to stop and waits for it to end, handling the
// messages it sends meanwhile: nothing it uses may be freed before.
void StopRepaintWorker();

// True while the open dialog's preview is computed or waits its turn.
bool RepaintPreviewBusy();
// Stops the open dialog's preview computation and waits for it: nothing it
// reads may be freed before.
void StopRepaintPreview();

// Sends the engines' progress steps to the open dialog's progress bar.
void InstallRepaintProgress();

// The main window's mouse for the open dialog's preview frame: WM_SETCURSOR
// sets the cursor over it, a press inside it starts a drag, moves drag it
// and the release computes the preview there. The point is in main-window
// client coordinates. True when the frame took the message, so the view
// must not act on it too; false without an open dialog.
bool RepaintDialogMouse(UINT message, POINT point);
