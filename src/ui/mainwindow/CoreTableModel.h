// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <cstddef>

#include "app/ListObserver.h"

namespace vantor::ui {

// A Qt table over one of the core's list models (the service list, the
// alarm list). It keeps nothing of its own: it reads the core model's cells
// and passes its notifications on to the views.
template <class CoreModel>
class CoreTableModel final : public QAbstractTableModel, private app::ListObserver {
public:
    using Column = typename CoreModel::Column;

    CoreTableModel(CoreModel& model, QStringList captions, QObject* parent = nullptr)
        : QAbstractTableModel(parent), m_model(model), m_captions(std::move(captions)) {
        Q_ASSERT(m_captions.size() == static_cast<int>(Column::Count));
        m_model.addObserver(this);
    }
    ~CoreTableModel() override { m_model.removeObserver(this); }

    CoreModel& core() { return m_model; }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(m_model.rowCount());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(Column::Count);
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid() ||
            static_cast<std::size_t>(index.row()) >= m_model.rowCount()) {
            return {};
        }
        const auto text =
            m_model.cellText(static_cast<std::size_t>(index.row()), Column(index.column()));
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
            section < m_captions.size()) {
            return m_captions.at(section);
        }
        return QAbstractTableModel::headerData(section, orientation, role);
    }

private:
    static int toInt(std::size_t row) { return static_cast<int>(row); }

    void aboutToInsertRows(std::size_t first, std::size_t last) override {
        beginInsertRows({}, toInt(first), toInt(last));
    }
    void rowsInserted() override { endInsertRows(); }
    void aboutToRemoveRows(std::size_t first, std::size_t last) override {
        beginRemoveRows({}, toInt(first), toInt(last));
    }
    void rowsRemoved() override { endRemoveRows(); }
    void aboutToReset() override { beginResetModel(); }
    void reset() override { endResetModel(); }
    void rowChanged(std::size_t row) override {
        emit dataChanged(index(toInt(row), 0), index(toInt(row), columnCount() - 1),
                         {Qt::DisplayRole});
    }

    CoreModel& m_model;
    QStringList m_captions;
};

}  // namespace vantor::ui
