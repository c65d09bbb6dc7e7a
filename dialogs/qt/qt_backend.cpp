// The Qt 6 Widgets backend: the main dialog as a window with absolutely placed controls in
// dialog units, and the input and message boxes as owner-less modal dialogs.
//
// Handlers run on a thread of their own while this (the GUI) thread keeps the window alive:
// it repaints, moves, shows the wait cursor and drops other commands; the close box ends
// the process at once. Every backend call a handler makes is carried out on the GUI thread
// and waited for, so widgets are only ever touched there, and the program (and the library
// it calls) still runs on one thread at a time.
#include "../backend.h"
#include "qt_internal.h"

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
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextLayout>
#include <QTextCursor>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <type_traits>

namespace dlg::backend {

namespace {

using qt_internal::from_qt;
using qt_internal::to_qt;

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
    std::string bytes = from_qt(text), result;
    result.reserve(bytes.size() + bytes.size() / 16);
    for (char c : bytes) {
        if (c == '\n') result += '\r';
        result += c;
    }
    return result;
}

// ---- Calls from the handler's thread -------------------------------------------------

bool on_gui_thread() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }

// Runs f on the GUI thread and returns its result; from a handler's thread it waits there.
template <class F>
auto on_gui(F f) -> decltype(f()) {
    if (on_gui_thread()) return f();
    if constexpr (std::is_void_v<decltype(f())>) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), f, Qt::BlockingQueuedConnection);
    } else {
        decltype(f()) result{};
        QMetaObject::invokeMethod(QCoreApplication::instance(), [&] { result = f(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

struct QtControl {
    Kind kind = Kind::Label;
    QWidget *widget = nullptr;
    // The last text the program set, while the user has not changed it: it reads back
    // byte for byte (also bytes that are not UTF-8), without a conversion of megabytes,
    // and a text that extends it (a log line) is appended instead of replacing it all.
    std::string program_text;
    bool program_text_valid = false;
    int selected_row = -1;   // list boxes: the selection the program last heard of
};

class MainDialog;
MainDialog *main_window = nullptr;

// Ends the process without waiting for the handler, which may be deep in a computation:
// the work is told to stop, and quick_exit runs what the program registered for this
// (removing a half-written file).
[[noreturn]] void quit_at_once() {
    request_stop();
    std::fflush(nullptr);
    std::quick_exit(0);
}
bool shown_once = false;
std::map<int, QtControl> controls;
bool setting_text = false;       // our own changes do not count as the user's typing
bool wait_cursor_on = false;     // asked for by the program
bool handler_busy = false;       // a handler runs on its own thread
bool busy_cursor = false;        // ... and has run long enough to show the wait cursor
int boxes_open = 0;              // input and message boxes keep the arrow
bool override_on = false;
unsigned worker_generation = 0;
QFont dialog_font;
int base_x = 6, base_y = 13;

// Long work of the running handler (begin_work to end_work).
struct Work {
    bool on = false;
    int stop_button = 0;
    QString button_caption;    // the stop button's own caption, shown again at the end
    int progress_control = 0;  // 0: after the window's caption
    QString window_caption;
    QTimer *timer = nullptr;
};
Work work;

// At most one override cursor: the wait cursor while the program asks for it or a handler
// has run for a moment, except over an open input or message box.
void update_cursor() {
    bool want = (wait_cursor_on || busy_cursor) && boxes_open == 0;
    if (want == override_on) return;
    override_on = want;
    if (want)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

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
        // Esc stops the work of a running handler; idle, it does nothing.
        if (key == Qt::Key_Escape && handler_busy) request_stop();
        if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) {
            event->accept();
            return;
        }
        QDialog::keyPressEvent(event);
    }

    void closeEvent(QCloseEvent *event) override {
        // A handler may be deep in a computation of minutes that nothing can interrupt:
        // closing then ends the process at once.
        if (handler_busy) quit_at_once();
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

// A click on a button while a handler runs: the stop button stops it, the exit button stops
// it and ends the program; any other is dropped.
void busy_click(int id) {
    if (id == exit_button()) quit_at_once();
    if (id == stop_button() && work.on) request_stop();
}

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

// ---- Multi-line edits ------------------------------------------------------------------
//
// The plain text edit lays out only the blocks (lines) it shows, but a block is always laid
// out whole: one line of 4.7 million digits took seconds, and minutes with word wrapping.
// So a line longer than kLongLine is shown cut into blocks of kRowsPerBlock full rows,
// marked as continued; the text the program reads, and what is copied, joins them again.
// Each block is told its row count ahead of its layout, so the scroll bar is right from
// the start. (Blocks of one row each would cost 4 us apiece to insert: 0.35 s for 4.7
// million digits.)
constexpr int kLongLine = 1000;
constexpr int kRowsPerBlock = 16;
constexpr int kContinued = 1;   // block user state: the line goes on in the next block

// The document's text from position from to position to, with the cut lines joined.
QString text_between(const QTextDocument *document, int from, int to) {
    QString text;
    text.reserve(to - from);
    for (QTextBlock block = document->findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        int begin = block.position(), end = begin + block.length() - 1;   // end: the separator
        text += block.text().mid(std::max(from, begin) - begin, std::min(to, end) - std::max(from, begin));
        if (to > end && block.userState() != kContinued) text += QChar('\n');
    }
    return text;
}

QString whole_text(const QTextDocument *document) { return text_between(document, 0, document->characterCount() - 1); }

void insert_lines(QPlainTextEdit *edit, QTextCursor &cursor, const QString &text);

class MultiEdit : public QPlainTextEdit {
public:
    using QPlainTextEdit::QPlainTextEdit;

protected:
    // A pasted number of megabytes is cut into rows like one the program sets.
    void insertFromMimeData(const QMimeData *source) override {
        if (!source->hasText()) return;
        QTextCursor cursor = textCursor();
        insert_lines(this, cursor, source->text());
        setTextCursor(cursor);
        ensureCursorVisible();
    }

    QMimeData *createMimeDataFromSelection() const override {
        QTextCursor cursor = textCursor();
        auto *mime = new QMimeData;
        mime->setText(text_between(document(), cursor.selectionStart(), cursor.selectionEnd()));
        return mime;
    }
};

// Characters of one row: the width of a digit is that of every digit in the usual fonts,
// and a row of wider characters still wraps as any block does.
int row_length(QPlainTextEdit *edit) {
    if (edit->lineWrapMode() == QPlainTextEdit::NoWrap) return kLongLine;
    int width = edit->width() - 2 * edit->frameWidth() - 2 * static_cast<int>(edit->document()->documentMargin()) - 4;
    if (edit->verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOn)
        width -= edit->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, edit);
    int digit = std::max(1, QFontMetrics(edit->font()).horizontalAdvance(QChar('0')));
    return std::max(8, width / digit);
}

// Inserts text at the cursor, cutting its long lines.
void insert_lines(QPlainTextEdit *edit, QTextCursor &cursor, const QString &text) {
    int row = row_length(edit);
    bool wraps = edit->lineWrapMode() != QPlainTextEdit::NoWrap;
    qsizetype piece = wraps ? qsizetype(row) * kRowsPerBlock : row;
    QString shown;
    shown.reserve(text.size() + text.size() / piece + 1);
    struct Cut { int block, rows; bool continued; };   // block counted from the cursor's
    std::vector<Cut> cuts;
    int block = 0;
    for (qsizetype begin = 0; begin <= text.size();) {
        qsizetype end = text.indexOf(QChar('\n'), begin);
        if (end < 0) end = text.size();
        qsizetype length = end - begin;
        if (length > kLongLine) {
            for (qsizetype at = begin; at < end; at += piece) {
                qsizetype size = std::min(piece, end - at);
                if (at > begin) {
                    shown += QChar('\n');
                    ++block;
                }
                shown += QStringView(text).mid(at, size);
                cuts.push_back({block, wraps ? int((size + row - 1) / row) : 1, at + size < end});
            }
        } else {
            shown += QStringView(text).mid(begin, length);
        }
        if (end == text.size()) break;
        shown += QChar('\n');
        ++block;
        begin = end + 1;
    }
    int first_number = cursor.blockNumber();
    cursor.insertText(shown);
    QTextDocument *document = cursor.document();
    QTextBlock block_at = document->findBlockByNumber(first_number);
    int at = 0;
    for (const Cut &cut : cuts) {
        for (; at < cut.block && block_at.isValid(); ++at) block_at = block_at.next();
        if (cut.continued) block_at.setUserState(kContinued);
        if (!block_at.layout() || block_at.layout()->lineCount() == 0) block_at.setLineCount(cut.rows);
    }
    if (!cuts.empty()) {
        QAbstractTextDocumentLayout *layout = document->documentLayout();
        emit layout->documentSizeChanged(layout->documentSize());
    }
}

void set_multi_edit(QtControl &c, std::string_view text) {
    auto *edit = static_cast<QPlainTextEdit *>(c.widget);
    const std::string &old = c.program_text;
    bool extends = c.program_text_valid && text.size() > old.size() && text.substr(0, old.size()) == old &&
                   (old.empty() || old.back() != '\r');
    setting_text = true;
    if (extends) {
        QTextCursor cursor(edit->document());
        cursor.movePosition(QTextCursor::End);
        insert_lines(edit, cursor, lines_to_qt(text.substr(old.size())));
    } else {
        // Cleared first, so nothing lays out the old text again; then only the rows shown
        // are laid out.
        edit->setPlainText(QString());
        QTextCursor cursor(edit->document());
        insert_lines(edit, cursor, lines_to_qt(text));
        edit->moveCursor(QTextCursor::Start);
    }
    setting_text = false;
    c.program_text = text;
    c.program_text_valid = true;
}

// ---- Handlers on their own thread ------------------------------------------------------

// One thread runs every handler, for the life of the process, so that what a program keeps
// per thread (the library's global error among it) carries from one command to the next as
// it does in the console. It takes one command at a time: claim_handler drops the rest.
struct HandlerThread {
    std::mutex m;
    std::condition_variable wakeup;
    std::function<void()> job;
};

[[noreturn]] void handler_loop(HandlerThread *t) {
    std::unique_lock<std::mutex> lock(t->m);
    for (;;) {
        t->wakeup.wait(lock, [t] { return bool(t->job); });
        std::function<void()> job = std::move(t->job);
        t->job = nullptr;
        lock.unlock();
        job();
        lock.lock();
    }
}

void run_on_handler_thread(std::function<void()> job) {
    // Never destroyed: the thread waits on it until the process ends.
    static HandlerThread *const t = [] {
        auto *created = new HandlerThread;
        std::thread(handler_loop, created).detach();
        return created;
    }();
    std::lock_guard<std::mutex> lock(t->m);
    t->job = std::move(job);
    t->wakeup.notify_one();
}

void finish_handler() {
    handler_busy = false;
    busy_cursor = false;
    update_cursor();
    release_handler();
}

// Runs the handler of a command on the handler thread; false when the command is dropped
// because another handler runs.
bool start_handler(int id, int code) {
    if (!claim_handler()) return false;
    handler_busy = true;
    unsigned generation = ++worker_generation;
    // Quick commands do not flash the wait cursor.
    QTimer::singleShot(150, QCoreApplication::instance(), [generation] {
        if (!handler_busy || generation != worker_generation) return;
        busy_cursor = true;
        update_cursor();
    });
    run_on_handler_thread([id, code] {
        run_handler(id, code);
        QMetaObject::invokeMethod(QCoreApplication::instance(), finish_handler, Qt::QueuedConnection);
    });
    return true;
}

QWidget *make_control(const Control &c, int id, QtControl &entry) {
    QString text = to_qt(shown_text(c.text));
    entry.program_text = shown_text(c.text);
    entry.program_text_valid = true;
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
        QObject::connect(button, &QPushButton::clicked, [id] {
            if (!start_handler(id, kClicked)) busy_click(id);
        });
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
        QObject::connect(edit, &QLineEdit::textEdited, [id] {
            if (auto it = controls.find(id); it != controls.end()) it->second.program_text_valid = false;
        });
        return edit;
    }
    case Kind::MultiEdit: {
        auto *edit = new MultiEdit(main_window);
        edit->setUndoRedoEnabled(false);   // megabyte texts would be kept twice
        edit->setTabChangesFocus(true);
        edit->setLineWrapMode((c.style & kWrap) ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
        edit->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        edit->setVerticalScrollBarPolicy(bar(c.style, kVScroll));
        edit->setHorizontalScrollBarPolicy((c.style & kWrap) ? Qt::ScrollBarAlwaysOff : bar(c.style, kHScroll));
        if (!(c.style & kClientEdge)) edit->setFrameStyle(QFrame::NoFrame);
        edit->installEventFilter(main_window);
        edit->setGeometry(dialog_rect(c.x, c.y, c.w, c.h));   // the row length depends on it
        entry.widget = edit;
        set_multi_edit(entry, shown_text(c.text));
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
            if (start_handler(id, kSelChange)) {
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
    // end_dialog from a handler ends the dialog before the handler has returned.
    while (handler_busy) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    controls.clear();
    delete main_window;
    main_window = nullptr;
}

QtControl *find(int id) {
    auto it = controls.find(id);
    return it == controls.end() ? nullptr : &it->second;
}

std::string read_text(int id) {
    QtControl *c = find(id);
    if (!c) return {};
    if (c->program_text_valid) return c->program_text;
    switch (c->kind) {
    case Kind::Edit: return from_qt(static_cast<QLineEdit *>(c->widget)->text());
    case Kind::MultiEdit: return lines_from_qt(whole_text(static_cast<QPlainTextEdit *>(c->widget)->document()));
    default: return {};
    }
}

void write_text(int id, std::string_view text) {
    QtControl *c = find(id);
    if (!c) return;
    switch (c->kind) {
    case Kind::Label: static_cast<QLabel *>(c->widget)->setText(to_qt(text)); break;
    case Kind::Button: static_cast<QPushButton *>(c->widget)->setText(to_qt(text)); break;
    case Kind::GroupBox: static_cast<QGroupBox *>(c->widget)->setTitle(to_qt(text)); break;
    case Kind::Edit: static_cast<QLineEdit *>(c->widget)->setText(to_qt(text)); break;
    case Kind::MultiEdit: set_multi_edit(*c, text); return;
    case Kind::ListBox: return;
    }
    c->program_text = text;
    c->program_text_valid = true;
}

std::string get_text(int id) {
    return on_gui([id] { return read_text(id); });
}

void set_text(int id, std::string_view text) {
    on_gui([id, text] { write_text(id, text); });
}

void set_visible(int id, bool visible) {
    on_gui([id, visible] {
        if (QtControl *c = find(id)) c->widget->setVisible(visible);
    });
}

void add_list_entry(int id, std::string_view text) {
    on_gui([id, text] {
        QtControl *c = find(id);
        if (!c || c->kind != Kind::ListBox) return;
        // The entry's own bytes are kept beside its shown text, for selected_entry.
        auto *item = new QListWidgetItem(to_qt(text));
        item->setData(Qt::UserRole, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
        static_cast<QListWidget *>(c->widget)->addItem(item);
    });
}

std::string selected_entry(int id) {
    return on_gui([id] {
        QtControl *c = find(id);
        if (!c || c->kind != Kind::ListBox) return std::string();
        auto selected = static_cast<QListWidget *>(c->widget)->selectedItems();
        return selected.isEmpty() ? std::string() : selected.first()->data(Qt::UserRole).toByteArray().toStdString();
    });
}

void caret_to_end(int id) {
    on_gui([id] {
        QtControl *c = find(id);
        if (!c) return;
        if (c->kind == Kind::MultiEdit) {
            auto *edit = static_cast<QPlainTextEdit *>(c->widget);
            edit->moveCursor(QTextCursor::End);
            edit->ensureCursorVisible();
        } else if (c->kind == Kind::Edit) {
            static_cast<QLineEdit *>(c->widget)->end(false);
        }
    });
}

void use_system_font(int id) {
    on_gui([id] {
        if (QtControl *c = find(id)) c->widget->setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    });
}

void set_wait_cursor(bool wait) {
    on_gui([wait] {
        wait_cursor_on = wait;
        update_cursor();
    });
}

void centre_on_screen(QWidget *box) {
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect area = screen->availableGeometry();
    box->move(area.center() - QPoint(box->width() / 2, box->height() / 2));
}

// Runs a box modally on the GUI thread, with the arrow cursor over it.
int run_box(QDialog &box, std::string_view text) {
    if (qt_internal::box_shown) {
        std::string shown(text);
        QTimer::singleShot(0, &box, [&box, shown] { qt_internal::box_shown(&box, shown); });
    }
    ++boxes_open;
    update_cursor();
    int result = box.exec();
    --boxes_open;
    update_cursor();
    return result;
}

std::string show_input_box(std::string_view prompt, std::string_view caption, std::string_view default_text) {
    if (!main_window) choose_dialog_font();
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
    // The field takes any length; the answer is cut to 255 characters (dialogs.cpp), the
    // same in both backends.
    auto *edit = new QLineEdit(&box);
    edit->setGeometry(dialog_rect(2, 82, 146, 12));
    edit->setText(to_qt(default_text));
    edit->selectAll();
    QObject::connect(ok, &QPushButton::clicked, &box, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, &box, &QDialog::reject);
    centre_on_screen(&box);
    box.setFocusProxy(edit);
    edit->setFocus();
    if (run_box(box, prompt) != QDialog::Accepted) return {};
    return from_qt(edit->text());
}

std::string input_box(std::string_view prompt, std::string_view caption, std::string_view default_text) {
    return on_gui([=] { return show_input_box(prompt, caption, default_text); });
}

void message_box(std::string_view text, std::string_view caption) {
    on_gui([=] {
        QMessageBox box(QMessageBox::NoIcon, to_qt(caption), to_qt(text), QMessageBox::Ok, nullptr);
        box.setTextFormat(Qt::PlainText);
        run_box(box, text);
    });
}

void pump_step() {
    // The GUI thread answers on its own while a handler runs on its thread: there a step
    // is the 1 ms pause alone.
    if (!on_gui_thread()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return;
    }
    // One pass over what is pending; with nothing pending, 1 ms of sleep.
    QAbstractEventDispatcher *dispatcher = QThread::currentThread()->eventDispatcher();
    QCoreApplication::sendPostedEvents();
    bool handled = dispatcher && dispatcher->processEvents(QEventLoop::AllEvents);
    if (!handled) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// ---- Long work ----------------------------------------------------------------------------

void show_progress() {
    ProgressText progress = work_progress();
    if (!work.on || !progress || !main_window) return;
    std::string text = progress();
    if (work.progress_control == 0) {
        main_window->setWindowTitle(text.empty() ? work.window_caption : work.window_caption + " - " + to_qt(text));
    } else if (!text.empty()) {
        write_text(work.progress_control, text);
    }
}

void begin_work(int stop_button, std::string_view stop_caption, int progress_control) {
    on_gui([=] {
        if (!main_window || work.on) return;
        work.on = true;
        work.stop_button = stop_button;
        work.progress_control = progress_control;
        work.window_caption = main_window->windowTitle();
        if (QtControl *c = find(stop_button); c && c->kind == Kind::Button) {
            auto *button = static_cast<QPushButton *>(c->widget);
            work.button_caption = button->text();
            button->setText(to_qt(stop_caption));
        }
        // First after 0.3 s, so quick work shows nothing; then five times a second.
        work.timer = new QTimer(main_window);
        QObject::connect(work.timer, &QTimer::timeout, [] {
            work.timer->setInterval(200);
            show_progress();
        });
        work.timer->start(300);
    });
}

void end_work() {
    on_gui([] {
        if (!work.on) return;
        work.on = false;
        delete work.timer;
        work.timer = nullptr;
        if (!main_window) return;
        if (QtControl *c = find(work.stop_button); c && c->kind == Kind::Button)
            static_cast<QPushButton *>(c->widget)->setText(work.button_caption);
        main_window->setWindowTitle(work.window_caption);
    });
}

void set_read_only(int id, bool read_only) {
    on_gui([id, read_only] {
        QtControl *c = find(id);
        if (!c) return;
        if (c->kind == Kind::Edit) static_cast<QLineEdit *>(c->widget)->setReadOnly(read_only);
        if (c->kind == Kind::MultiEdit) static_cast<QPlainTextEdit *>(c->widget)->setReadOnly(read_only);
    });
}

}  // namespace

const Ops qt_ops = {
    "qt", open, wait_for_event, destroy, get_text, set_text, set_visible, add_list_entry,
    selected_entry, caret_to_end, use_system_font, set_wait_cursor, input_box, message_box, pump_step,
    begin_work, end_work, set_read_only,
};

namespace {

void (*platform_failed)() = nullptr;

// Qt ends the process when its platform cannot start, even when the display's socket
// answered a moment before (a virtual display that is just going away).
void startup_message(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    if (type == QtFatalMsg && platform_failed) platform_failed();
}

}  // namespace

bool qt_prepare(void (*cannot_start)()) {
    if (QApplication::instance()) return true;
    static int argc = 1;
    static char name[] = "vorn";
    static char *argv[] = {name, nullptr};
    platform_failed = cannot_start;
    QtMessageHandler previous = qInstallMessageHandler(startup_message);
    new QApplication(argc, argv);
    qInstallMessageHandler(previous);
    return QGuiApplication::primaryScreen() != nullptr;
}

// ---- What the test support sees ------------------------------------------------------------

namespace qt_internal {

QString to_qt(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
std::string from_qt(const QString &text) { return text.toUtf8().toStdString(); }

QWidget *main_window() { return backend::main_window; }

QWidget *control(int id) {
    QtControl *c = find(id);
    return c ? c->widget : nullptr;
}

int base_unit_x() {
    choose_dialog_font();
    return base_x;
}

int base_unit_y() {
    choose_dialog_font();
    return base_y;
}

bool busy() { return handler_busy; }

void (*box_shown)(QDialog *box, std::string_view text) = nullptr;

}  // namespace qt_internal

}  // namespace dlg::backend
