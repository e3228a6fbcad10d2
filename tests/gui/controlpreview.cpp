#include "tests/gui/controlpreview.h"

#include <QLabel>

#include "app/ipaddrctl.h"
#include "resources/texts.h"
#include "app/dialogunits.h"

namespace tessel {

CControlPreviewDlg::CControlPreviewDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("%1 - address control preview").arg(QString::fromUtf8(TextOf(IDS_PROGRAM_TITLE))));
    setFont(DialogFont(kMainDialogFontPoints));
    const DialogUnits du(font());

    constexpr int kLabelX = 7;
    constexpr int kControlX = 52;
    constexpr int kFirstRowY = 7;
    constexpr int kRowStep = 20;
    const std::array<const char*, 3> labels{"Enabled", "Disabled", "Read-only"};
    const std::array<std::uint8_t, 4> sample{192, 168, 255, 100};

    for (std::size_t i = 0; i < m_controls.size(); ++i) {
        const int y = kFirstRowY + static_cast<int>(i) * kRowStep;
        auto* label = new QLabel(QString::fromLatin1(labels[i]), this);
        label->setGeometry(du.toPixels(kLabelX, y + 2, kControlX - kLabelX, 10));
        auto* control = new CIPAddrCtl(this, IPAS_NOVALIDATE);
        control->setGeometry(du.toPixels(kControlX, y, kAddressWidthDlu, kAddressHeightDlu));
        control->SetAddress(sample.data());
        m_controls[i] = control;
    }
    Disabled()->setEnabled(false);
    ReadOnly()->SetReadOnly(true);

    setFixedSize(du.toPixels(kControlX + kAddressWidthDlu + 7, kFirstRowY + 2 * kRowStep + kAddressHeightDlu + 7));
}

}  // namespace tessel
