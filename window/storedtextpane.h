#ifndef STOREDTEXTPANE_H
#define STOREDTEXTPANE_H

class QString;
class QTextEdit;

// The ServerOutput and ClientInput panes are written on every block but never
// shown. Laying their text out is all cost and no use: one growing line of
// echoed requests would be re-laid out whole on each append. This gives a
// pane's document a layout that stores the text and lays nothing out; the
// text, cursor and everything read back stay as they are.
void keepTextWithoutLayout(QTextEdit *pane);

// Inserts plain text at the pane's cursor and leaves the cursor at the end of
// the pane, as QTextEdit::insertPlainText() followed by moveCursor(End) would.
// Those two work out the cursor's on-screen column each time, which means
// re-reading the whole line of text: a long transfer's echo then gets slower
// with every block. Inserting within an edit block skips that; the text and
// the cursor's position come out the same. The pane's document sends no change
// signals for it: nothing listens to a pane that is never shown.
void appendToPane(QTextEdit *pane, const QString &text);

// Replaces the pane's whole text, as clear() followed by appendToPane() would,
// in one edit rather than by rebuilding the document.
void replacePaneText(QTextEdit *pane, const QString &text);

#endif // STOREDTEXTPANE_H
