// The main window's tab order: a list of controls and the index of the one that
// has, or last had, the focus. Plain arithmetic, tested without windows.
#pragma once

#include <cstdint>
#include <vector>

template <typename Control>
class CControlList {
  public:
    void Append(Control c) { m_controls.push_back(c); }
    int Count() const { return static_cast<int>(m_controls.size()); }
    Control At(int index) const {
        return index >= 0 && index < Count() ? m_controls[static_cast<size_t>(index)] : Control();
    }
    // Index of a control in the list, -1 when it is not there.
    int Find(Control c) const {
        for (int i = 0; i < Count(); ++i)
            if (m_controls[static_cast<size_t>(i)] == c)
                return i;
        return -1;
    }
    // Tab: index + 1, from the last control back to 0. Returns the control to focus.
    Control Next() {
        if (m_controls.empty())
            return Control();
        m_nFocus = m_nFocus + 1 >= Count() || m_nFocus < 0 ? 0 : m_nFocus + 1;
        return At(m_nFocus);
    }
    // Shift+Tab: index - 1, from 0 to the last control.
    Control Previous() {
        if (m_controls.empty())
            return Control();
        m_nFocus = m_nFocus <= 0 || m_nFocus >= Count() ? Count() - 1 : m_nFocus - 1;
        return At(m_nFocus);
    }
    // The focus notification: the index follows the focused control when it is in
    // the list, and stays where it was otherwise.
    void FocusNotified(Control focused) {
        int i = Find(focused);
        if (i >= 0)
            m_nFocus = i;
    }
    int32_t FocusIndex() const { return m_nFocus; }
    Control Focused() const { return At(m_nFocus); }
    void Clear() { m_controls.clear(); }

  private:
    std::vector<Control> m_controls;
    int32_t m_nFocus = 0;
};
