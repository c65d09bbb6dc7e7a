// Multi-line edits.
//
// The plain text edit lays out only the blocks (lines) it shows, but a block is always laid
// out whole: one line of 4.7 million digits took seconds, and minutes with word wrapping.
// So a line longer than kLongLine is shown cut into blocks of kRowsPerBlock full rows,
// marked as continued; the text the program reads, and what is copied, joins them again.
// Each block is told its row count ahead of its layout, so the scroll bar is right from
// the start. (Blocks of one row each would cost 4 us apiece to insert: 0.35 s for 4.7
// million digits.)
#include "qt_window.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetrics>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>

#include <algorithm>
#include <vector>

namespace dlg::backend::qt_window {

namespace {

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

}  // namespace

QPlainTextEdit *make_multi_edit(QWidget *parent) { return new MultiEdit(parent); }

QString whole_text(QPlainTextEdit *edit) {
    const QTextDocument *document = edit->document();
    return text_between(document, 0, document->characterCount() - 1);
}

void set_multi_edit(QtControl &c, std::string_view text) {
    auto *edit = static_cast<QPlainTextEdit *>(c.widget);
    const std::string &old = c.program_text;
    bool extends = c.program_text_valid && text.size() > old.size() && text.substr(0, old.size()) == old &&
                   (old.empty() || old.back() != '\r');
    ui.setting_text = true;
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
    ui.setting_text = false;
    c.program_text = text;
    c.program_text_valid = true;
}

}  // namespace dlg::backend::qt_window
