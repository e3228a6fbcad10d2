#include "app/window_front_end.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QItemSelectionModel>

#include "app/ipaddrctl.h"
#include "app/messagebox.h"

namespace tessel {

int FirstSelectedRow(const QAbstractItemView& list)
{
    const QItemSelectionModel* selection = list.selectionModel();
    if (!selection) return -1;
    int first = -1;
    for (const QModelIndex& index : selection->selectedIndexes())
        if (first < 0 || index.row() < first) first = index.row();
    return first;
}

CWindowSetIpFrontEnd::CWindowSetIpFrontEnd(Parts parts) : m_parts(std::move(parts)) {}

CWindowSetIpFrontEnd::~CWindowSetIpFrontEnd()
{
    SetWaitCursor(false);
}

MsgAnswer CWindowSetIpFrontEnd::ShowBox(const BoxStyle& box)
{
    return ShowMessageBox(m_parts.window, box.id, box.buttons, box.icon, box.defaultButton);
}

std::optional<Ipv4Bytes> CWindowSetIpFrontEnd::ReadAddress()
{
    IPAddrData data;
    if (!m_parts.address || m_parts.address->GetAddress(true, &data) == 0) return std::nullopt;
    return Ipv4Bytes{data.octets[0], data.octets[1], data.octets[2], data.octets[3]};
}

void CWindowSetIpFrontEnd::FocusField(int field)
{
    CIPAddrEdit* edit = m_parts.address ? m_parts.address->GetField(field) : nullptr;
    if (!edit) return;
    edit->setFocus(Qt::OtherFocusReason);
    // The whole text selected, the caret at its end in view.
    edit->selectAll();
}

std::optional<std::string> CWindowSetIpFrontEnd::SelectedSerial()
{
    if (!m_parts.list || !m_parts.list->model()) return std::nullopt;
    const int row = FirstSelectedRow(*m_parts.list);
    if (row < 0) return std::nullopt;
    return m_parts.list->model()->index(row, 0).data().toString().toStdString();
}

void CWindowSetIpFrontEnd::SetWaitCursor(bool on)
{
    if (on == m_bWaitCursor) return;
    m_bWaitCursor = on;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void CWindowSetIpFrontEnd::OpenValidating()
{
    m_validating = std::make_unique<CProgressWindow>(ValidatingTemplate(), m_parts.window);
    m_validating->ShowNow();
}

void CWindowSetIpFrontEnd::CloseValidating()
{
    if (m_validating) m_validating->close();
    m_validating.reset();
}

void CWindowSetIpFrontEnd::OpenStage(int textId)
{
    m_stage = std::make_unique<CStageDlg>(m_parts.window);
    m_stage->SetStageText(textId);
    m_stage->ShowNow();
}

void CWindowSetIpFrontEnd::SetStageText(int textId)
{
    if (m_stage) m_stage->SetStageText(textId);
}

void CWindowSetIpFrontEnd::SetBar(int position)
{
    if (m_stage) m_stage->SetBar(position);
}

void CWindowSetIpFrontEnd::Repaint()
{
    if (m_parts.window) m_parts.window->repaint();
    if (m_stage) m_stage->repaint();
}

void CWindowSetIpFrontEnd::CloseStage()
{
    if (m_stage) m_stage->close();
    m_stage.reset();
}

}  // namespace tessel
