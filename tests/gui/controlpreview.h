// A stand-in window until the main window exists: the address control in
// its three looks (enabled, disabled, read-only) at the size and in the
// font the main window gives it. It is not the main window.
#pragma once

#include <QDialog>

#include <array>

namespace tessel {

class CIPAddrCtl;

class CControlPreviewDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CControlPreviewDlg(QWidget* parent = nullptr);

    CIPAddrCtl* Enabled() const { return m_controls[0]; }
    CIPAddrCtl* Disabled() const { return m_controls[1]; }
    CIPAddrCtl* ReadOnly() const { return m_controls[2]; }

private:
    std::array<CIPAddrCtl*, 3> m_controls{};
};

// The address control's place in the main window, in dialog units.
inline constexpr int kAddressWidthDlu = 68;
inline constexpr int kAddressHeightDlu = 13;
// The main window's font size, in points.
inline constexpr int kMainDialogFontPoints = 10;

}  // namespace tessel
