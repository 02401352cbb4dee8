#ifndef WINDOW_H
#define WINDOW_H

#include "testing.h"

#include "window/serverinterface.h"

#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <initializer_list>
#include <memory>

// The window as the operator meets it, with the adapters the test gives it
// and its image in a folder of the test's own. The boxes it opens are noted
// and closed as the operator would: Ok, or the answer the test chose.
class WindowUnderTest : public QObject
{
public:
    explicit WindowUnderTest(const QList<NetworkAdapter> &adapters = {});
    ~WindowUnderTest() override;

    ServerInterface::Options options;
    FakeAdapters adapters;
    // The adapters the window sees: the fake ones, or the machine's own.
    NetworkAdapters *adapterSource = &adapters;
    QTemporaryDir folder;
    QString imagePath() const { return folder.filePath(QStringLiteral("file.bin")); }
    // The image file Download reads, and what a device must get.
    QByteArray writeImage(int size);

    ServerInterface *start();
    ServerInterface *window() const { return m_window.get(); }

    void clickDownload();
    void clickModifyIp();
    // How the next questions are answered, and their default answers so far.
    QMessageBox::StandardButton answer = QMessageBox::No;
    QList<QMessageBox::StandardButton> questionDefaults;
    // Runs while the next box is open, in its event loop; then it is closed.
    std::function<void()> whileNextBoxIsOpen;
    // The texts of the boxes so far.
    QStringList boxes;

    // What shows: a widget's text, and the colour of its text ("green",
    // "red", "black", "blue"; one colour when all show it, else each).
    QString text(const char *widget) const;
    QString colour(std::initializer_list<const char *> widgets) const;
    int bar() const;

    // A device that connects and is shown.
    TestDevice *connectDevice(const QString &host = QStringLiteral("127.0.0.1"));
    std::vector<std::unique_ptr<TestDevice>> devices;

private:
    void closeBoxes();
    std::unique_ptr<ServerInterface> m_window;
    QTimer m_boxTimer;
    QObject *m_seenBox = nullptr;
};

#endif // WINDOW_H
