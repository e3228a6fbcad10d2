#include "win32/serverlist_win.h"

#include <commctrl.h>

#include "resources/dialogs.h"
#include "resources/texts.h"
#include "win32/dialog_template_win.h"

namespace tessel {

void CServerListMirror::SetUp(HWND list)
{
    m_hList = list;
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    const int headers[] = {IDS_COLUMN_SERIAL, IDS_COLUMN_ADDRESS};
    for (int column = 0; column < 2; ++column) {
        std::wstring text = Widen(TextOf(headers[column]));
        LVCOLUMNW col{};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        col.fmt = LVCFMT_LEFT;
        col.cx = kServerListColumnWidth;
        col.pszText = text.data();
        ListView_InsertColumn(list, column, &col);
    }
}

void CServerListMirror::Follow(ServerTable* table)
{
    if (m_table) m_table->SetObserver(nullptr);
    m_table = table;
    if (!table) return;
    // The list starts as the table is, then follows it.
    for (const ServerRow& row : table->Rows()) Insert(RowCount(), Row{row.serial, row.address});
    table->SetObserver(this);
}

bool CServerListMirror::RowTexts(int row, std::string& serial, std::string& address) const
{
    if (row < 0 || row >= RowCount()) return false;
    serial = m_rows[static_cast<std::size_t>(row)].serial;
    address = m_rows[static_cast<std::size_t>(row)].address;
    return true;
}

int CServerListMirror::FirstSelectedRow() const
{
    return static_cast<int>(ListView_GetNextItem(m_hList, -1, LVNI_SELECTED));
}

void CServerListMirror::Insert(int index, const Row& row)
{
    m_rows.insert(m_rows.begin() + index, row);
    std::wstring serial = Widen(row.serial.c_str());
    std::wstring address = Widen(row.address.c_str());
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = index;
    item.pszText = serial.data();
    const int at = ListView_InsertItem(m_hList, &item);
    ListView_SetItemText(m_hList, at, 1, address.data());
}

void CServerListMirror::OnRowInserted(int index, const ServerRow& row)
{
    m_post([this, index, r = Row{row.serial, row.address}] {
        if (index >= 0 && index <= RowCount()) Insert(index, r);
    });
}

void CServerListMirror::OnRowChanged(int index, const ServerRow& row)
{
    m_post([this, index, r = Row{row.serial, row.address}] {
        if (index < 0 || index >= RowCount()) return;
        m_rows[static_cast<std::size_t>(index)] = r;
        std::wstring serial = Widen(r.serial.c_str());
        std::wstring address = Widen(r.address.c_str());
        ListView_SetItemText(m_hList, index, 0, serial.data());
        ListView_SetItemText(m_hList, index, 1, address.data());
    });
}

void CServerListMirror::OnRowDeleted(int index)
{
    m_post([this, index] {
        if (index < 0 || index >= RowCount()) return;
        m_rows.erase(m_rows.begin() + index);
        ListView_DeleteItem(m_hList, index);
    });
}

}  // namespace tessel
