#include "win32/serverlist_win.h"

#include <commctrl.h>

#include <algorithm>

#include "resources/dialogs.h"
#include "resources/texts.h"
#include "win32/dialog_template_win.h"

namespace tessel {

namespace {

// What the list adds to a text for its column to show it whole, at 96 dpi
// (the list's own automatic width adds 12).
constexpr int kColumnPaddingAt96 = 14;

// Every text a column holds: its header, the start-up notes, and the
// widest serial number or address.
constexpr int kColumnTexts[2][4] = {
    {IDS_COLUMN_SERIAL, IDS_NOTE_SCANNING, IDS_NOTE_RUNNING, IDS_NOTE_PREVENTS},
    {IDS_COLUMN_ADDRESS, IDS_NOTE_PLEASE_WAIT, IDS_NOTE_DHCP_SERVERS, IDS_NOTE_ADDRESSES}};
constexpr const wchar_t* kWidestValues[2] = {L"DD-DD-DD-DD-DD-DD", L"888.888.888.888"};

int WidestColumnText(HDC dc, HFONT font)
{
    const HGDIOBJ old = SelectObject(dc, font);
    int widest = 0;
    for (int column = 0; column < 2; ++column) {
        std::vector<std::wstring> texts{kWidestValues[column]};
        for (int id : kColumnTexts[column]) texts.push_back(Widen(TextOf(id)));
        for (const std::wstring& text : texts) {
            SIZE size{};
            GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
            widest = std::max<int>(widest, size.cx);
        }
    }
    SelectObject(dc, old);
    return widest;
}

}  // namespace

ServerListMirror::~ServerListMirror()
{
    if (m_hFont) DeleteObject(m_hFont);
}

void ServerListMirror::SetUp(HWND list)
{
    m_hList = list;
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    HDC dc = GetDC(list);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
    const int width = MulDiv(kServerListColumnWidth, dpi, 96);
    const int room = width - MulDiv(kColumnPaddingAt96, dpi, 96);
    const auto face = reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0));
    LOGFONTW cut{};
    if (face && WidestColumnText(dc, face) > room && GetObjectW(face, sizeof(cut), &cut)) {
        TEXTMETRICW metrics{};
        const HGDIOBJ old = SelectObject(dc, face);
        GetTextMetricsW(dc, &metrics);
        SelectObject(dc, old);
        // Narrower a step at a time, down to three quarters of the face.
        for (LONG narrower = metrics.tmAveCharWidth - 1; narrower >= metrics.tmAveCharWidth * 3 / 4 && narrower > 0;
             --narrower) {
            cut.lfWidth = narrower;
            HFONT font = CreateFontIndirectW(&cut);
            if (!font) break;
            if (m_hFont) DeleteObject(m_hFont);
            m_hFont = font;
            if (WidestColumnText(dc, font) <= room) break;
        }
        if (m_hFont) SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(m_hFont), FALSE);
    }
    ReleaseDC(list, dc);
    const int headers[] = {IDS_COLUMN_SERIAL, IDS_COLUMN_ADDRESS};
    for (int column = 0; column < 2; ++column) {
        std::wstring text = Widen(TextOf(headers[column]));
        LVCOLUMNW col{};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        col.fmt = LVCFMT_LEFT;
        col.cx = width;
        col.pszText = text.data();
        ListView_InsertColumn(list, column, &col);
    }
}

void ServerListMirror::Follow(ServerTable* table)
{
    if (m_table) m_table->SetObserver(nullptr);
    m_table = table;
    if (!table) return;
    // The list starts as the table is, then follows it.
    for (const ServerRow& row : table->Rows()) Insert(RowCount(), Row{row.serial, row.address});
    table->SetObserver(this);
}

bool ServerListMirror::RowTexts(int row, std::string& serial, std::string& address) const
{
    if (row < 0 || row >= RowCount()) return false;
    serial = m_rows[static_cast<std::size_t>(row)].serial;
    address = m_rows[static_cast<std::size_t>(row)].address;
    return true;
}

int ServerListMirror::FirstSelectedRow() const
{
    return static_cast<int>(ListView_GetNextItem(m_hList, -1, LVNI_SELECTED));
}

void ServerListMirror::Insert(int index, const Row& row)
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

void ServerListMirror::OnRowInserted(int index, const ServerRow& row)
{
    m_post([this, index, r = Row{row.serial, row.address}] {
        if (index >= 0 && index <= RowCount()) Insert(index, r);
    });
}

void ServerListMirror::OnRowChanged(int index, const ServerRow& row)
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

void ServerListMirror::OnRowDeleted(int index)
{
    m_post([this, index] {
        if (index < 0 || index >= RowCount()) return;
        m_rows.erase(m_rows.begin() + index);
        ListView_DeleteItem(m_hList, index);
    });
}

}  // namespace tessel
