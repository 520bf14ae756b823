// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/mainwindow/DetailPane.h"

#include <QHelpEvent>
#include <QPainter>
#include <QPointer>
#include <QToolTip>

#include <algorithm>
#include <chrono>
#include <memory>

#include "app/TimeFormat.h"
#include "history/HistoryDb.h"

namespace vantor::ui {

namespace {

constexpr std::int64_t kDay = 86400;
constexpr int kMargin = 8;
constexpr int kLine = 18;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QString Duration(std::int64_t seconds) {
    const std::int64_t minutes = seconds / 60;
    if (minutes < 60) {
        return QStringLiteral("%1 min").arg(minutes);
    }
    const std::int64_t hours = minutes / 60;
    if (hours < 48) {
        return QStringLiteral("%1 h %2 min").arg(hours).arg(minutes % 60);
    }
    return QStringLiteral("%1 d %2 h").arg(hours / 24).arg(hours % 24);
}

QString Ms(std::optional<std::int64_t> us) {
    return us ? Q(history::FormatMs(us)) + QStringLiteral(" ms") : QStringLiteral("\u2014");
}

// Green at 100 %, through yellow and orange, red at 95 % and below; grey
// for a day without checks.
QColor UptimeColour(const history::Counts& c) {
    if (c.checks == 0) {
        return QColor(0xd0, 0xd0, 0xd0);
    }
    const double up = static_cast<double>(c.checks - c.failed) / static_cast<double>(c.checks);
    if (up >= 1.0) {
        return QColor(0x2e, 0x7d, 0x32);
    }
    if (up >= 0.99) {
        return QColor(0x9e, 0xc5, 0x3b);
    }
    if (up >= 0.95) {
        return QColor(0xf0, 0xa0, 0x30);
    }
    return QColor(0xc6, 0x28, 0x28);
}

}  // namespace

DetailPane::DetailPane(std::string databasePath, QWidget* parent)
    : QWidget(parent), m_path(std::move(databasePath)) {
    setObjectName("DetailPane");
    setMinimumHeight(200);
    setAutoFillBackground(true);
    m_thread = std::thread([this] { loaderLoop(); });
}

DetailPane::~DetailPane() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void DetailPane::showService(std::optional<std::string> key) {
    if (key == m_key && m_loaded) {
        return;
    }
    m_key = std::move(key);
    m_detail = {};
    m_error.clear();
    request();
    update();
}

void DetailPane::refresh() {
    request();
}

void DetailPane::request() {
    m_loaded = !m_key || m_path.empty();
    if (m_loaded) {
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_wanted = m_key;
        ++m_generation;
    }
    m_wake.notify_one();
}

void DetailPane::loaderLoop() {
    std::unique_ptr<history::HistoryDb> db;
    for (;;) {
        std::string key;
        std::uint64_t generation = 0;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || m_generation != m_served; });
            if (m_stop) {
                return;
            }
            generation = m_served = m_generation;
            key = m_wanted.value_or(std::string());
        }
        const std::int64_t now = app::EpochSeconds(std::chrono::system_clock::now());
        history::ServiceDetail detail;
        std::string error;
        try {
            if (!db) {
                db = history::HistoryDb::openReader(m_path);
            }
            detail = db->detail(key, now);
        } catch (const std::exception& e) {
            // Opened again next time: the writer may have made it since.
            db.reset();
            error = e.what();
        }
        // Back on the GUI thread; a pane gone meanwhile is not told.
        QMetaObject::invokeMethod(
            this,
            [this, generation, detail = std::move(detail), now,
             error = std::move(error)]() mutable {
                apply(generation, std::move(detail), now, std::move(error));
            },
            Qt::QueuedConnection);
    }
}

void DetailPane::apply(std::uint64_t generation, history::ServiceDetail detail, std::int64_t now,
                       std::string error) {
    {
        std::lock_guard lock(m_mutex);
        if (generation != m_generation) {
            return;  // a newer request is on its way
        }
    }
    m_detail = std::move(detail);
    m_now = now;
    m_error = std::move(error);
    m_loaded = true;
    update();
}

QRect DetailPane::chartRect() const {
    return {kMargin + 40, kMargin + 2 * kLine + 4, width() - 2 * kMargin - 40, 80};
}

QRect DetailPane::stripRect() const {
    const QRect chart = chartRect();
    return {chart.left(), chart.bottom() + kLine + 4, chart.width(), 14};
}

void DetailPane::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QPalette pal = palette();
    const QRect all = rect().adjusted(kMargin, kMargin, -kMargin, -kMargin);
    if (!m_key) {
        p.drawText(all, Qt::AlignLeft | Qt::AlignTop,
                   QStringLiteral("Select a service to see its history."));
        return;
    }
    QFont bold = font();
    bold.setBold(true);
    p.setFont(bold);
    p.drawText(QRect(all.left(), all.top(), all.width(), kLine), Qt::AlignLeft | Qt::AlignVCenter,
               p.fontMetrics().elidedText(Q(*m_key), Qt::ElideMiddle, all.width() / 2));
    p.setFont(font());
    if (m_path.empty()) {
        p.drawText(QRect(all.left(), all.top() + kLine, all.width(), kLine), Qt::AlignLeft,
                   QStringLiteral("The result history is off ([History] Enable=0)."));
        return;
    }
    if (!m_loaded) {
        return;  // the answer is on its way
    }
    if (!m_error.empty()) {
        p.drawText(QRect(all.left(), all.top() + kLine, all.width(), kLine), Qt::AlignLeft,
                   QStringLiteral("No history to read: %1").arg(Q(m_error)));
        return;
    }
    const history::ServiceDetail& d = m_detail;
    const history::Counts& c = d.dayCounts;
    const QString counts =
        c.checks == 0
            ? QStringLiteral("No checks in the last 24 hours.")
            : QStringLiteral("%1/%2 checks passed").arg(c.checks - c.failed).arg(c.checks);
    const QString response =
        QStringLiteral("Response p50 %1 \u00b7 p95 %2 \u00b7 max %3")
            .arg(Ms(d.dayResponse.p50), Ms(d.dayResponse.p95), Ms(d.dayResponse.max));
    p.drawText(QRect(all.left(), all.top() + kLine, all.width(), kLine), Qt::AlignLeft,
               counts + QStringLiteral("    ") + response);

    // The last 24 hours.
    const QRect chart = chartRect();
    p.fillRect(chart, pal.color(QPalette::Base));
    p.setPen(pal.color(QPalette::Mid));
    p.drawRect(chart.adjusted(0, 0, -1, -1));
    std::int64_t top = 1;
    for (const history::Point& pt : d.day) {
        if (!pt.failed && pt.responseUs) {
            top = std::max(top, *pt.responseUs);
        }
    }
    const int barWidth = std::max(2, chart.width() / 288);
    for (const history::Point& pt : d.day) {
        const double at = static_cast<double>(pt.time - (m_now - kDay)) / static_cast<double>(kDay);
        const int x = chart.left() + static_cast<int>(at * (chart.width() - barWidth));
        int h = chart.height() - 2;
        QColor colour(0xc6, 0x28, 0x28);
        if (!pt.failed) {
            colour = QColor(0x2e, 0x7d, 0x32);
            const double share =
                pt.responseUs ? static_cast<double>(*pt.responseUs) / static_cast<double>(top) : 0;
            h = std::max(2, static_cast<int>(share * (chart.height() - 2)));
        }
        p.fillRect(x, chart.bottom() - h, barWidth, h, colour);
    }
    p.setPen(pal.color(QPalette::Text));
    p.drawText(QRect(all.left(), chart.top(), 38, kLine), Qt::AlignRight | Qt::AlignTop,
               Q(history::FormatMs(top)));
    p.drawText(QRect(all.left(), chart.bottom() - kLine, 38, kLine),
               Qt::AlignRight | Qt::AlignBottom, QStringLiteral("ms"));
    p.drawText(QRect(chart.left(), chart.bottom() + 1, 100, kLine), Qt::AlignLeft,
               QStringLiteral("24 h ago"));
    p.drawText(QRect(chart.right() - 100, chart.bottom() + 1, 100, kLine), Qt::AlignRight,
               QStringLiteral("now"));

    // The last 30 days, today at the right.
    const QRect strip = stripRect();
    p.drawText(QRect(all.left(), strip.top() - 2, 38, kLine), Qt::AlignRight | Qt::AlignTop,
               QStringLiteral("30 d"));
    const int cells = static_cast<int>(d.days.size());
    for (int i = 0; i < cells; ++i) {
        const int x0 = strip.left() + i * strip.width() / cells;
        const int x1 = strip.left() + (i + 1) * strip.width() / cells;
        p.fillRect(x0, strip.top(), std::max(1, x1 - x0 - 2), strip.height(),
                   UptimeColour(d.days[static_cast<std::size_t>(i)]));
    }

    // The last outages, latest first.
    int y = strip.bottom() + 6;
    p.setPen(pal.color(QPalette::Text));
    if (d.outages.empty()) {
        p.drawText(QRect(all.left(), y, all.width(), kLine), Qt::AlignLeft,
                   QStringLiteral("No outage on record."));
    }
    for (const history::Outage& o : d.outages) {
        if (y + kLine > all.bottom()) {
            break;
        }
        const QString when =
            o.to ? QStringLiteral("Down %1 \u2013 %2 (%3)")
                       .arg(Q(history::FormatTime(o.from)), Q(history::FormatTime(*o.to)),
                            Duration(*o.to - o.from))
                 : QStringLiteral("Down since %1 (%2)")
                       .arg(Q(history::FormatTime(o.from)), Duration(m_now - o.from));
        const QString line = when + QStringLiteral("  ") + Q(o.detail);
        p.drawText(QRect(all.left(), y, all.width(), kLine), Qt::AlignLeft | Qt::AlignVCenter,
                   p.fontMetrics().elidedText(line, Qt::ElideRight, all.width()));
        y += kLine;
    }
}

bool DetailPane::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip && m_loaded && !m_detail.days.empty()) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QRect strip = stripRect();
        if (strip.contains(help->pos())) {
            const int cells = static_cast<int>(m_detail.days.size());
            const int i =
                std::clamp((help->pos().x() - strip.left()) * cells / strip.width(), 0, cells - 1);
            const history::Counts& c = m_detail.days[static_cast<std::size_t>(i)];
            const std::int64_t day = (m_now / kDay - (cells - 1 - i)) * kDay;
            const QString date = Q(history::FormatTime(day)).left(10);
            QToolTip::showText(help->globalPos(),
                               QStringLiteral("%1: %2 (%3/%4)")
                                   .arg(date, Q(history::FormatUptime(c)))
                                   .arg(c.checks - c.failed)
                                   .arg(c.checks),
                               this);
            return true;
        }
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    return QWidget::event(event);
}

}  // namespace vantor::ui
