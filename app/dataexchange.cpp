#include "app/dataexchange.h"

#include <QLineEdit>

namespace tessel {

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
            if (auto* edit = qobject_cast<QLineEdit*>(m_pLastCtrl)) edit->selectAll();
        }
    }
    return false;
}

}  // namespace tessel
