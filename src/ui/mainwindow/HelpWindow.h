// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QWidget>

class QTextBrowser;

namespace vantor::ui {

// The help file in a window of its own, opened at a topic.
class HelpWindow final : public QWidget {
public:
    explicit HelpWindow(QString helpFile, QWidget* parent = nullptr);
    // Shows the window at the topic's anchor ("New_Service", ...); an empty
    // topic opens the contents.
    void showTopic(const QString& topic);

private:
    QString m_helpFile;
    QTextBrowser* m_browser;
    bool m_loaded = false;
};

}  // namespace vantor::ui
