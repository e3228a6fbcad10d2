#include "app/serverlistmodel.h"

namespace tessel {

ServerListItemModel::ServerListItemModel(QObject* parent) : QAbstractTableModel(parent)
{}

void ServerListItemModel::Attach(ServerTable& table)
{
    Detach();
    beginResetModel();
    m_rows.clear();
    for (const ServerRow& row : table.Rows()) m_rows.push_back(RowOf(row));
    endResetModel();
    m_pTable = &table;
    table.SetObserver(this);
}

void ServerListItemModel::Detach()
{
    if (m_pTable) m_pTable->SetObserver(nullptr);
    m_pTable = nullptr;
}

void ServerListItemModel::SetHeader(int column, const QString& text)
{
    if (column < 0 || column >= static_cast<int>(m_headers.size())) return;
    m_headers[static_cast<std::size_t>(column)] = text;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

QString ServerListItemModel::Text(int row, int column) const
{
    if (row < 0 || row >= rowCount()) return {};
    const Row& r = m_rows[static_cast<std::size_t>(row)];
    return column == 0 ? r.serial : column == 1 ? r.address : QString();
}

int ServerListItemModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int ServerListItemModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_headers.size());
}

QVariant ServerListItemModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    return Text(index.row(), index.column());
}

QVariant ServerListItemModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(m_headers.size())) return {};
    if (role == Qt::DisplayRole) return m_headers[static_cast<std::size_t>(section)];
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

ServerListItemModel::Row ServerListItemModel::RowOf(const ServerRow& row)
{
    return {QString::fromStdString(row.serial), QString::fromStdString(row.address)};
}

void ServerListItemModel::OnRowInserted(int index, const ServerRow& row)
{
    QMetaObject::invokeMethod(
        this, [this, index, r = RowOf(row)] { ApplyInsert(index, r); }, Qt::QueuedConnection);
}

void ServerListItemModel::OnRowChanged(int index, const ServerRow& row)
{
    QMetaObject::invokeMethod(
        this, [this, index, r = RowOf(row)] { ApplyChange(index, r); }, Qt::QueuedConnection);
}

void ServerListItemModel::OnRowDeleted(int index)
{
    QMetaObject::invokeMethod(
        this, [this, index] { ApplyDelete(index); }, Qt::QueuedConnection);
}

void ServerListItemModel::ApplyInsert(int index, const Row& row)
{
    if (index < 0 || index > rowCount()) return;
    beginInsertRows({}, index, index);
    m_rows.insert(m_rows.begin() + index, row);
    endInsertRows();
}

void ServerListItemModel::ApplyChange(int index, const Row& row)
{
    if (index < 0 || index >= rowCount()) return;
    m_rows[static_cast<std::size_t>(index)] = row;
    emit dataChanged(this->index(index, 0), this->index(index, 1));
}

void ServerListItemModel::ApplyDelete(int index)
{
    if (index < 0 || index >= rowCount()) return;
    beginRemoveRows({}, index, index);
    m_rows.erase(m_rows.begin() + index);
    endRemoveRows();
}

}  // namespace tessel
