#include "controls/dataexchange.h"

#include <QLineEdit>
#include <QVariant>

namespace tessel {
namespace {
constexpr const char* kCtrlIdProperty = "tesselCtrlId";
}

void SetDlgCtrlID(QWidget* control, int id)
{
    control->setProperty(kCtrlIdProperty, id);
}

int GetDlgCtrlID(const QWidget* control)
{
    return control ? control->property(kCtrlIdProperty).toInt() : 0;
}

QWidget* GetDlgItem(const QWidget* parent, int id)
{
    if (!parent || id == 0)
        return nullptr;
    // Direct children only: a control's own parts carry small numbers of
    // their own that must not be mistaken for the dialog's.
    const auto children = parent->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        if (GetDlgCtrlID(child) == id)
            return child;
    }
    return nullptr;
}

void CDataExchange::PrepareCtrl(QWidget* control)
{
    m_pLastCtrl = control;
    m_bEditLastCtrl = false;
}

void CDataExchange::PrepareEditCtrl(QWidget* control)
{
    m_pLastCtrl = control;
    m_bEditLastCtrl = true;
}

bool CDataExchange::Fail()
{
    m_bFailed = true;
    if (m_pLastCtrl) {
        m_pLastCtrl->setFocus(Qt::OtherFocusReason);
        if (m_bEditLastCtrl) {
            if (auto* edit = qobject_cast<QLineEdit*>(m_pLastCtrl))
                edit->selectAll();
        }
    }
    return false;
}

}  // namespace tessel
