// The bench window: the image, the record file and the ports at the top, "Start bench" and
// "Stop bench", a tile a port, and below them the bench's tally and last results. Each checked
// port is run by a console station of its own; the window reads their events and draws.
#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "benchwin/bench.h"
#include "benchwin/layout.h"
#include "benchwin/paint_win.h"
#include "benchwin/settings_win.h"
#include "benchwin/setup.h"
#include "benchwin/tile.h"
#include "benchwin/workers_win.h"
#include "resource/resource.h"

namespace plcbench {

namespace {

const char CLASS_NAME[] = "PlcFirmwareBench";
const char TITLE[] = "Korvel PLC Firmware Bench";
const char START_TEXT[] = "&Start bench";
const char STOP_TEXT[] = "&Stop bench";
const char STOPPING_TEXT[] = "Stopping...";
// The first window's question before a unit in hand is cut.
const char CAPTION_CLOSE_DURING_RUN[] = "WARNING";
const char MSG_CLOSE_DURING_RUN[] =
    "Firmware update is IN PROGRESS!\n\nIf the program is closed now, the PLC may be left "
    "without working firmware.\n\nClose the program anyway?";
const char RECORD_FILE_NAME[] = "plcfwbench-records.jsonl";
// What the system shows as the reason why the session does not end while units are written.
const wchar_t SHUTDOWN_BLOCK_REASON[] = L"Firmware update in progress";

// Control ids; 1 and 2 are IDOK and IDCANCEL, which Enter and Esc send.
enum : int { ID_START = 101, ID_BEEP, ID_RECORD, ID_OTHER, ID_PORT0 = 200 };
const UINT_PTR FOLLOW_TIMER = 1;
const UINT FOLLOW_MS = 100;
const DWORD BEEP_GAP_MS = 300;
// What a close waits for the workers to end their units in hand and record them.
const DWORD CLOSE_WAIT_MS = 3000;
const DWORD CONSOLE_ANSWER_MS = 20000;
const int UI_TEXT_PT = 10;
const int RESULT_TEXT_PT = 12;
const int TALLY_TEXT_PT = 16;
const int RESULT_ROWS = 5;  // the last ten results in two columns
#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

struct Bench {
    HWND window = nullptr;
    UINT dpi = 96;
    HFONT font = nullptr;
    HWND imageText = nullptr, recordLabel = nullptr, recordEdit = nullptr, portsLabel = nullptr,
         otherLabel = nullptr, otherEdit = nullptr, start = nullptr, beep = nullptr;
    // Below the tiles, as text that a screen reader (and the test) reads too.
    HWND tally = nullptr, resultColumns[2] = {nullptr, nullptr};
    HFONT tallyFont = nullptr, resultFont = nullptr;
    std::vector<HWND> portChecks;
    std::vector<std::string> portNames;
    int tilesTop = 0, tilesBottom = 0;
    std::string console;  // the console program's path
    std::vector<Tile> tiles;
    Results results;
    Workers workers;
    bool running = false;
    std::vector<UINT> beeps;  // still to sound
    DWORD lastBeep = 0;
    HWND lastFocus = nullptr;
    bool shutdownBlocked = false;
};

Bench gBench;

int Scale(int pixels) {
    return MulDiv(pixels, static_cast<int>(gBench.dpi), 96);
}

// Casts a function of user32 looked up by name: absent before Windows 10.
template <typename F>
F User32Function(const char* name) {
    FARPROC f = GetProcAddress(GetModuleHandleA("user32.dll"), name);
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(f));
}

void BecomeDpiAware() {
    using SetContext = BOOL(WINAPI*)(HANDLE);
    auto set = User32Function<SetContext>("SetProcessDpiAwarenessContext");
    // Per monitor, version 2: the window is told when it moves to a monitor of another DPI.
    if (set != nullptr && set(reinterpret_cast<HANDLE>(static_cast<intptr_t>(-4)))) return;
    SetProcessDPIAware();
}

UINT DpiOf(HWND window) {
    using GetDpi = UINT(WINAPI*)(HWND);
    auto get = User32Function<GetDpi>("GetDpiForWindow");
    if (get != nullptr) {
        UINT dpi = get(window);
        if (dpi != 0) return dpi;
    }
    HDC dc = GetDC(window);
    int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(window, dc);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

std::string WindowText(HWND control) {
    int length = GetWindowTextLengthA(control);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    GetWindowTextA(control, text.data(), length + 1);
    text.resize(static_cast<size_t>(length));
    return text;
}

bool Checked(HWND box) {
    return SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::string ProgramDirectory() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return ".";
    std::string p(path, length);
    return p.substr(0, p.find_last_of("\\/"));
}

std::string DefaultRecordFile() {
    char documents[MAX_PATH];
    if (SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, 0, documents) == S_OK)
        return std::string(documents) + "\\" + RECORD_FILE_NAME;
    return RECORD_FILE_NAME;
}

std::string ClockText() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", t.wHour, t.wMinute, t.wSecond);
    return text;
}

uint64_t NowMs() {
    return GetTickCount64();
}

HWND Control(const char* cls, const char* text, DWORD style, int id) {
    HWND h = CreateWindowExA(cls == std::string("EDIT") ? WS_EX_CLIENTEDGE : 0, cls, text,
                             WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, gBench.window,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(gBench.font), TRUE);
    return h;
}

HFONT UiFont(int points, int weight) {
    return CreateFontA(-MulDiv(points, static_cast<int>(gBench.dpi), 72), 0, 0, 0, weight, FALSE,
                       FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, "Arial");
}

// The fonts for the window's DPI, given to every control.
void MakeFonts() {
    for (HFONT f : {gBench.font, gBench.tallyFont, gBench.resultFont})
        if (f != nullptr) DeleteObject(f);
    gBench.font = UiFont(UI_TEXT_PT, FW_NORMAL);
    gBench.tallyFont = UiFont(TALLY_TEXT_PT, FW_BOLD);
    gBench.resultFont = UiFont(RESULT_TEXT_PT, FW_NORMAL);
    for (HWND h = GetWindow(gBench.window, GW_CHILD); h != nullptr; h = GetWindow(h, GW_HWNDNEXT)) {
        HFONT f = h == gBench.tally                                              ? gBench.tallyFont
                  : h == gBench.resultColumns[0] || h == gBench.resultColumns[1] ? gBench.resultFont
                                                                                 : gBench.font;
        SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(f), TRUE);
    }
}

// The controls at the top, placed for the window's width and DPI; the tiles start below them.
void Layout() {
    RECT client;
    GetClientRect(gBench.window, &client);
    int width = client.right - client.left;
    int m = Scale(8), line = Scale(24), gap = Scale(6);
    int labelWidth = Scale(90);
    int y = m;
    MoveWindow(gBench.imageText, m, y, width - 2 * m, line, TRUE);
    y += line + gap;
    MoveWindow(gBench.recordLabel, m, y + Scale(3), labelWidth, line, TRUE);
    MoveWindow(gBench.recordEdit, m + labelWidth, y, width - 2 * m - labelWidth, line, TRUE);
    y += line + gap;
    MoveWindow(gBench.portsLabel, m, y + Scale(3), labelWidth, line, TRUE);
    int x = m + labelWidth, boxWidth = Scale(110);
    for (HWND box : gBench.portChecks) {
        if (x + boxWidth > width - m && x > m + labelWidth) {
            x = m + labelWidth;
            y += line;
        }
        MoveWindow(box, x, y, boxWidth, line, TRUE);
        x += boxWidth;
    }
    y += line + gap;
    MoveWindow(gBench.otherLabel, m, y + Scale(3), labelWidth, line, TRUE);
    MoveWindow(gBench.otherEdit, m + labelWidth, y, Scale(320), line, TRUE);
    y += line + gap;
    MoveWindow(gBench.start, m, y, Scale(150), Scale(32), TRUE);
    MoveWindow(gBench.beep, m + Scale(170), y + Scale(4), Scale(220), line, TRUE);
    y += Scale(32) + gap;
    gBench.tilesTop = y;
    // From the bottom: the results, the tally above them, the tiles between.
    int resultLine = MulDiv(RESULT_TEXT_PT, static_cast<int>(gBench.dpi), 72) * 3 / 2;
    int tallyLine = MulDiv(TALLY_TEXT_PT, static_cast<int>(gBench.dpi), 72) * 3 / 2;
    int bottom = client.bottom - m;
    int resultsTop = bottom - RESULT_ROWS * resultLine;
    int half = (width - 2 * m) / 2;
    MoveWindow(gBench.resultColumns[0], m, resultsTop, half, RESULT_ROWS * resultLine, TRUE);
    MoveWindow(gBench.resultColumns[1], m + half, resultsTop, half, RESULT_ROWS * resultLine, TRUE);
    MoveWindow(gBench.tally, m, resultsTop - tallyLine, width - 2 * m, tallyLine, TRUE);
    gBench.tilesBottom = resultsTop - tallyLine - gap;
    InvalidateRect(gBench.window, nullptr, TRUE);
}

std::vector<std::string> ChosenPorts() {
    std::vector<std::string> ports;
    for (size_t i = 0; i < gBench.portChecks.size(); ++i)
        if (Checked(gBench.portChecks[i])) ports.push_back(gBench.portNames[i]);
    for (const auto& p : SplitPorts(WindowText(gBench.otherEdit))) {
        bool known = false;
        for (const auto& q : ports) known = known || q == p;
        if (!known) ports.push_back(p);
    }
    return ports;
}

RECT TilesArea() {
    RECT area;
    GetClientRect(gBench.window, &area);
    area.top = gBench.tilesTop;
    area.bottom = gBench.tilesBottom > area.top ? gBench.tilesBottom : area.top;
    return area;
}

void SetText(HWND control, const std::string& text) {
    if (WindowText(control) != text) SetWindowTextA(control, text.c_str());
}

// The tiles repainted, the tally and the results as they now stand.
void InvalidateTiles() {
    RECT area = TilesArea();
    InvalidateRect(gBench.window, &area, FALSE);
    SetText(gBench.tally, TallyText(TallyOf(gBench.tiles)));
    std::string columns[2];
    size_t i = 0;
    for (const auto& line : gBench.results.Lines()) {
        std::string& c = columns[i / RESULT_ROWS];
        c += (c.empty() ? "" : "\r\n") + line;
        ++i;
    }
    SetText(gBench.resultColumns[0], columns[0]);
    SetText(gBench.resultColumns[1], columns[1]);
}

// Before a bench: a tile for each port chosen, not started.
void ShowChosenPorts() {
    if (gBench.running) return;
    gBench.tiles.clear();
    for (const auto& p : ChosenPorts()) {
        if (gBench.tiles.size() >= static_cast<size_t>(MAX_TILES)) break;
        Tile t;
        t.port = p;
        gBench.tiles.push_back(t);
    }
    InvalidateTiles();
}

void EnableSetup(bool on) {
    EnableWindow(gBench.recordEdit, on);
    EnableWindow(gBench.otherEdit, on);
    for (HWND box : gBench.portChecks) EnableWindow(box, on);
}

void SaveChoices() {
    Settings s;
    std::vector<std::string> checked;
    for (size_t i = 0; i < gBench.portChecks.size(); ++i)
        if (Checked(gBench.portChecks[i])) checked.push_back(gBench.portNames[i]);
    s.ports = JoinPorts(checked);
    s.otherPorts = WindowText(gBench.otherEdit);
    s.recordFile = WindowText(gBench.recordEdit);
    s.beep = Checked(gBench.beep);
    SaveSettings(s);
}

void StartBench() {
    std::vector<std::string> ports = ChosenPorts();
    if (ports.empty()) {
        MessageBoxA(gBench.window, "Check at least one port for the bench.", TITLE,
                    MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (ports.size() > static_cast<size_t>(MAX_TILES)) {
        MessageBoxA(gBench.window, "A bench runs at most 16 ports.", TITLE,
                    MB_OK | MB_ICONINFORMATION);
        return;
    }
    SaveChoices();
    std::string record = WindowText(gBench.recordEdit);
    std::string error;
    if (!gBench.workers.Begin(ports.size(), &error)) {
        MessageBoxA(gBench.window, error.c_str(), TITLE, MB_OK | MB_ICONERROR);
        return;
    }
    gBench.tiles.assign(ports.size(), Tile{});
    gBench.results.Clear();
    for (size_t i = 0; i < ports.size(); ++i) {
        gBench.tiles[i].port = ports[i];
        gBench.tiles[i].state = TileState::WAITING;
        if (!gBench.workers.Start(i, WorkerCommandLine(gBench.console, ports[i], record), &error))
            StartFailed(&gBench.tiles[i], error);
    }
    gBench.running = true;
    SetWindowTextA(gBench.start, STOP_TEXT);
    EnableSetup(false);
    InvalidateTiles();
}

void StopBench() {
    gBench.workers.Interrupt();
    SetWindowTextA(gBench.start, STOPPING_TEXT);
    EnableWindow(gBench.start, FALSE);
}

void BenchEnded() {
    gBench.running = false;
    SetWindowTextA(gBench.start, START_TEXT);
    EnableWindow(gBench.start, TRUE);
    EnableSetup(true);
    SetFocus(gBench.start);
}

void Sound(const UnitResult& r) {
    if (!Checked(gBench.beep)) return;
    for (int i = 0; i < BeepsFor(r); ++i)
        gBench.beeps.push_back(r.kind == ResultKind::FAILED ? MB_ICONHAND : MB_OK);
}

void SoundNext() {
    if (gBench.beeps.empty() || GetTickCount() - gBench.lastBeep < BEEP_GAP_MS) return;
    MessageBeep(gBench.beeps.front());
    gBench.beeps.erase(gBench.beeps.begin());
    gBench.lastBeep = GetTickCount();
}

void FollowWorkers() {
    bool changed = false;
    uint64_t now = NowMs();
    gBench.workers.Follow(
        [&](size_t i, const std::string& line) {
            EventLine e;
            if (i >= gBench.tiles.size() || !ParseEventLine(line, &e)) return;
            UnitResult r;
            if (ApplyEvent(&gBench.tiles[i], e, now, &r)) {
                gBench.results.Add(r, ClockText());
                Sound(r);
            }
            changed = true;
        },
        [&](size_t i, const std::string& line) {
            if (i < gBench.tiles.size()) WorkerSaid(&gBench.tiles[i], line);
        },
        [&](size_t i, int status) {
            if (i < gBench.tiles.size()) WorkerEnded(&gBench.tiles[i], status);
            changed = true;
        });
    SoundNext();
    if (gBench.running && !gBench.workers.AnyRunning()) BenchEnded();
    // The time left moves on without events.
    static uint64_t lastPaint = 0;
    if (changed || now - lastPaint >= 1000) {
        InvalidateTiles();
        lastPaint = now;
    }
}

bool UnitsInHand() {
    for (const auto& t : gBench.tiles)
        if (UnitInHand(t)) return true;
    return false;
}

// The system asks whether the session may end: not while a unit is being written, with the
// reason the system shows; a critical end cannot be refused.
LRESULT QueryEndSession(LPARAM lParam) {
    if (!UnitsInHand() || (lParam & ENDSESSION_CRITICAL) != 0) return TRUE;
    if (!gBench.shutdownBlocked)
        gBench.shutdownBlocked = ShutdownBlockReasonCreate(gBench.window, SHUTDOWN_BLOCK_REASON);
    return FALSE;
}

// The session ends, and this process as soon as this returns: each worker ends its unit in hand
// and records it, if it can in the time the system gives.
void EndSession(WPARAM ending) {
    if (ending == FALSE || !gBench.workers.AnyRunning()) return;
    gBench.workers.Interrupt();
    gBench.workers.WaitForAll(CLOSE_WAIT_MS);
}

void ReleaseShutdownBlock() {
    if (gBench.shutdownBlocked && !UnitsInHand()) {
        ShutdownBlockReasonDestroy(gBench.window);
        gBench.shutdownBlocked = false;
    }
}

// Closing asks first while a unit is being written; a bench that goes on is stopped, and its
// workers get a moment to record the units they had in hand.
void Close() {
    if (UnitsInHand() && MessageBoxA(gBench.window, MSG_CLOSE_DURING_RUN, CAPTION_CLOSE_DURING_RUN,
                                     MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES)
        return;
    if (gBench.workers.AnyRunning()) {
        gBench.workers.Interrupt();
        gBench.workers.WaitForAll(CLOSE_WAIT_MS);
    }
    SaveChoices();
    DestroyWindow(gBench.window);
}

// What the console program carries and which ports it finds.
void AskConsoleProgram(std::vector<std::string>* ports) {
    std::string output, error;
    std::string text;
    std::string program = WorkerArguments(gBench.console, "", "")[0];
    std::string quoted = "\"" + program + "\"";
    ImageInfo info;
    if (!RunConsoleProgram(quoted + " --version", CONSOLE_ANSWER_MS, &output, &error))
        text = "Cannot run " + gBench.console + ": " + error;
    else if (!ParseVersion(output, &info))
        text = "The console program carries no image: " + gBench.console;
    else
        text = "Image: " + ImageText(info);
    SetWindowTextA(gBench.imageText, text.c_str());
    output.clear();
    error.clear();
    if (RunConsoleProgram(quoted + " --list-ports", CONSOLE_ANSWER_MS, &output, &error))
        *ports = ParseListedPorts(output);
}

void Create(HWND window) {
    gBench.window = window;
    gBench.dpi = DpiOf(window);
    MakeFonts();
    gBench.console = ProgramDirectory() + "\\" + CONSOLE_PROGRAM;
    Settings s = LoadSettings();
    gBench.imageText = Control("STATIC", "", SS_LEFT | SS_NOPREFIX, -1);
    gBench.recordLabel = Control("STATIC", "Record &file:", SS_LEFT, -1);
    gBench.recordEdit =
        Control("EDIT", s.recordFile.empty() ? DefaultRecordFile().c_str() : s.recordFile.c_str(),
                WS_TABSTOP | ES_AUTOHSCROLL, ID_RECORD);
    gBench.portsLabel = Control("STATIC", "Ports:", SS_LEFT, -1);
    std::vector<std::string> ports;
    AskConsoleProgram(&ports);
    std::vector<std::string> remembered = SplitPorts(s.ports);
    for (size_t i = 0; i < ports.size() && i < static_cast<size_t>(MAX_TILES); ++i) {
        HWND box = Control("BUTTON", ports[i].c_str(), WS_TABSTOP | BS_AUTOCHECKBOX | BS_NOTIFY,
                           ID_PORT0 + static_cast<int>(i));
        for (const auto& r : remembered)
            if (r == ports[i]) SendMessageA(box, BM_SETCHECK, BST_CHECKED, 0);
        gBench.portChecks.push_back(box);
        gBench.portNames.push_back(ports[i]);
    }
    gBench.otherLabel = Control("STATIC", "&Other ports:", SS_LEFT, -1);
    gBench.otherEdit = Control("EDIT", s.otherPorts.c_str(), WS_TABSTOP | ES_AUTOHSCROLL, ID_OTHER);
    gBench.start = Control("BUTTON", START_TEXT, WS_TABSTOP | BS_PUSHBUTTON, ID_START);
    gBench.beep = Control("BUTTON", "Beep on each &result", WS_TABSTOP | BS_AUTOCHECKBOX, ID_BEEP);
    SendMessageA(gBench.beep, BM_SETCHECK, s.beep ? BST_CHECKED : BST_UNCHECKED, 0);
    gBench.tally = Control("STATIC", "", SS_LEFT | SS_NOPREFIX, -1);
    for (HWND& r : gBench.resultColumns) r = Control("STATIC", "", SS_LEFT | SS_NOPREFIX, -1);
    MakeFonts();
    Layout();
    ShowChosenPorts();
    SetTimer(window, FOLLOW_TIMER, FOLLOW_MS, nullptr);
}

void Paint(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    BenchPicture p;
    p.tiles = &gBench.tiles;
    p.nowMs = NowMs();
    p.dpi = gBench.dpi;
    PaintBench(dc, TilesArea(), p);
    EndPaint(window, &ps);
}

void Command(int id, int code) {
    if (id == ID_START && code == BN_CLICKED) {
        if (gBench.running)
            StopBench();
        else
            StartBench();
    } else if (id >= ID_PORT0 && code == BN_CLICKED) {
        ShowChosenPorts();
    } else if (id == ID_OTHER && code == EN_CHANGE) {
        ShowChosenPorts();
    }
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            Create(window);
            return 0;
        case WM_SIZE:
            if (gBench.start != nullptr) Layout();
            return 0;
        case WM_DPICHANGED: {
            gBench.dpi = HIWORD(wParam);
            const RECT* r = reinterpret_cast<const RECT*>(lParam);
            MakeFonts();
            SetWindowPos(window, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            Layout();
            return 0;
        }
        case WM_PAINT:
            Paint(window);
            return 0;
        case WM_ERASEBKGND: {
            // The tiles' area is painted whole by WM_PAINT; the rest is erased around it.
            RECT client, tiles = TilesArea();
            GetClientRect(window, &client);
            HRGN rest = CreateRectRgnIndirect(&client);
            HRGN hole = CreateRectRgnIndirect(&tiles);
            CombineRgn(rest, rest, hole, RGN_DIFF);
            FillRgn(reinterpret_cast<HDC>(wParam), rest, GetSysColorBrush(COLOR_BTNFACE));
            DeleteObject(rest);
            DeleteObject(hole);
            return 1;
        }
        case WM_TIMER:
            if (wParam == FOLLOW_TIMER) {
                FollowWorkers();
                ReleaseShutdownBlock();
            }
            return 0;
        case WM_QUERYENDSESSION:
            return QueryEndSession(lParam);
        case WM_ENDSESSION:
            EndSession(wParam);
            return 0;
        case WM_COMMAND:
            Command(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case WM_ACTIVATE:
            // The keyboard comes back to the control that had it.
            if (LOWORD(wParam) == WA_INACTIVE)
                gBench.lastFocus = GetFocus();
            else
                SetFocus(gBench.lastFocus != nullptr ? gBench.lastFocus : gBench.start);
            return 0;
        case WM_GETMINMAXINFO: {
            auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMinTrackSize.x = Scale(480);
            info->ptMinTrackSize.y = Scale(420);
            return 0;
        }
        case WM_CLOSE:
            Close();
            return 0;
        case WM_DESTROY:
            KillTimer(window, FOLLOW_TIMER);
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

}  // namespace plcbench

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    using namespace plcbench;
    BecomeDpiAware();
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProcedure;
    wc.hInstance = instance;
    wc.lpszClassName = CLASS_NAME;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(_ICON));
    wc.hIconSm = wc.hIcon;
    if (!RegisterClassExA(&wc)) return 1;
    // The controls are reached with Tab, as in a dialog.
    HWND window = CreateWindowExA(WS_EX_CONTROLPARENT, CLASS_NAME, TITLE,
                                  WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 1000, 740, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 1;
    ShowWindow(window, show);
    UpdateWindow(window);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (IsDialogMessageA(window, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
