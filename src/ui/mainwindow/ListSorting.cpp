// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/mainwindow/ListSorting.h"

#include <QHeaderView>
#include <QTreeView>

namespace vantor::ui {

ListSortProxy::ListSortProxy(QObject* parent) : QSortFilterProxyModel(parent) {
    // A result that changes a cell must not move its row under the operator.
    setDynamicSortFilter(false);
}

void ListSortProxy::setSourceModel(QAbstractItemModel* source) {
    QSortFilterProxyModel::setSourceModel(source);
    // A refilled list is shown in the core model's order (by ID) again.
    connect(source, &QAbstractItemModel::modelReset, this, [this] {
        if (sortColumn() >= 0) {
            sort(-1);
        }
    });
}

bool ListSortProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    // A missing cell reads as an empty text.
    return QString::localeAwareCompare(left.data().toString(), right.data().toString()) < 0;
}

void InstallColumnSorting(QTreeView& view, ListSortProxy& proxy, SortDirections& directions,
                          bool showIndicator) {
    QHeaderView* header = view.header();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(false);
    QObject::connect(
        header, &QHeaderView::sectionClicked, &view,
        [&view, &proxy, &directions, showIndicator](int column) {
            if (column < 0 || static_cast<std::size_t>(column) >= directions.descending.size()) {
                return;
            }
            bool& descending = directions.descending[static_cast<std::size_t>(column)];
            const Qt::SortOrder order = descending ? Qt::DescendingOrder : Qt::AscendingOrder;
            proxy.sort(column, order);
            descending = !descending;
            if (showIndicator) {
                view.header()->setSortIndicator(column, order);
                view.header()->setSortIndicatorShown(true);
            }
        });
    if (showIndicator) {
        QObject::connect(&proxy, &QAbstractItemModel::modelReset, &view,
                         [&view] { view.header()->setSortIndicatorShown(false); });
    }
}

RowColourDelegate::RowColourDelegate(int redColumn, QObject* parent)
    : QStyledItemDelegate(parent), m_redColumn(redColumn) {}

void RowColourDelegate::initStyleOption(QStyleOptionViewItem* option,
                                        const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.row() % 2 == 1) {
        option->backgroundBrush = QColor(255, 205, 155);
    }
    if (index.column() == m_redColumn) {
        option->palette.setColor(QPalette::Text, Qt::red);
        option->palette.setColor(QPalette::HighlightedText, Qt::red);
    }
}

}  // namespace vantor::ui
