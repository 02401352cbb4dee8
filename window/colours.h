#ifndef COLOURS_H
#define COLOURS_H

#include <initializer_list>

class QWidget;

// The colours that guide the operator: green for done or right, red for
// failed or action needed, black for reset, blue for captions. Each is a
// one-rule style sheet on a single widget.
enum class Colour { Green, Red, Black, Blue };

void setColour(QWidget *widget, Colour colour);
void setColour(std::initializer_list<QWidget *> widgets, Colour colour);

#endif // COLOURS_H
