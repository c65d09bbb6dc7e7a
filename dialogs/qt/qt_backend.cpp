// The Qt 6 Widgets backend: the main dialog as a window with absolutely placed controls in
// dialog units, and the input and message boxes as owner-less modal dialogs.
#include "../backend.h"
#include "qt_testing.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QFontDatabase>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextCursor>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <thread>

namespace dlg::backend {

namespace {

// Texts are 8-bit byte strings; Latin-1 maps every byte to one character and back.
QString to_qt(std::string_view text) { return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())); }
std::string from_qt(const QString &text) { return text.toLatin1().toStdString(); }

// A multi-line edit holds lines; the programs' texts end lines with CR LF, as Windows edit
// controls do.
QString lines_to_qt(std::string_view text) {
    std::string plain;
    plain.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) plain += text[i];
    return to_qt(plain);
}
std::string lines_from_qt(const QString &text) {
    std::string latin = from_qt(text), result;
    result.reserve(latin.size() + latin.size() / 16);
    for (char c : latin) {
        if (c == '\n') result += '\r';
        result += c;
    }
    return result;
}

struct QtControl {
    Kind kind = Kind::Label;
    QWidget *widget = nullptr;
    // The last text the program set in a multi-line edit, while the user has not changed it:
    // reading it back needs no conversion, and a text that extends it (a log line) is
    // appended instead of replacing a text of megabytes.
    std::string program_text;
    bool program_text_valid = false;
    int selected_row = -1;   // list boxes: the selection the program last heard of
};

class MainDialog;
MainDialog *main_window = nullptr;
bool shown_once = false;
std::map<int, QtControl> controls;
bool setting_text = false;       // our own changes do not count as the user's typing
bool wait_cursor_on = false;
QFont dialog_font;
int base_x = 6, base_y = 13;

// Input and message box answers queued by tests (qt_testing.h).
std::deque<std::optional<std::string>> queued_answers;
std::function<void(QDialog *)> box_inspector;
bool close_message_boxes = false;
std::vector<std::string> recorded_messages, recorded_prompts;

// Dialog units to pixels, rounded as Windows' MulDiv does.
int px_x(int units) { return (units * base_x + 2) / 4; }
int px_y(int units) { return (units * base_y + 4) / 8; }
QRect dialog_rect(int x, int y, int w, int h) { return QRect(px_x(x), px_y(y), px_x(w), px_y(h)); }

void choose_dialog_font() {
    // MS Sans Serif does not exist here; any 8-point sans font, with the dialog units taken
    // from its own metrics, keeps every text within its control.
    dialog_font = QFont();
    dialog_font.setFamilies({"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "DejaVu Sans"});
    dialog_font.setStyleHint(QFont::SansSerif);
    dialog_font.setPointSize(8);
    QFontMetrics metrics(dialog_font);
    int alphabet = metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    base_x = (alphabet / 26 + 1) / 2;
    base_y = metrics.height();
}

// Enter and Esc do nothing in the main dialog (it has no default button and no handler
// for the OK and Cancel commands); the close box and Alt+F4 end it.
class MainDialog : public QDialog {
public:
    MainDialog() : QDialog(nullptr) {}

    void reject() override {}   // what Esc would do

protected:
    void keyPressEvent(QKeyEvent *event) override {
        int key = event->key();
        if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) {
            event->accept();
            return;
        }
        QDialog::keyPressEvent(event);
    }

    void closeEvent(QCloseEvent *event) override {
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

// Qt's search for word boundaries grows with the square of a line's length: a result of a
// million digits took minutes to lay out. Long texts (huge numbers, hex dumps) wrap
// anywhere, which is linear; short ones at word boundaries.
void choose_wrap(QPlainTextEdit *edit, size_t length) {
    edit->setWordWrapMode(length > 20000 ? QTextOption::WrapAnywhere : QTextOption::WrapAtWordBoundaryOrAnywhere);
}

QWidget *make_control(const Control &c, int id, QtControl &entry) {
    QString text = to_qt(shown_text(c.text));
    switch (c.kind) {
    case Kind::Label: {
        auto *label = new QLabel(main_window);
        label->setTextFormat(Qt::PlainText);   // "a < b" is text, not markup
        label->setText(text);
        label->setAlignment(label_alignment(c.style));
        label->setWordWrap(!(c.style & kCenterV));   // single-line when centred vertically
        set_frame(label, c.style);
        return label;
    }
    case Kind::Button: {
        auto *button = new QPushButton(text, main_window);
        button->setAutoDefault(false);
        button->setDefault(false);
        QObject::connect(button, &QPushButton::clicked, [id] { command(id, kClicked); });
        return button;
    }
    case Kind::GroupBox: {
        // A sibling drawn behind the controls it frames, as on Windows: it must not take
        // their clicks even though it comes later in creation order.
        auto *group = new QGroupBox(text, main_window);
        group->setAttribute(Qt::WA_TransparentForMouseEvents);
        group->setFocusPolicy(Qt::NoFocus);
        return group;
    }
    case Kind::Edit: {
        auto *edit = new QLineEdit(text, main_window);
        edit->setFrame((c.style & kClientEdge) != 0);
        return edit;
    }
    case Kind::MultiEdit: {
        auto *edit = new QPlainTextEdit(main_window);
        edit->setUndoRedoEnabled(false);   // megabyte texts would be kept twice
        edit->setTabChangesFocus(true);
        edit->setLineWrapMode((c.style & kWrap) ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
        edit->setVerticalScrollBarPolicy(bar(c.style, kVScroll));
        edit->setHorizontalScrollBarPolicy((c.style & kWrap) ? Qt::ScrollBarAlwaysOff : bar(c.style, kHScroll));
        if (!(c.style & kClientEdge)) edit->setFrameStyle(QFrame::NoFrame);
        edit->installEventFilter(main_window);
        choose_wrap(edit, c.text.size());
        setting_text = true;
        edit->setPlainText(lines_to_qt(shown_text(c.text)));
        setting_text = false;
        entry.program_text = shown_text(c.text);
        entry.program_text_valid = true;
        QObject::connect(edit, &QPlainTextEdit::textChanged, [id] {
            auto it = controls.find(id);
            if (!setting_text && it != controls.end()) it->second.program_text_valid = false;
        });
        return edit;
    }
    case Kind::ListBox: {
        auto *list = new QListWidget(main_window);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setVerticalScrollBarPolicy((c.style & kVScroll) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
        list->setHorizontalScrollBarPolicy((c.style & kHScroll) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
        if (!(c.style & kClientEdge)) list->setFrameStyle(QFrame::NoFrame);
        QObject::connect(list, &QListWidget::itemSelectionChanged, [id, list] {
            auto selected = list->selectedItems();
            int row = selected.isEmpty() ? -1 : list->row(selected.first());
            if (command(id, kSelChange)) {
                if (auto it = controls.find(id); it != controls.end()) it->second.selected_row = row;
                return;
            }
            // Dropped while a handler runs: put the selection back, so that the list never
            // shows an entry whose selection change the program did not act on.
            auto it = controls.find(id);
            if (it == controls.end()) return;
            QSignalBlocker quiet(list);
            list->clearSelection();
            if (QListWidgetItem *item = list->item(it->second.selected_row)) {
                item->setSelected(true);
                list->setCurrentItem(item);
            }
        });
        return list;
    }
    }
    return nullptr;
}

// ---- The backend table ---------------------------------------------------------------

void open(const Dialog &dialog) {
    choose_dialog_font();
    controls.clear();
    main_window = new MainDialog;
    main_window->setAttribute(Qt::WA_DeleteOnClose, false);
    main_window->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    main_window->setFont(dialog_font);
    main_window->setWindowTitle(to_qt(shown_text(dialog.caption)));
    main_window->setModal(false);
    main_window->resize(px_x(dialog.w), px_y(dialog.h));
    main_window->move(px_x(dialog.x), px_y(dialog.y));
    std::vector<QWidget *> groups;
    for (const Control &c : dialog.controls) {
        QtControl &entry = controls[c.id];
        entry.kind = c.kind;
        entry.widget = make_control(c, c.id, entry);
        entry.widget->setGeometry(dialog_rect(c.x, c.y, c.w, c.h));
        if (c.kind == Kind::GroupBox) groups.push_back(entry.widget);
    }
    for (QWidget *group : groups) group->lower();
    shown_once = false;
}

void wait_for_event() {
    // Shown only now, after the program's own set-up, as a dialog that is created hidden.
    if (!shown_once && main_window) {
        shown_once = true;
        main_window->show();
        main_window->activateWindow();
    }
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void destroy() {
    controls.clear();
    delete main_window;
    main_window = nullptr;
}

QtControl *find(int id) {
    auto it = controls.find(id);
    return it == controls.end() ? nullptr : &it->second;
}

std::string get_text(int id) {
    QtControl *c = find(id);
    if (!c) return {};
    switch (c->kind) {
    case Kind::Label: return from_qt(static_cast<QLabel *>(c->widget)->text());
    case Kind::Button: return from_qt(static_cast<QPushButton *>(c->widget)->text());
    case Kind::GroupBox: return from_qt(static_cast<QGroupBox *>(c->widget)->title());
    case Kind::Edit: return from_qt(static_cast<QLineEdit *>(c->widget)->text());
    case Kind::MultiEdit:
        if (c->program_text_valid) return c->program_text;
        return lines_from_qt(static_cast<QPlainTextEdit *>(c->widget)->toPlainText());
    case Kind::ListBox: return {};
    }
    return {};
}

void set_multi_edit(QtControl &c, std::string_view text) {
    auto *edit = static_cast<QPlainTextEdit *>(c.widget);
    if (edit->lineWrapMode() != QPlainTextEdit::NoWrap) choose_wrap(edit, text.size());
    setting_text = true;
    const std::string &old = c.program_text;
    bool extends = c.program_text_valid && text.size() > old.size() && text.substr(0, old.size()) == old &&
                   (old.empty() || old.back() != '\r');
    if (extends) {
        QTextCursor cursor(edit->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(lines_to_qt(text.substr(old.size())));
    } else {
        edit->setPlainText(lines_to_qt(text));
    }
    setting_text = false;
    c.program_text = text;
    c.program_text_valid = true;
}

void set_text(int id, std::string_view text) {
    QtControl *c = find(id);
    if (!c) return;
    switch (c->kind) {
    case Kind::Label: static_cast<QLabel *>(c->widget)->setText(to_qt(text)); break;
    case Kind::Button: static_cast<QPushButton *>(c->widget)->setText(to_qt(text)); break;
    case Kind::GroupBox: static_cast<QGroupBox *>(c->widget)->setTitle(to_qt(text)); break;
    case Kind::Edit: static_cast<QLineEdit *>(c->widget)->setText(to_qt(text)); break;
    case Kind::MultiEdit: set_multi_edit(*c, text); break;
    case Kind::ListBox: break;
    }
}

void set_visible(int id, bool visible) {
    if (QtControl *c = find(id)) c->widget->setVisible(visible);
}

void add_list_entry(int id, std::string_view text) {
    QtControl *c = find(id);
    if (c && c->kind == Kind::ListBox) static_cast<QListWidget *>(c->widget)->addItem(to_qt(text));
}

std::string selected_entry(int id) {
    QtControl *c = find(id);
    if (!c || c->kind != Kind::ListBox) return {};
    auto selected = static_cast<QListWidget *>(c->widget)->selectedItems();
    return selected.isEmpty() ? std::string() : from_qt(selected.first()->text());
}

void caret_to_end(int id) {
    QtControl *c = find(id);
    if (!c) return;
    if (c->kind == Kind::MultiEdit) {
        auto *edit = static_cast<QPlainTextEdit *>(c->widget);
        edit->moveCursor(QTextCursor::End);
        edit->ensureCursorVisible();
    } else if (c->kind == Kind::Edit) {
        static_cast<QLineEdit *>(c->widget)->end(false);
    }
}

void use_system_font(int id) {
    if (QtControl *c = find(id)) c->widget->setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
}

void set_wait_cursor(bool wait) {
    if (wait == wait_cursor_on) return;   // the override cursor stacks; keep one at most
    wait_cursor_on = wait;
    if (wait)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void centre_on_screen(QWidget *box) {
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect area = screen->availableGeometry();
    box->move(area.center() - QPoint(box->width() / 2, box->height() / 2));
}

std::string input_box(std::string_view prompt, std::string_view caption, std::string_view default_text) {
    if (!main_window) choose_dialog_font();
    recorded_prompts.emplace_back(prompt);
    // No owner: the main dialog stays enabled while the box is open.
    QDialog box(nullptr);
    box.setFont(dialog_font);
    box.setWindowTitle(to_qt(caption));
    box.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    box.resize(px_x(150), px_y(100));
    auto *label = new QLabel(&box);
    label->setTextFormat(Qt::PlainText);
    label->setText(to_qt(prompt));
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(dialog_rect(5, 5, 95, 72));
    auto *ok = new QPushButton("OK", &box);
    ok->setGeometry(dialog_rect(104, 5, 40, 10));
    ok->setDefault(true);
    auto *cancel = new QPushButton("CANCEL", &box);
    cancel->setGeometry(dialog_rect(104, 19, 40, 10));
    cancel->setAutoDefault(false);
    auto *edit = new QLineEdit(&box);
    edit->setGeometry(dialog_rect(2, 82, 146, 12));
    edit->setMaxLength(255);
    edit->setText(to_qt(default_text));
    edit->selectAll();
    QObject::connect(ok, &QPushButton::clicked, &box, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, &box, &QDialog::reject);
    centre_on_screen(&box);
    box.setFocusProxy(edit);
    edit->setFocus();

    if (box_inspector || !queued_answers.empty()) {
        std::optional<std::optional<std::string>> answer;
        if (!queued_answers.empty()) {
            answer = queued_answers.front();
            queued_answers.pop_front();
        }
        QTimer::singleShot(0, &box, [&box, edit, ok, cancel, answer] {
            if (box_inspector) box_inspector(&box);
            if (!answer) return;
            if (*answer) {
                edit->setText(to_qt(**answer));
                ok->click();
            } else {
                cancel->click();
            }
        });
    }
    if (box.exec() != QDialog::Accepted) return {};
    return from_qt(edit->text());
}

void message_box(std::string_view text, std::string_view caption) {
    recorded_messages.emplace_back(text);
    QMessageBox box(QMessageBox::NoIcon, to_qt(caption), to_qt(text), QMessageBox::Ok, nullptr);
    box.setTextFormat(Qt::PlainText);
    if (close_message_boxes) QTimer::singleShot(0, &box, [&box] { box.accept(); });
    box.exec();
}

void pump_step() {
    // One pass over what is pending; with nothing pending, 1 ms of sleep.
    QAbstractEventDispatcher *dispatcher = QThread::currentThread()->eventDispatcher();
    QCoreApplication::sendPostedEvents();
    bool handled = dispatcher && dispatcher->processEvents(QEventLoop::AllEvents);
    if (!handled) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

const Ops qt_ops = {
    "qt", open, wait_for_event, destroy, get_text, set_text, set_visible, add_list_entry,
    selected_entry, caret_to_end, use_system_font, set_wait_cursor, input_box, message_box, pump_step,
};

bool qt_prepare() {
    if (QApplication::instance()) return true;
    static int argc = 1;
    static char name[] = "vorn";
    static char *argv[] = {name, nullptr};
    new QApplication(argc, argv);
    return QGuiApplication::primaryScreen() != nullptr;
}

}  // namespace dlg::backend

// ---- Test support ----------------------------------------------------------------------

namespace dlg::qt_testing {

using namespace dlg::backend;

void use_qt_backend() {
    if (!QApplication::instance() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qt_prepare();
    select(&qt_ops);
}

QWidget *main_dialog() { return main_window; }

QWidget *control(int id) {
    QtControl *c = find(id);
    return c ? c->widget : nullptr;
}

void queue_input_answer(const std::string &text) { queued_answers.emplace_back(text); }
void queue_input_cancel() { queued_answers.emplace_back(std::nullopt); }
void inspect_input_boxes(std::function<void(QDialog *)> inspector) { box_inspector = std::move(inspector); }
void auto_close_message_boxes(bool on) { close_message_boxes = on; }
std::vector<std::string> message_box_texts() { return recorded_messages; }
std::vector<std::string> input_box_prompts() { return recorded_prompts; }

void clear_recorded() {
    recorded_messages.clear();
    recorded_prompts.clear();
}

int base_unit_x() {
    choose_dialog_font();
    return base_x;
}

int base_unit_y() {
    choose_dialog_font();
    return base_y;
}

bool save_screenshot(const std::string &png_path) {
    if (!main_window) return false;
    return main_window->grab().save(QString::fromStdString(png_path), "PNG");
}

}  // namespace dlg::qt_testing
