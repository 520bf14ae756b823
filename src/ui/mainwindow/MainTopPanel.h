// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <functional>
#include <string>

class QLabel;
class QMovie;
class QToolBar;
class QToolButton;

namespace vantor::ui {

class MainActions;

// The panel at the top of the main window: the function tool bar, the
// animation beside it, and the view tool bar whose buttons filter the
// service list.
class MainTopPanel final : public QWidget {
public:
    // clip: the animation's file (a missing one is left out); onFilter: a
    // view button was pressed, with its filter.
    MainTopPanel(const MainActions& actions, const QString& clip,
                 std::function<void(const std::string&)> onFilter, QWidget* parent);

    // Plays the animation once more from its start.
    void playAnimation();

    QToolBar* functionBar;
    QToolBar* viewBar;
    QToolButton* buttonStart;
    QToolButton* buttonStop;
    QToolButton* buttonClearAlarms;
    QToolButton* buttonAlarm;
    QToolButton* buttonGeneral;
    QToolButton* buttonService;

private:
    void createFunctionBar(const MainActions& actions);
    void createAnimation(const QString& clip);
    void createViewBar();

    std::function<void(const std::string&)> m_onFilter;
    QLabel* m_animation = nullptr;
    QMovie* m_movie = nullptr;
};

}  // namespace vantor::ui
