// The window's view of the engine's server table. The engine tells every
// change (index and texts) from its own thread; the model queues each one
// and applies them in order on the user-interface thread, so the list never
// shows, and a selection never points at, a half-made row.
#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <array>
#include <vector>

#include "engine/server_table.h"

namespace tessel {

class ServerListItemModel final : public QAbstractTableModel, public ServerTableObserver {
    Q_OBJECT
public:
    explicit ServerListItemModel(QObject* parent = nullptr);

    // Takes the table's rows as they are and follows its changes from then
    // on. Call before any other thread changes the table; Detach() before
    // the model goes.
    void Attach(ServerTable& table);
    void Detach();

    void SetHeader(int column, const QString& text);
    QString Text(int row, int column) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // ServerTableObserver: any thread, the table's lock held. Only posts.
    void OnRowInserted(int index, const ServerRow& row) override;
    void OnRowChanged(int index, const ServerRow& row) override;
    void OnRowDeleted(int index) override;

private:
    struct Row {
        QString serial;
        QString address;
    };
    static Row RowOf(const ServerRow& row);
    void ApplyInsert(int index, const Row& row);
    void ApplyChange(int index, const Row& row);
    void ApplyDelete(int index);

    ServerTable* m_pTable = nullptr;
    std::vector<Row> m_rows;
    std::array<QString, 2> m_headers;
};

}  // namespace tessel
