// The window thread: the program's entry, the main window with its three controls, and the
// window procedure that repaints the panel, counts the seconds of a run and starts the worker.
#include "main/main.h"

#include <commdlg.h>
#include <process.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "catalogue/catalogue.h"
#include "device/device.h"
#include "main/dialog_keys.h"
#include "main/preselect.h"
#include "main/service_record.h"
#include "resource/resource.h"

char szClassName[] = "WindowsApp";

// State of the open-file command. No control shows the path in this configuration, so
// hwndFilePath stays null.
OPENFILENAMEA ofn;
char szFile[MAX_PATH];
HANDLE hf;
HWND hwndFilePath;

namespace {

// Workers from "Start Burn" until their StartBurn has returned: a run owns the PLC's link and
// the image, and the process must not end under it unasked. A count, not a flag: a worker that
// has given the button back may still be returning when the next run starts.
std::atomic<int> gWorkersRunning{0};

// Set while the system has been told why the session must not end now.
bool gShutdownBlocked = false;

// The worker's thread: the update run and its service record, then word that it is over.
void RunWorker(void* param) {
    RunRecorded(StartBurn, param, ServiceRecordStart, WriteServiceRecord);
    --gWorkersRunning;
}

// Ending the process now would cut a run: its erase or transfer is under way or still to come.
// Once the final message is up the flash is finished or failed.
bool RunCanBeCut() {
    return gWorkersRunning > 0 && !FinalMessageUp();
}

// Copies the text of list entry `index` into out (outBytes with its NUL). An entry longer than
// out is cut, never written past it. False when there is no such entry.
bool ListText(HWND list, LRESULT index, char* out, size_t outBytes) {
    if (index == CB_ERR) return false;
    const LRESULT length = SendMessageA(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR) return false;
    char text[256] = "";
    if (length >= static_cast<LRESULT>(sizeof text)) return false;
    SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
    std::snprintf(out, outBytes, "%s", text);
    return true;
}

// Rebuilds the port list for the selected model: the single "USB" entry for a USB-attached
// model, the COM ports present for the others.
void FillPortList() {
    if (UsesUsbPort(selectedPLC))
        EnumUSBPort(hComPortList);
    else
        EnumComPort(hComPortList);
}

// Copies the port list's selected entry into selectedComPort; it stays as it was when no entry
// is selected.
void TakeSelectedPort() {
    const LRESULT k = SendMessageA(hComPortList, CB_GETCURSEL, 0, 0);
    char port[PORT_NAME_BYTES];
    if (ListText(hComPortList, k, port, sizeof port)) SetSelectedComPort(port);
}

void PaintPanel(HWND hwnd, HDC hDC, bool withLogo) {
    DisplayElapsedTime(hwnd, hDC);
    DisplayProgressBar(hwnd, hDC);
    DisplayStatus(hwnd, hDC);
    DisplayErrCounter(hwnd, hDC);
    DisplayDate(hwnd, hDC);
    if (withLogo) DisplayLogo(hwnd, hDC);
}

void OnPortChanged(HWND list) {
    ComSelidx = static_cast<int32_t>(SendMessageA(list, CB_GETCURSEL, 0, 0));
    char port[PORT_NAME_BYTES];
    if (ListText(list, ComSelidx, port, sizeof port)) SetSelectedComPort(port);
}

void OnModelChanged(HWND list) {
    char name[PLC_NAME_BYTES];
    uint32_t row = 0;
    if (!ListText(list, SendMessageA(list, CB_GETCURSEL, 0, 0), name, sizeof name)) return;
    if (!LookupPLC(name, &row, nullptr)) return;
    SelectPLC(row);
    FillPortList();
    if (!UsesUsbPort(selectedPLC)) SendMessageA(hComPortList, CB_SETCURSEL, ComSelidx, 0);
    TakeSelectedPort();
}

void OnStartBurn(HWND hwnd) {
    // One run at a time. The worker holds the button disabled for its whole run, but a disabled
    // button that kept the keyboard focus still takes Enter through the dialog keys; and the
    // window thread disables it here already, so that no second press slips in before the
    // worker has started.
    HWND button = GetDlgItem(hwnd, STARTBURN);
    if (button == nullptr || !IsWindowEnabled(button)) return;
    EnableWindow(button, FALSE);

    isFileChosed = 1;  // the embedded image always counts as chosen
    paramStruct.hwnd = hwnd;
    paramStruct.lParam = button;
    SetTimer(hwnd, ONESECONDTIMER, 1000, nullptr);
    ++gWorkersRunning;
    if (_beginthread(RunWorker, 0, &paramStruct) == static_cast<uintptr_t>(-1)) {
        // No worker: nobody else would stop the clock or give the button back.
        --gWorkersRunning;
        KillTimer(hwnd, ONESECONDTIMER);
        elapsedTime = 0;
        MessageBoxA(hwnd, MSG_RUN_NOT_STARTED, CAPTION_ERROR, MB_OK | MB_ICONERROR);
        EnableWindow(button, TRUE);
    }
}

// Closing the window ends the process, and with it a run in progress: the PLC would be left
// half erased or half written. The technician is asked first; No is the default.
void OnClose(HWND hwnd) {
    if (RunCanBeCut() && MessageBoxA(hwnd, MSG_CLOSE_DURING_RUN, CAPTION_CLOSE_DURING_RUN,
                                     MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES)
        return;
    DestroyWindow(hwnd);
}

// The system asks whether the session may end. While a run can be cut the answer is no, with
// the reason that the system shows; a critical end cannot be refused.
LRESULT OnQueryEndSession(HWND hwnd, LPARAM lParam) {
    if (!RunCanBeCut() || (lParam & ENDSESSION_CRITICAL) != 0) return TRUE;
    if (!gShutdownBlocked)
        gShutdownBlocked = ShutdownBlockReasonCreate(hwnd, SHUTDOWN_BLOCK_REASON) != FALSE;
    return FALSE;
}

// The session ends (wParam TRUE) and the process with it, as soon as this returns.
void OnEndSession(WPARAM wParam) {
    if (wParam != FALSE && gWorkersRunning > 0)
        RecordRunAtExit(RunCut::SESSION_ENDED, WriteServiceRecord);
}

// The reason given to the system is withdrawn once no run can be cut.
void ReleaseShutdownBlock(HWND hwnd) {
    if (gShutdownBlocked && !RunCanBeCut()) {
        ShutdownBlockReasonDestroy(hwnd);
        gShutdownBlocked = false;
    }
}

// A key press as the dialog keys would take it.
DialogKey KeyOf(const MSG& msg) {
    if (msg.message != WM_KEYDOWN) return DialogKey::OTHER;
    switch (msg.wParam) {
        case VK_ESCAPE:
        case VK_CANCEL:
            return DialogKey::ESCAPE;
        case VK_RETURN:
        case VK_EXECUTE:
            return DialogKey::ENTER;
        default:
            return DialogKey::OTHER;
    }
}

// Whether the dialog keys may see this message; see main/dialog_keys.h for why Esc and Enter
// are sorted out first. Here, before IsDialogMessageA, is the one place where a key press can
// still be told from a click.
bool ForDialogKeys(HWND hwnd, MSG* msg) {
    const DialogKey key = KeyOf(*msg);
    if (key == DialogKey::OTHER) return true;
    if (msg->hwnd != hwnd && !IsChild(hwnd, msg->hwnd)) return true;
    HWND button = GetDlgItem(hwnd, STARTBURN);
    const bool onStartBurn = msg->hwnd == button && button != nullptr && IsWindowEnabled(button);
    const LRESULT code =
        SendMessageA(msg->hwnd, WM_GETDLGCODE, msg->wParam, reinterpret_cast<LPARAM>(msg));
    const bool takesKey = (code & (DLGC_WANTMESSAGE | DLGC_WANTALLKEYS)) != 0;
    switch (RouteKey(key, onStartBurn, takesKey)) {
        case KeyRoute::DIALOG_KEYS:
            return true;
        case KeyRoute::PRESS_START_BURN:
            SendMessageA(button, BM_CLICK, 0, 0);
            return false;
        case KeyRoute::HELD_BACK:
            break;
    }
    return false;
}

void OnOpenFile(HWND hwnd) {
    // fileLength belongs to the run while the worker holds the button disabled.
    HWND button = GetDlgItem(hwnd, STARTBURN);
    if (button != nullptr && !IsWindowEnabled(button)) return;

    char previousFileName[MAX_PATH] = "";
    if (isFileChosed != 0) std::snprintf(previousFileName, sizeof previousFileName, "%s", szFile);

    std::memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hwnd;
    ofn.lpstrFile = szFile;
    ofn.lpstrFile[0] = '\0';
    ofn.nMaxFile = sizeof szFile;
    ofn.lpstrFilter = "Binary File (*.bin)\0*.bin\0All (*.*)\0*.*\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFileTitle = nullptr;
    ofn.nMaxFileTitle = 0;
    ofn.lpstrInitialDir = nullptr;
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;

    if (GetOpenFileNameA(&ofn) == TRUE) {
        char filePath[270];
        std::snprintf(filePath, sizeof filePath, "Path: %s", szFile);
        if (hwndFilePath != nullptr) SetWindowTextA(hwndFilePath, filePath);
        hf = CreateFileA(szFile, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
        if (hf == INVALID_HANDLE_VALUE) {
            fileLength = INVALID_FILE_SIZE;
        } else {
            fileLength = GetFileSize(hf, nullptr);
            CloseHandle(hf);
        }
        isFileChosed = 1;
    } else {
        std::snprintf(szFile, sizeof szFile, "%s", previousFileName);
    }
}

bool RegisterMainClass(HINSTANCE hThisInstance) {
    WNDCLASSEXA wincl;
    std::memset(&wincl, 0, sizeof wincl);
    wincl.hInstance = hThisInstance;
    wincl.lpszClassName = szClassName;
    wincl.lpfnWndProc = WindowProcedure;
    wincl.style = CS_DBLCLKS;
    wincl.cbSize = sizeof wincl;
    wincl.hIcon = LoadIconA(hThisInstance, MAKEINTRESOURCEA(_ICON));
    wincl.hIconSm = LoadIconA(hThisInstance, MAKEINTRESOURCEA(_ICON));
    wincl.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wincl.lpszMenuName = nullptr;
    wincl.cbClsExtra = 0;
    wincl.cbWndExtra = 0;
    // System colour index 0 plus one: the background is COLOR_SCROLLBAR, the painters' mask.
    wincl.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_SCROLLBAR + 1));
    return RegisterClassExA(&wincl) != 0;
}

// The model list, disabled: it shows the model the embedded image is built for (AUTO).
void CreateModelList(HWND hwnd, HINSTANCE hThisInstance) {
    HWND hPLCList = CreateWindowExA(0, "COMBOBOX", "",
                                    WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP |
                                        CBS_DROPDOWNLIST | CBS_AUTOHSCROLL | CBS_SORT |
                                        CBS_HASSTRINGS,
                                    10, 20, 120, 200, hwnd,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(PLCLIST)),
                                    hThisInstance, nullptr);
    for (uint32_t row = 0; row < PLC_COUNT; ++row)
        SendMessageA(hPLCList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(plcList[row]));

    SelectPLC(PreselectedRow(QUOTE(FW_FILE)));
    const LRESULT k = SendMessageA(hPLCList, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                   reinterpret_cast<LPARAM>(selectedPLC));
    SendMessageA(hPLCList, CB_SETCURSEL, k == CB_ERR ? 0 : k, 0);
    EnableWindow(hPLCList, FALSE);
}

void CreateControls(HWND hwnd, HINSTANCE hThisInstance) {
    CreateWindowExA(0, "BUTTON", "Start Burn",
                    WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 10, 60, 100, 30, hwnd,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(STARTBURN)), hThisInstance,
                    nullptr);
    CreateModelList(hwnd, hThisInstance);
    hComPortList = CreateWindowExA(
        0, "COMBOBOX", "",
        WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST | CBS_SORT |
            CBS_HASSTRINGS,
        160, 20, 100, 200, hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(COMPORTLIST)),
        hThisInstance, nullptr);
    FillPortList();
    SendMessageA(hComPortList, CB_SETCURSEL, 0, 0);
    TakeSelectedPort();
}

// Until WM_QUIT; returns its exit code.
int MessageLoop(HWND hwnd) {
    MSG messages;
    // IsDialogMessageA gives the window a dialog's keyboard interface (Tab between controls).
    while (GetMessageA(&messages, nullptr, 0, 0) > 0) {
        if (!ForDialogKeys(hwnd, &messages)) continue;
        if (!IsDialogMessageA(hwnd, &messages)) {
            TranslateMessage(&messages);
            DispatchMessageA(&messages);
        }
    }
    return static_cast<int>(messages.wParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE hThisInstance, HINSTANCE hPrevInstance, LPSTR lpszArgument,
                   int nFunsterStil) {
    (void)hPrevInstance;  // the command line and a previous instance play no part
    (void)lpszArgument;
    if (!RegisterMainClass(hThisInstance)) return 0;

    HWND hwnd = CreateWindowExA(
        0, szClassName, MAIN_WINDOW_TITLE, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
        CW_USEDEFAULT, 544, 205, HWND_DESKTOP, nullptr, hThisInstance, nullptr);
    if (hwnd == nullptr) return 0;
    CreateControls(hwnd, hThisInstance);
    PrepareServiceRecord();

    SetTimer(hwnd, ONEHUNDREDMSTIMER, 100, nullptr);
    ShowWindow(hwnd, nFunsterStil);

    const int exitCode = MessageLoop(hwnd);
    // Closed during a run (abandoned, or past its final message): end here, before the C runtime
    // destroys the static objects that the worker may still be using. The run's line is taken
    // last, where the run stood then, or as it ended once its final message was up.
    if (gWorkersRunning > 0) {
        RecordRunAtExit(RunCut::WINDOW_CLOSED, WriteServiceRecord);
        ExitProcess(static_cast<UINT>(exitCode));
    }
    return exitCode;
}

LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            OnClose(hwnd);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_QUERYENDSESSION:
            return OnQueryEndSession(hwnd, lParam);
        case WM_ENDSESSION:
            OnEndSession(wParam);
            return 0;
        case WM_PAINT: {
            // The logo returns with the next 100 ms tick.
            PAINTSTRUCT ps;
            HDC hDC = BeginPaint(hwnd, &ps);
            PaintPanel(hwnd, hDC, false);
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_TIMER:
            if (wParam == ONESECONDTIMER) {
                elapsedTime += 1;
            } else if (wParam == ONEHUNDREDMSTIMER) {
                HDC hDC = GetDC(hwnd);
                PaintPanel(hwnd, hDC, true);
                ReleaseDC(hwnd, hDC);
                ReleaseShutdownBlock(hwnd);
            }
            return 0;
        case WM_COMMAND: {
            const WORD notification = HIWORD(wParam);
            const WORD id = LOWORD(wParam);
            if (notification == CBN_SELCHANGE && id == COMPORTLIST)
                OnPortChanged(reinterpret_cast<HWND>(lParam));
            else if (notification == CBN_SELCHANGE && id == PLCLIST)
                OnModelChanged(reinterpret_cast<HWND>(lParam));
            else if (notification == BN_CLICKED && id == STARTBURN)
                OnStartBurn(hwnd);
            else if (notification == BN_CLICKED && id == OPENFILE)
                OnOpenFile(hwnd);
            return 0;
        }
        default:
            return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}
