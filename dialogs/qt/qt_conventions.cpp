// What people expect of any window, beyond the dialog's own description: it cannot be made so
// small that controls are cut off, Ctrl+Enter clicks the dialog's main button from any field,
// F1 opens help, and a list entry that is cut off shows in full as a tooltip.
#include "qt_window.h"

#include <QDialog>
#include <QKeySequence>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>

#include <algorithm>

namespace dlg::backend::qt_window {

namespace {

// The size, in dialog units, at which every control is inside the window: the controls'
// extent and a margin like the one they keep from the top left, at most the designed size.
QSize smallest_whole_size(const Dialog &dialog) {
    int right = 0, bottom = 0;
    for (const Control &c : dialog.controls) {
        right = std::max(right, c.x + c.w);
        bottom = std::max(bottom, c.y + c.h);
    }
    return QSize(std::min(dialog.w, right + 2), std::min(dialog.h, bottom + 2));
}

void click(int id) {
    QtControl *c = find(id);
    if (c && c->kind == Kind::Button && c->widget->isVisible() && c->widget->isEnabled())
        static_cast<QPushButton *>(c->widget)->click();
}

}  // namespace

void add_window_conventions(const Dialog &dialog) {
    QDialog *window = ui.main_window;
    QSize whole = smallest_whole_size(dialog);
    window->setMinimumSize(px_x(whole.width()), px_y(whole.height()));

    ui.ctrl_enter_id = dialog.ctrl_enter_id;
    if (ui.ctrl_enter_id != 0) {
        // A window shortcut: no control claims Ctrl+Enter, so it works from every field
        // (a multi-line field would otherwise take it as a line break).
        for (QKeySequence keys : {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
            auto *shortcut = new QShortcut(keys, window);
            QObject::connect(shortcut, &QShortcut::activated, window, [] { click(ui.ctrl_enter_id); });
        }
    }
    auto *help = new QShortcut(QKeySequence(Qt::Key_F1), window);
    QObject::connect(help, &QShortcut::activated, window, [] { show_help_box(); });
}

void add_tooltip_if_cut(QWidget *widget, QListWidgetItem *item) {
    auto *list = static_cast<QListWidget *>(widget);
    int room = list->width() - 2 * list->frameWidth() - 2 * list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) - 4;
    if (list->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff)
        room -= list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
    if (list->fontMetrics().horizontalAdvance(item->text()) > room) item->setToolTip(item->text());
}

}  // namespace dlg::backend::qt_window
