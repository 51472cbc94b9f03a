#include "packager/widgets/dib_win32.h"

#include <cstdio>
#include <vector>

#include "packager/widgets/dib_layout.h"

void CGdiObject::DeleteObject() {
    if (m_hObject)
        ::DeleteObject(m_hObject);
    m_hObject = nullptr;
}

// ---- CDib ----------------------------------------------------------------------

CDib::~CDib() {
    Free();
}

void CDib::Free() {
    DeleteObject();
    if (m_bOwned && m_pInfo)
        delete[] reinterpret_cast<const uint8_t*>(m_pInfo);
    m_pInfo = nullptr;
    m_nSize = 0;
    m_bOwned = 1;
}

int CDib::Width() const {
    return m_pInfo ? m_pInfo->bmiHeader.biWidth : 0;
}

int CDib::Height() const {
    if (!m_pInfo)
        return 0;
    int h = m_pInfo->bmiHeader.biHeight;
    return h < 0 ? -h : h;
}

const uint8_t* CDib::Bits() const {
    DibInfo info;
    ReadDibInfo(reinterpret_cast<const uint8_t*>(m_pInfo), m_nSize, info);
    uint64_t offset = DibPixelOffset(info);
    if (info.compression == BI_BITFIELDS && info.headerSize == kDibHeaderBytes)
        offset += 12;
    return reinterpret_cast<const uint8_t*>(m_pInfo) + offset;
}

bool CDib::LoadFromResource(unsigned id) {
    // One bitmap per object: an earlier one is released first.
    Free();
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC res = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(2) /* RT_BITMAP */);
    if (!res)
        return false;
    HGLOBAL mem = LoadResource(module, res);
    const uint8_t* data = mem ? static_cast<const uint8_t*>(LockResource(mem)) : nullptr;
    size_t size = SizeofResource(module, res);
    if (!data || !DibIsDrawable(data, size))
        return false;
    m_pInfo = reinterpret_cast<const BITMAPINFO*>(data);
    m_nSize = size;
    m_bOwned = 0;
    return MakePalette();
}

bool CDib::LoadFromFile(const std::string& path) {
    Free();
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n;
    // Bounded: no picture the widgets can draw is larger than this.
    constexpr size_t kMaxFile = size_t(256) << 20;
    while ((n = std::fread(chunk, 1, sizeof(chunk), f)) > 0 && bytes.size() <= kMaxFile)
        bytes.insert(bytes.end(), chunk, chunk + n);
    bool readError = std::ferror(f) != 0;
    std::fclose(f);
    if (readError || bytes.size() <= 14 || bytes.size() > kMaxFile)
        return false;
    const uint8_t* packed = bytes.data() + 14;
    size_t size = bytes.size() - 14;
    // A broken picture would make the drawing read past its end: refuse it here,
    // and the window shows nothing for it.
    if (!DibIsDrawable(packed, size))
        return false;
    uint8_t* copy = new uint8_t[size];
    std::copy(packed, packed + size, copy);
    m_pInfo = reinterpret_cast<const BITMAPINFO*>(copy);
    m_nSize = size;
    m_bOwned = 1;
    return MakePalette();
}

bool CDib::MakePalette() {
    DeleteObject();
    std::vector<PaletteColor> colors =
        DibPalette(reinterpret_cast<const uint8_t*>(m_pInfo), m_nSize);
    if (colors.empty())
        return false;
    std::vector<uint8_t> buffer(sizeof(LOGPALETTE) + colors.size() * sizeof(PALETTEENTRY));
    LOGPALETTE* lp = reinterpret_cast<LOGPALETTE*>(buffer.data());
    lp->palVersion = 0x300;
    lp->palNumEntries = static_cast<WORD>(colors.size());
    PALETTEENTRY* entries = lp->palPalEntry;
    for (size_t i = 0; i < colors.size(); ++i)
        entries[i] = PALETTEENTRY{colors[i].red, colors[i].green, colors[i].blue, 0};
    m_hObject = CreatePalette(lp);
    return m_hObject != nullptr;
}

bool CDib::Draw(HDC dc) {
    if (!m_pInfo)
        return true;
    HPALETTE old = nullptr;
    if (Palette()) {
        old = SelectPalette(dc, Palette(), FALSE);
        RealizePalette(dc);
    }
    SetDIBitsToDevice(dc, 0, 0, Width(), Height(), 0, 0, 0, Height(), Bits(), m_pInfo,
                      DIB_RGB_COLORS);
    if (old)
        SelectPalette(dc, old, FALSE);
    return true;
}

bool CDib::DrawRect(HDC dc, int dl, int dt, int dr, int db, int sl, int st, int sr, int sb) {
    if (!m_pInfo)
        return true;
    HPALETTE old = nullptr;
    if (Palette()) {
        old = SelectPalette(dc, Palette(), FALSE);
        RealizePalette(dc);
    }
    int dw = dr - dl, dh = db - dt, sw = sr - sl, sh = sb - st;
    bool ok = true;
    if (dw == sw && dh == sh) {
        HDC mem = CreateCompatibleDC(dc);
        HBITMAP bmp =
            mem ? CreateDIBitmap(dc, &m_pInfo->bmiHeader, CBM_INIT, Bits(), m_pInfo, DIB_RGB_COLORS)
                : nullptr;
        if (mem && bmp) {
            HGDIOBJ prev = SelectObject(mem, bmp);
            ok = BitBlt(dc, dl, dt, dw, dh, mem, sl, st, SRCCOPY) != 0;
            SelectObject(mem, prev);
        } else {
            ok = false;
        }
        if (bmp)
            ::DeleteObject(bmp);
        if (mem)
            DeleteDC(mem);
    } else {
        // StretchDIBits counts source rows from the bottom of the picture.
        int sy = Height() - sb;
        ok = StretchDIBits(dc, dl, dt, dw, dh, sl, sy, sw, sh, Bits(), m_pInfo, DIB_RGB_COLORS,
                           SRCCOPY) > 0;
    }
    if (old)
        SelectPalette(dc, old, FALSE);
    return ok;
}

int CDib::RealizeFor(HDC dc, HWND wnd) {
    if (!Palette())
        return 0;
    HPALETTE old = SelectPalette(dc, Palette(), FALSE);
    UINT changed = RealizePalette(dc);
    if (old)
        SelectPalette(dc, old, FALSE);
    int n = changed == GDI_ERROR ? 0 : static_cast<int>(changed);
    if (n != 0)
        InvalidateRect(wnd, nullptr, TRUE);
    return n;
}

// ---- CDibWnd -------------------------------------------------------------------

CDibWnd::~CDibWnd() {
    m_dib.Free();
}

const char* CDibWnd::ClassName() {
    static const char* const kName = "QuillboxDibWnd";
    fw::CWnd::RegisterWindowClass(kName, CS_DBLCLKS, nullptr, nullptr, nullptr);
    return kName;
}

LRESULT CDibWnd::OnPaletteMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_PALETTECHANGED && reinterpret_cast<HWND>(wParam) == m_hWnd)
        return 0;
    HDC dc = GetDC(m_hWnd);
    int n = m_dib.RealizeFor(dc, m_hWnd);
    ReleaseDC(m_hWnd, dc);
    if (n != 0)
        return n;
    return Default(msg, wParam, lParam);
}

LRESULT CDibWnd::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(m_hWnd, &ps);
            const RECT& r = ps.rcPaint;
            m_dib.DrawRect(dc, r.left, r.top, r.right, r.bottom, r.left, r.top, r.right, r.bottom);
            EndPaint(m_hWnd, &ps);
            return 0;
        }
        case WM_QUERYNEWPALETTE:
        case WM_PALETTECHANGED:
            return OnPaletteMessage(msg, wParam, lParam);
    }
    return Default(msg, wParam, lParam);
}

// ---- CDibButton ----------------------------------------------------------------

CDibButton::~CDibButton() {
    if (m_pFocusPen)
        ::DeleteObject(m_pFocusPen);
}

bool CDibButton::Create(const char* caption, const RECT& rc, HWND parent, int id) {
    static const char* const kClass = "QuillboxDibButton";
    fw::CWnd::RegisterWindowClass(kClass, CS_DBLCLKS, nullptr, nullptr, nullptr);
    if (!CreateEx(0, kClass, caption, WS_CHILD | WS_VISIBLE, rc.left, rc.top, rc.right - rc.left,
                  rc.bottom - rc.top, parent, static_cast<UINT_PTR>(id)))
        return false;
    ShowWindow(m_hWnd, SW_SHOW);
    return true;
}

void CDibButton::DrawFocusFrame(HDC dc, RECT rc) {
    rc.left += 4;
    rc.top += 4;
    rc.right -= 5;
    rc.bottom -= 5;
    HGDIOBJ oldPen = SelectObject(
        dc, m_pFocusPen ? static_cast<HGDIOBJ>(m_pFocusPen) : GetStockObject(BLACK_PEN));
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(HOLLOW_BRUSH));
    SetBkColor(dc, RGB(0, 0, 255));
    Rectangle(dc, rc.left, rc.top, rc.right, rc.bottom);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
}

void CDibButton::PostClick() {
    int id = GetDlgCtrlID(m_hWnd);
    PostMessageA(GetParent(m_hWnd), WM_COMMAND, MAKEWPARAM(id, 0),
                 reinterpret_cast<LPARAM>(m_hWnd));
}

LRESULT CDibButton::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_CREATE:
            if (Default(msg, wParam, lParam) == -1)
                return -1;
            m_pFocusPen = CreatePen(PS_DOT, 1, RGB(192, 192, 192));
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(m_hWnd, &ps);
            RECT r = ps.rcPaint;
            bool focused = GetFocus() == m_hWnd;
            if (m_bPressed) {
                HGDIOBJ oldPen = SelectObject(dc, GetStockObject(BLACK_PEN));
                HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(HOLLOW_BRUSH));
                Rectangle(dc, r.left, r.top, r.right, r.bottom);
                SelectObject(dc, oldBrush);
                SelectObject(dc, oldPen);
                RECT r2 = r;
                OffsetRect(&r2, 1, 1);
                m_dib.DrawRect(dc, r2.left, r2.top, r2.right, r2.bottom, r.left, r.top, r.right,
                               r.bottom);
                if (focused)
                    DrawFocusFrame(dc, r2);
            } else {
                m_dib.Draw(dc);
                if (focused)
                    DrawFocusFrame(dc, r);
            }
            EndPaint(m_hWnd, &ps);
            return 0;
        }
        case WM_LBUTTONDOWN:
            SetCapture(m_hWnd);
            m_bPressed = 1;
            SetFocus(m_hWnd);
            SendMessageA(GetParent(m_hWnd), kMsgButtonFocus, 0, 0);
            InvalidateRect(m_hWnd, nullptr, TRUE);
            UpdateWindow(m_hWnd);
            return Default(msg, wParam, lParam);
        case WM_MOUSEMOVE:
            if (GetCapture() == m_hWnd) {
                RECT rc;
                GetClientRect(m_hWnd, &rc);
                POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
                int pressed = PtInRect(&rc, pt) ? 1 : 0;
                if (pressed != m_bPressed) {
                    m_bPressed = pressed;
                    InvalidateRect(m_hWnd, nullptr, TRUE);
                }
            }
            return Default(msg, wParam, lParam);
        case WM_LBUTTONUP:
            m_bPressed = 0;
            if (GetCapture() == m_hWnd) {
                ReleaseCapture();
                InvalidateRect(m_hWnd, nullptr, TRUE);
                UpdateWindow(m_hWnd);
                RECT rc;
                GetClientRect(m_hWnd, &rc);
                POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
                if (PtInRect(&rc, pt))
                    PostClick();
            }
            return Default(msg, wParam, lParam);
        case WM_SETFOCUS: {
            LRESULT r = Default(msg, wParam, lParam);
            RECT rc;
            GetClientRect(m_hWnd, &rc);
            HDC dc = GetDC(m_hWnd);
            DrawFocusFrame(dc, rc);
            ReleaseDC(m_hWnd, dc);
            return r;
        }
        case WM_KILLFOCUS: {
            LRESULT r = Default(msg, wParam, lParam);
            m_bPressed = 0;
            InvalidateRect(m_hWnd, nullptr, TRUE);
            return r;
        }
        case WM_KEYDOWN:
            if (wParam == VK_SPACE) {
                int was = m_bPressed;
                m_bPressed = 1;
                if (was != 1) {
                    InvalidateRect(m_hWnd, nullptr, TRUE);
                    UpdateWindow(m_hWnd);
                }
            }
            return Default(msg, wParam, lParam);
        case WM_KEYUP:
            if (wParam == VK_SPACE) {
                m_bPressed = 0;
                InvalidateRect(m_hWnd, nullptr, TRUE);
                UpdateWindow(m_hWnd);
                PostClick();
            }
            return Default(msg, wParam, lParam);
        case WM_QUERYNEWPALETTE:
        case WM_PALETTECHANGED:
            return OnPaletteMessage(msg, wParam, lParam);
    }
    return Default(msg, wParam, lParam);
}
