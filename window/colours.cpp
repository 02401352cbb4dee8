#include "window/colours.h"

#include <QString>
#include <QWidget>

namespace {

QString styleSheetOf(Colour colour)
{
    switch (colour) {
    case Colour::Green: return QStringLiteral("color:green;");
    case Colour::Red: return QStringLiteral("color:red;");
    case Colour::Black: return QStringLiteral("color:black;");
    case Colour::Blue: break;
    }
    return QStringLiteral("color:blue;");
}

} // namespace

void setColour(QWidget *widget, Colour colour)
{
    // Setting a style sheet re-polishes the widget even when the sheet is the
    // same; during a transfer that is most of the cost of a block.
    const QString sheet = styleSheetOf(colour);
    if (widget->styleSheet() != sheet)
        widget->setStyleSheet(sheet);
}

void setColour(std::initializer_list<QWidget *> widgets, Colour colour)
{
    for (QWidget *widget : widgets)
        setColour(widget, colour);
}
