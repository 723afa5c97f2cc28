#pragma once

#include <QString>

#include "widgets/ClickableLabel.h"

class QPainter;
class QTextLayout;

// A clickable label for plain texts that come from the card or from an import and may hold a
// word of any length (a URL, a path, a list without blanks): a point's label, part number or
// note. Its width never follows such a word, so one long word cannot widen the whole card face.
// With word wrap on, a word that does not fit a line is broken between characters; with word
// wrap off, a line that does not fit ends in "..." and the tool tip shows the whole text. text()
// is always the whole text, as set.
// GUI thread only.
class LongTextLabel : public ClickableLabel
{
    Q_OBJECT

public:
    explicit LongTextLabel(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    int heightForWidth(int width) const override;

    // Word wrap off: some line of the text is cut short on the screen now.
    bool IsElided() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    // Where the text goes, inside frame, margin and indent (as QLabel places it).
    QRect TextRect() const;
    // Horizontal and vertical room that frame, margin and indent take.
    QSize Extras() const;
    // Lays the text out in lines of at most width; the height of all lines.
    qreal LayOut(QTextLayout& layout, qreal width) const;
    QString DisplayText() const;
};
