#ifndef WINDOW_H
#define WINDOW_H

#include "fakeadapters.h"
#include "testing.h"

#include "window/colours.h"
#include "window/serverinterface.h"

#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <QVector>

#include <functional>
#include <initializer_list>
#include <memory>

// The window with the test's adapters; its boxes are noted and answered.
class WindowUnderTest : public QObject
{
public:
    explicit WindowUnderTest(const QList<NetworkAdapter> &adapters = {});
    ~WindowUnderTest() override;

    ServerInterface::Options options;
    FakeAdapters adapters;
    NetworkAdapters *adapterSource = &adapters;
    QTemporaryDir folder;
    QString imagePath() const { return folder.filePath(QStringLiteral("file.bin")); }
    QByteArray writeImage(int size);

    enum class Listening { Yes, No };
    // Shown, and listening where the window should.
    ServerInterface *start(Listening listening = Listening::Yes);
    bool isListening() const;
    ServerInterface *window() const { return m_window.get(); }

    void clickDownload();
    void clickModifyIp();
    QMessageBox::StandardButton answer = QMessageBox::No;
    QList<QMessageBox::StandardButton> questionDefaults;
    // Runs while the next box is open, in its event loop; then it is closed.
    std::function<void()> whileNextBoxIsOpen;
    // The texts of the boxes so far, and their titles (every one is to be
    // "TcpServer": the test fails at its end where one is not).
    QStringList boxes;
    QStringList titles;

    QString text(const char *widget) const;
    // Each widget's colour, as it shows.
    QVector<Colour> colours(std::initializer_list<const char *> widgets) const;
    int bar() const;

    TestDevice *connectDevice(const QString &host = QStringLiteral("127.0.0.1"));
    std::vector<std::unique_ptr<TestDevice>> devices;

private:
    void closeBoxes();
    std::unique_ptr<ServerInterface> m_window;
    QTimer m_boxTimer;
    QPointer<QMessageBox> m_heldBox;
};

#endif // WINDOW_H
