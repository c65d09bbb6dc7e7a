// The dialog font and dialog units: a control's place and size are given in units of the
// font's average character width (x, in quarters) and height (y, in eighths).
#include "qt_window.h"

#include <QFontMetrics>

namespace dlg::backend::qt_window {

void choose_dialog_font() {
    // MS Sans Serif does not exist here; any 8-point sans font, with the dialog units taken
    // from its own metrics, keeps every text within its control.
    ui.dialog_font = QFont();
    ui.dialog_font.setFamilies({"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "DejaVu Sans"});
    ui.dialog_font.setStyleHint(QFont::SansSerif);
    ui.dialog_font.setPointSize(8);
    QFontMetrics metrics(ui.dialog_font);
    int alphabet = metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    ui.base_x = (alphabet / 26 + 1) / 2;
    ui.base_y = metrics.height();
}

// Dialog units to pixels, rounded as Windows' MulDiv does.
int px_x(int units) { return (units * ui.base_x + 2) / 4; }
int px_y(int units) { return (units * ui.base_y + 4) / 8; }
QRect dialog_rect(int x, int y, int w, int h) { return QRect(px_x(x), px_y(y), px_x(w), px_y(h)); }

}  // namespace dlg::backend::qt_window
