// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSortFilterProxyModel>
#include <QStyledItemDelegate>
#include <array>

class QTreeView;

namespace vantor::ui {

// One sort direction per column position, shared by the service list and
// the alarm list: a click sorts the clicked column in its direction (false
// ascending), then flips it, so the next click on that position, in either
// list, sorts the other way.
struct SortDirections {
    std::array<bool, 16> descending{};
};

// Sorts rows for the view only, never the core model: cells compared as the
// user's locale orders text, case-sensitively. Rows keep the core model's
// order until the first click and again after the model is refilled.
class ListSortProxy final : public QSortFilterProxyModel {
public:
    explicit ListSortProxy(QObject* parent = nullptr);
    void setSourceModel(QAbstractItemModel* source) override;

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
};

// Hooks a list's header clicks to its proxy and the shared directions.
// showIndicator: the header shows which way the clicked column is sorted.
void InstallColumnSorting(QTreeView& view, ListSortProxy& proxy, SortDirections& directions,
                          bool showIndicator);

// Odd rows (as shown) on the light orange background, even rows on the
// window's own; one column, when given, in red text.
class RowColourDelegate final : public QStyledItemDelegate {
public:
    explicit RowColourDelegate(int redColumn = -1, QObject* parent = nullptr);

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    int m_redColumn;
};

}  // namespace vantor::ui
