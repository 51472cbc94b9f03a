// Pictures of the packager's windows: CDib holds one packed device-independent
// bitmap with the palette made from its colour table; CDibWnd is a child window
// that shows one and keeps its colours right when the system palette changes;
// CDibButton is a CDibWnd that behaves as a push button.
#pragma once

#include "platform/win32/framework.h"

#include <cstdint>
#include <string>

// The framework's GDI object: the handle is deleted with the object.
class CGdiObject {
  public:
    CGdiObject() = default;
    virtual ~CGdiObject() { DeleteObject(); }
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;
    void DeleteObject();
    HGDIOBJ m_hObject = nullptr;
};

class CDib : public CGdiObject {
  public:
    CDib() = default;
    ~CDib() override;

    // The bitmap resource `id` of the program itself (never freed); true when a
    // palette was made. False when the resource is missing or broken.
    bool LoadFromResource(unsigned id);
    // A bitmap file: the 14-byte file header is skipped, the rest is the packed
    // bitmap. True when a palette was made; false when the file cannot be read or
    // is not a picture that can be drawn safely (then nothing is held).
    bool LoadFromFile(const std::string& path);
    // Replaces the palette with one made from the colour table; true when attached.
    bool MakePalette();
    // The whole bitmap at (0, 0); true.
    bool Draw(HDC dc);
    // The source rectangle into the destination rectangle (stretched when the sizes
    // differ); false when drawing failed.
    bool DrawRect(HDC dc, int dl, int dt, int dr, int db, int sl, int st, int sr, int sb);
    // Realises the palette into dc; invalidates `wnd` when colours changed. The
    // number of changed colours, 0 without a palette.
    int RealizeFor(HDC dc, HWND wnd);
    // Deletes the palette; frees the bitmap if owned and forgets it.
    void Free();

    bool IsLoaded() const { return m_pInfo != nullptr; }
    int Width() const;
    int Height() const;
    HPALETTE Palette() const { return static_cast<HPALETTE>(m_hObject); }

    const BITMAPINFO* m_pInfo = nullptr;
    int m_bOwned = 1;

  private:
    const uint8_t* Bits() const;
    size_t m_nSize = 0;
};

class CDibWnd : public fw::CWnd {
  public:
    CDibWnd() = default;
    explicit CDibWnd(unsigned resourceId) { m_dib.LoadFromResource(resourceId); }
    ~CDibWnd() override;

    virtual bool LoadDibFile(const std::string& path) { return m_dib.LoadFromFile(path); }
    virtual bool LoadDibResource(unsigned id) { return m_dib.LoadFromResource(id); }

    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

    // Registers the class of bitmap windows: double clicks, nothing else.
    static const char* ClassName();

    CDib m_dib;

  protected:
    // WM_QUERYNEWPALETTE and WM_PALETTECHANGED: realise on a window context.
    LRESULT OnPaletteMessage(UINT msg, WPARAM wParam, LPARAM lParam);
};

// Sent by a bitmap button to its parent after it took the focus.
constexpr UINT kMsgButtonFocus = WM_USER + 1000;

class CDibButton : public CDibWnd {
  public:
    explicit CDibButton(unsigned resourceId) : CDibWnd(resourceId) {}
    ~CDibButton() override;

    // Creates the button as a visible child with the caption, rectangle and id.
    bool Create(const char* caption, const RECT& rc, HWND parent, int id);
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

    int m_bPressed = 0;
    HPEN m_pFocusPen = nullptr;

  private:
    void DrawFocusFrame(HDC dc, RECT rc);
    void PostClick();
};
