#include "win32/clip_win.h"

#include "win32/dialog_template_win.h"

namespace tessel {
namespace {

constexpr UINT_PTR kFrameTimer = 1;

struct Clip {
    HBITMAP strip = nullptr;
    int frames = 0;
    int frameWidth = 0;
    int height = 0;
    int from = 0, to = 0, frame = 0;
};

Clip* ClipOf(HWND hwnd)
{
    return reinterpret_cast<Clip*>(GetWindowLongPtrW(hwnd, 0));
}

void Paint(HWND hwnd, Clip* clip)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT client;
    GetClientRect(hwnd, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    if (clip && clip->strip) {
        HDC source = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(source, clip->strip);
        BitBlt(dc, (client.right - clip->frameWidth) / 2, (client.bottom - clip->height) / 2, clip->frameWidth,
               clip->height, source, clip->frame * clip->frameWidth, 0, SRCCOPY);
        SelectObject(source, old);
        DeleteDC(source);
    }
    EndPaint(hwnd, &ps);
}

LRESULT CALLBACK ClipProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    Clip* clip = ClipOf(hwnd);
    switch (message) {
    case WM_CREATE:
        SetWindowLongPtrW(hwnd, 0, reinterpret_cast<LONG_PTR>(new Clip));
        return 0;
    case WM_NCDESTROY:
        if (clip) {
            if (clip->strip) DeleteObject(clip->strip);
            delete clip;
        }
        SetWindowLongPtrW(hwnd, 0, 0);
        break;
    case WM_TIMER:
        if (clip && wParam == kFrameTimer) {
            clip->frame = clip->frame >= clip->to ? clip->from : clip->frame + 1;
            InvalidateRect(hwnd, nullptr, FALSE);
        }
        return 0;
    case WM_PAINT:
        Paint(hwnd, clip);
        return 0;
    case WM_NCHITTEST:
        return HTTRANSPARENT;
    default:
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

bool RegisterClipClass(HINSTANCE instance)
{
    return RegisterControlClass(instance, ClipProc, L"TesselClip", reinterpret_cast<LPCWSTR>(IDC_ARROW));
}

bool ClipOpen(HWND hwnd, int resource, int frames)
{
    Clip* clip = hwnd ? ClipOf(hwnd) : nullptr;
    if (!clip || frames <= 0) return false;
    auto* strip = static_cast<HBITMAP>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resource), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    if (!strip) return false;
    BITMAP info{};
    GetObjectW(strip, sizeof(info), &info);
    if (clip->strip) DeleteObject(clip->strip);
    clip->strip = strip;
    clip->frames = frames;
    clip->frameWidth = info.bmWidth / frames;
    clip->height = info.bmHeight;
    clip->frame = 0;
    InvalidateRect(hwnd, nullptr, FALSE);
    return true;
}

void ClipPlay(HWND hwnd, int from, int to, int frameMs)
{
    Clip* clip = hwnd ? ClipOf(hwnd) : nullptr;
    if (!clip || !clip->strip || from < 0 || to < from || to >= clip->frames) return;
    clip->from = from;
    clip->to = to;
    clip->frame = from;
    SetTimer(hwnd, kFrameTimer, static_cast<UINT>(frameMs), nullptr);
}

void ClipStop(HWND hwnd)
{
    if (hwnd) KillTimer(hwnd, kFrameTimer);
}

void ClipClose(HWND hwnd)
{
    Clip* clip = hwnd ? ClipOf(hwnd) : nullptr;
    ClipStop(hwnd);
    if (!clip) return;
    if (clip->strip) DeleteObject(clip->strip);
    clip->strip = nullptr;
    InvalidateRect(hwnd, nullptr, TRUE);
}

}  // namespace tessel
