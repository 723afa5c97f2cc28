#include "widgets/LongTextLabel.h"

#include <algorithm>
#include <cmath>

#include <QHelpEvent>
#include <QPainter>
#include <QStringList>
#include <QStyle>
#include <QTextLayout>
#include <QToolTip>

namespace {

// What the label keeps at least when the text is long: a few characters and the ellipsis.
const int minimumChars = 8;

} // namespace

LongTextLabel::LongTextLabel(QWidget* parent) : ClickableLabel(parent)
{
    setTextFormat(Qt::PlainText);
}

QString LongTextLabel::DisplayText() const
{
    QString shown = text();
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

// As QLabel computes it: with a frame and no indent set, half an "x" less the margin.
QSize LongTextLabel::Extras() const
{
    const QMargins frame = contentsMargins();
    int horizontal = frame.left() + frame.right() + 2 * margin();
    int vertical = frame.top() + frame.bottom() + 2 * margin();
    int indentation = indent();
    if (indentation < 0 && frameWidth())
        indentation = fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 - margin();
    if (indentation > 0) {
        if (alignment() & (Qt::AlignLeft | Qt::AlignRight))
            horizontal += indentation;
        if (alignment() & (Qt::AlignTop | Qt::AlignBottom))
            vertical += indentation;
    }
    return QSize(horizontal, vertical);
}

QRect LongTextLabel::TextRect() const
{
    QRect r = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    int indentation = indent();
    if (indentation < 0 && frameWidth())
        indentation = fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 - margin();
    if (indentation > 0) {
        const Qt::Alignment align = QStyle::visualAlignment(layoutDirection(), alignment());
        if (align & Qt::AlignLeft)
            r.setLeft(r.left() + indentation);
        if (align & Qt::AlignRight)
            r.setRight(r.right() - indentation);
        if (align & Qt::AlignTop)
            r.setTop(r.top() + indentation);
        if (align & Qt::AlignBottom)
            r.setBottom(r.bottom() - indentation);
    }
    return r;
}

qreal LongTextLabel::LayOut(QTextLayout& layout, qreal width) const
{
    QTextOption option(alignment() & Qt::AlignHorizontal_Mask);
    // Words stay whole where they fit; a word longer than the line is broken where it must be.
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.setFont(font());
    const qreal leading = fontMetrics().leading();
    qreal height = 0;
    layout.beginLayout();
    for (bool first = true;; first = false) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(std::max<qreal>(width, 1));
        if (!first)
            height += leading;
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout.endLayout();
    return height;
}

int LongTextLabel::heightForWidth(int width) const
{
    if (!wordWrap())
        return ClickableLabel::heightForWidth(width);
    const QSize extras = Extras();
    QString shown = DisplayText();
    shown.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(shown, font());
    const qreal textHeight = LayOut(layout, width - extras.width());
    return int(std::ceil(textHeight)) + extras.height();
}

QSize LongTextLabel::sizeHint() const
{
    const QSize natural = ClickableLabel::sizeHint();
    if (!wordWrap())
        return natural;
    return QSize(natural.width(), heightForWidth(natural.width()));
}

QSize LongTextLabel::minimumSizeHint() const
{
    const QSize extras = Extras();
    const QFontMetrics fm = fontMetrics();
    const int width = extras.width() + minimumChars * fm.averageCharWidth();
    if (wordWrap())
        return QSize(width, extras.height() + fm.height());
    return QSize(width, ClickableLabel::minimumSizeHint().height());
}

bool LongTextLabel::IsElided() const
{
    if (wordWrap())
        return false;
    const int room = TextRect().width();
    const QFontMetrics fm = fontMetrics();
    const QStringList lines = DisplayText().split(QLatin1Char('\n'));
    return std::any_of(lines.begin(), lines.end(),
                       [&](const QString& line) { return fm.horizontalAdvance(line) > room; });
}

void LongTextLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawFrame(&painter);
    const QRect room = TextRect();
    const Qt::Alignment align = QStyle::visualAlignment(layoutDirection(), alignment());

    if (!wordWrap()) {
        QStringList lines = DisplayText().split(QLatin1Char('\n'));
        for (QString& line : lines)
            line = fontMetrics().elidedText(line, Qt::ElideRight, room.width());
        style()->drawItemText(&painter, room, int(align), palette(), isEnabled(),
                              lines.join(QLatin1Char('\n')), foregroundRole());
        return;
    }

    QString shown = DisplayText();
    shown.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(shown, font());
    const qreal height = LayOut(layout, room.width());
    qreal top = room.top();
    if (align & Qt::AlignVCenter)
        top += (room.height() - height) / 2;
    else if (align & Qt::AlignBottom)
        top += room.height() - height;
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    layout.draw(&painter, QPointF(room.left(), top));
}

bool LongTextLabel::event(QEvent* event)
{
    // The whole text as tool tip while it is cut short; a tool tip set by the owner wins.
    if (event->type() == QEvent::ToolTip && toolTip().isEmpty()) {
        if (IsElided()) {
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), text(), this);
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return ClickableLabel::event(event);
}
