// Lists the top-level windows of the desktop with their children, for the GUI end-to-end test:
// one line per window with its class, text, state and the centre of its screen rectangle (where
// a click lands), and the entries of every combo box.
//
//   window 0x00010064 class="WindowsApp" text="Korvel PLC ..." visible enabled at=272,102
//       size=544x205 rect=0,0,544,205 client=3,22
//     child 0x00010066 id=2 class="Button" text="Start Burn" visible enabled focused at=63,150
//     item 0 "USB" selected
//
// With --end-session CLASS it plays the system at the end of a session that cannot be refused:
// WM_QUERYENDSESSION with ENDSESSION_CRITICAL to the top-level window of that class, then
// WM_ENDSESSION, and prints "query ANSWER".
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

// Quotes a window text on one line: quotes, backslashes and line breaks escaped.
void PutQuoted(const char* text) {
    std::putchar('"');
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '"' || *p == '\\')
            std::printf("\\%c", *p);
        else if (*p == '\n')
            std::printf("\\n");
        else if (*p == '\r')
            std::printf("\\r");
        else
            std::putchar(*p);
    }
    std::putchar('"');
}

// Texts of another process's windows are asked for in UTF-16: Wine hands a cross-process
// combo-box entry to an ANSI caller as UTF-16 bytes.
void Narrow(const wchar_t* wide, char* out, int outBytes) {
    if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, outBytes, nullptr, nullptr) == 0)
        out[0] = '\0';
}

// Whether the window has the keyboard focus of its thread.
bool HasFocus(HWND hwnd) {
    GUITHREADINFO info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, nullptr), &info) &&
           info.hwndFocus == hwnd;
}

void PutWindow(HWND hwnd, const char* kind, int depth) {
    char cls[128] = "";
    char text[1024] = "";
    wchar_t wide[1024] = L"";
    GetClassNameA(hwnd, cls, sizeof cls);
    GetWindowTextW(hwnd, wide, 1024);
    Narrow(wide, text, sizeof text);
    RECT r = {0, 0, 0, 0};
    GetWindowRect(hwnd, &r);
    std::printf("%*s%s 0x%08llx", depth * 2, "", kind,
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hwnd)));
    if (depth > 0) std::printf(" id=%d", GetDlgCtrlID(hwnd));
    std::printf(" class=");
    PutQuoted(cls);
    std::printf(" text=");
    PutQuoted(text);
    std::printf(" %s %s%s at=%ld,%ld size=%ldx%ld rect=%ld,%ld,%ld,%ld",
                IsWindowVisible(hwnd) ? "visible" : "hidden",
                IsWindowEnabled(hwnd) ? "enabled" : "disabled", HasFocus(hwnd) ? " focused" : "",
                (r.left + r.right) / 2, (r.top + r.bottom) / 2, r.right - r.left, r.bottom - r.top,
                r.left, r.top, r.right, r.bottom);
    if (depth == 0) {
        // Where the client area starts on the screen: what the panel's coordinates count from.
        POINT origin = {0, 0};
        ClientToScreen(hwnd, &origin);
        std::printf(" client=%ld,%ld", origin.x, origin.y);
    }
    std::printf("\n");

    if (_stricmp(cls, "ComboBox") == 0) {
        const LRESULT count = SendMessageA(hwnd, CB_GETCOUNT, 0, 0);
        const LRESULT selected = SendMessageA(hwnd, CB_GETCURSEL, 0, 0);
        for (LRESULT i = 0; i < count && i < 256; ++i) {
            wchar_t wideItem[512] = L"";
            char item[1024] = "";
            if (SendMessageW(hwnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) >= 512) continue;
            SendMessageW(hwnd, CB_GETLBTEXT, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(wideItem));
            Narrow(wideItem, item, sizeof item);
            std::printf("%*sitem %ld ", depth * 2 + 2, "", static_cast<long>(i));
            PutQuoted(item);
            std::printf("%s\n", i == selected ? " selected" : "");
        }
    }
}

BOOL CALLBACK OnChild(HWND hwnd, LPARAM) {
    PutWindow(hwnd, "child", 1);
    return TRUE;
}

BOOL CALLBACK OnTopLevel(HWND hwnd, LPARAM all) {
    if (all == 0 && !IsWindowVisible(hwnd)) return TRUE;
    PutWindow(hwnd, "window", 0);
    EnumChildWindows(hwnd, OnChild, 0);
    return TRUE;
}

int EndSession(const char* windowClass) {
    HWND hwnd = FindWindowA(windowClass, nullptr);
    if (hwnd == nullptr) {
        std::fprintf(stderr, "wintexts: no window of class %s\n", windowClass);
        return 1;
    }
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutA(hwnd, WM_QUERYENDSESSION, 0, ENDSESSION_CRITICAL, SMTO_NORMAL, 5000,
                            &answer) == 0) {
        std::fprintf(stderr, "wintexts: no answer to WM_QUERYENDSESSION\n");
        return 1;
    }
    std::printf("query %lu\n", static_cast<unsigned long>(answer));
    std::fflush(stdout);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(hwnd, WM_ENDSESSION, TRUE, ENDSESSION_CRITICAL, SMTO_NORMAL, 5000,
                        &ignored);
    return 0;
}

}  // namespace

// wintexts [--all]: visible top-level windows only, unless --all.
// wintexts --end-session CLASS: the session's end to that window.
int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "--end-session") == 0) return EndSession(argv[2]);
    const bool all = argc > 1 && std::strcmp(argv[1], "--all") == 0;
    EnumWindows(OnTopLevel, all ? 1 : 0);
    std::fflush(stdout);
    return 0;
}
