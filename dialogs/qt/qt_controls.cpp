// The main dialog window and its controls, one widget for each kind of control.
#include "qt_internal.h"
#include "qt_window.h"

#include <QCloseEvent>
#include <QDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>

#include <cstdio>
#include <cstdlib>

namespace dlg::backend::qt_window {

namespace {

using qt_internal::to_qt;

// Enter and Esc do nothing in the main dialog (it has no default button and no handler
// for the OK and Cancel commands), except that Esc stops the work of a running handler;
// the close box and Alt+F4 end it.
class MainDialog : public QDialog {
public:
    MainDialog() : QDialog(nullptr) {}

    void reject() override {}   // what Esc would do

protected:
    void keyPressEvent(QKeyEvent *event) override {
        int key = event->key();
        if (key == Qt::Key_Escape && ui.handler_busy) request_stop();
        if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) {
            event->accept();
            return;
        }
        QDialog::keyPressEvent(event);
    }

    void closeEvent(QCloseEvent *event) override {
        // A handler may be deep in a computation: closing then ends the process at once.
        if (ui.handler_busy) quit_at_once();
        close_requested();
        hide();
        event->accept();
    }

    // A multi-line edit of a dialog takes Enter only with Ctrl (no "want return" style).
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::KeyPress) {
            auto *key = static_cast<QKeyEvent *>(event);
            bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
            if (enter && !(key->modifiers() & Qt::ControlModifier)) return true;
        }
        return QDialog::eventFilter(watched, event);
    }
};

Qt::Alignment label_alignment(uint32_t style) {
    Qt::Alignment horizontal = (style & kCenter) ? Qt::AlignHCenter : (style & kRight) ? Qt::AlignRight : Qt::AlignLeft;
    return horizontal | ((style & kCenterV) ? Qt::AlignVCenter : Qt::AlignTop);
}

void set_frame(QFrame *frame, uint32_t style) {
    if (style & kClientEdge) {
        frame->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    } else if (style & kSunken) {
        frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        frame->setLineWidth(1);
    } else {
        frame->setFrameStyle(QFrame::NoFrame);
    }
}

Qt::ScrollBarPolicy bar(uint32_t style, uint32_t bit) { return (style & bit) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff; }

}  // namespace

QDialog *make_main_window() { return new MainDialog; }

QWidget *make_control(const Control &c, int id, QtControl &entry) {
    QWidget *parent = ui.main_window;
    QString text = to_qt(shown_text(c.text));
    entry.program_text = shown_text(c.text);
    entry.program_text_valid = true;
    switch (c.kind) {
    case Kind::Label: {
        auto *label = new QLabel(parent);
        label->setTextFormat(Qt::PlainText);   // "a < b" is text, not markup
        label->setText(text);
        label->setAlignment(label_alignment(c.style));
        label->setWordWrap(!(c.style & kCenterV));   // single-line when centred vertically
        set_frame(label, c.style);
        return label;
    }
    case Kind::Button: {
        auto *button = new QPushButton(text, parent);
        button->setAutoDefault(false);
        button->setDefault(false);
        QObject::connect(button, &QPushButton::clicked, [id] {
            if (!start_handler(id, kClicked)) busy_click(id);
        });
        return button;
    }
    case Kind::GroupBox: {
        // A sibling drawn behind the controls it frames, as on Windows: it must not take
        // their clicks even though it comes later in creation order.
        auto *group = new QGroupBox(text, parent);
        group->setAttribute(Qt::WA_TransparentForMouseEvents);
        group->setFocusPolicy(Qt::NoFocus);
        return group;
    }
    case Kind::Edit: {
        auto *edit = new QLineEdit(text, parent);
        edit->setFrame((c.style & kClientEdge) != 0);
        QObject::connect(edit, &QLineEdit::textEdited, [id] {
            if (QtControl *control = find(id)) control->program_text_valid = false;
        });
        return edit;
    }
    case Kind::MultiEdit: {
        QPlainTextEdit *edit = make_multi_edit(parent);
        edit->setUndoRedoEnabled(false);   // megabyte texts would be kept twice
        edit->setTabChangesFocus(true);
        edit->setLineWrapMode((c.style & kWrap) ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
        edit->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        edit->setVerticalScrollBarPolicy(bar(c.style, kVScroll));
        edit->setHorizontalScrollBarPolicy((c.style & kWrap) ? Qt::ScrollBarAlwaysOff : bar(c.style, kHScroll));
        if (!(c.style & kClientEdge)) edit->setFrameStyle(QFrame::NoFrame);
        edit->installEventFilter(parent);
        edit->setGeometry(dialog_rect(c.x, c.y, c.w, c.h));   // the row length depends on it
        entry.widget = edit;
        set_multi_edit(entry, shown_text(c.text));
        QObject::connect(edit, &QPlainTextEdit::textChanged, [id] {
            QtControl *control = find(id);
            if (!ui.setting_text && control) control->program_text_valid = false;
        });
        return edit;
    }
    case Kind::ListBox: {
        auto *list = new QListWidget(parent);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setVerticalScrollBarPolicy((c.style & kVScroll) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
        list->setHorizontalScrollBarPolicy((c.style & kHScroll) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
        if (!(c.style & kClientEdge)) list->setFrameStyle(QFrame::NoFrame);
        QObject::connect(list, &QListWidget::itemSelectionChanged, [id, list] {
            auto selected = list->selectedItems();
            int row = selected.isEmpty() ? -1 : list->row(selected.first());
            if (start_handler(id, kSelChange)) {
                if (QtControl *control = find(id)) control->selected_row = row;
                return;
            }
            // Dropped while a handler runs: put the selection back, so that the list never
            // shows an entry whose selection change the program did not act on.
            QtControl *control = find(id);
            if (!control) return;
            QSignalBlocker quiet(list);
            list->clearSelection();
            if (QListWidgetItem *item = list->item(control->selected_row)) {
                item->setSelected(true);
                list->setCurrentItem(item);
            }
        });
        return list;
    }
    }
    return nullptr;
}

}  // namespace dlg::backend::qt_window
