#ifndef MESSAGES_H
#define MESSAGES_H

class QString;
class QWidget;

// The operator's information box: titled "TcpServer", one Ok button, which is
// also the default. Returns once the operator has closed it.
void showInformation(QWidget *parent, const QString &text);

#endif // MESSAGES_H
