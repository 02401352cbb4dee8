#include "window/storedtextpane.h"

#include <QAbstractTextDocumentLayout>
#include <QSignalBlocker>
#include <QTextDocument>
#include <QTextEdit>

namespace {

class NoLayout : public QAbstractTextDocumentLayout
{
public:
    explicit NoLayout(QTextDocument *document)
        : QAbstractTextDocumentLayout(document)
    {
    }

    void draw(QPainter *, const PaintContext &) override { }
    int hitTest(const QPointF &, Qt::HitTestAccuracy) const override { return -1; }
    int pageCount() const override { return 1; }
    QSizeF documentSize() const override { return QSizeF(); }
    QRectF frameBoundingRect(QTextFrame *) const override { return QRectF(); }
    QRectF blockBoundingRect(const QTextBlock &) const override { return QRectF(); }

protected:
    void documentChanged(int, int, int) override { }
};

} // namespace

// The document tells its text control about every change through signals; the
// control draws nothing for a pane that is never shown and nothing else
// listens, while the signals cost as much as the insertion. The text and the
// cursors are kept by the document itself, signals or not.
void appendToPane(QTextEdit *pane, const QString &text)
{
    const QSignalBlocker quiet(pane->document());
    QTextCursor inserter(pane->document());
    inserter.beginEditBlock();
    inserter.setPosition(pane->textCursor().position());
    inserter.insertText(text);
    inserter.endEditBlock();
    // The pane's own cursor moves along with text inserted where it stands;
    // only a cursor left elsewhere needs moving.
    if (!pane->textCursor().atEnd())
        pane->moveCursor(QTextCursor::End, QTextCursor::MoveAnchor);
}

void replacePaneText(QTextEdit *pane, const QString &text)
{
    const QSignalBlocker quiet(pane->document());
    QTextCursor replacer(pane->document());
    replacer.beginEditBlock();
    replacer.select(QTextCursor::Document);
    replacer.insertText(text);
    replacer.endEditBlock();
    if (!pane->textCursor().atEnd())
        pane->moveCursor(QTextCursor::End, QTextCursor::MoveAnchor);
}

void keepTextWithoutLayout(QTextEdit *pane)
{
    QTextDocument *document = pane->document();
    document->setDocumentLayout(new NoLayout(document));
    // Nothing to undo in a read-only pane; keep no history of every append.
    document->setUndoRedoEnabled(false);
}
