#ifndef SERVERINTERFACE_H
#define SERVERINTERFACE_H

#include <QByteArray>
#include <QMainWindow>
#include <QString>

class QCloseEvent;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QTextBrowser;
class NetworkAdapters;
class TcpServer;

namespace Ui {
class ServerInterface;
}

// The main window. It finds the wired adapter, loads the image on Download,
// runs the transfer server the device pulls the image from, and tells the
// operator what to do next. The transfer server writes the window's widgets
// directly, so the widget members are public.
class ServerInterface : public QMainWindow
{
    Q_OBJECT

public:
    // The ClientInput pane keeps at most this many characters: more than the
    // echo of the largest image's requests, but bounded whatever arrives.
    // Tests lower it.
    static int clientInputLimit;

    explicit ServerInterface(QWidget *parent = nullptr);
    // Tests hand in their own adapter list; the program uses the system's.
    explicit ServerInterface(NetworkAdapters *adapters, QWidget *parent = nullptr);
    ~ServerInterface() override;

    void startServer();
    void buildLayout();

    QString getServerIp();
    bool judgeServerIp();

    void appendClientInput(const QString &text);
    void delayMsec(int msec);
    void showStartupHint();
    void showInterruptionHint();

    // What the transfer server shows beyond the widgets it writes itself.
    void markFlashInterrupted();
    void showSentBlock(const char *block, int length);

signals:
    void sendDataSig(QByteArray buf);

private slots:
    void slotOpenFile();
    void slotModify();
    void slotHintMessage();

public:
    Ui::ServerInterface *ui;
    QLineEdit *m_fileStatusEdit = nullptr;
    QLineEdit *m_filePathEdit = nullptr;
    QLabel *m_clientIpLabel = nullptr;
    QLabel *m_serverIpLabel = nullptr;
    QLabel *m_messageLabel = nullptr;
    QLabel *m_hintLabel1 = nullptr;
    QLabel *m_hintLabel2 = nullptr;
    QTextBrowser *m_serverOutputBrowser = nullptr;
    QTextBrowser *m_clientInputBrowser = nullptr;
    QPushButton *m_downloadButton = nullptr;
    QPushButton *m_modifyIpButton = nullptr;
    TcpServer *m_tcpServer = nullptr;
    QProgressBar *m_progressBar = nullptr;
    QString m_adapterName;
    bool m_adapterFound = false;
    QLabel *m_step1Label = nullptr;
    QLabel *m_noIpLabel = nullptr;
    QLabel *m_haveIpLabel = nullptr;
    QLabel *m_noIpHintLabel = nullptr;
    QLabel *m_haveIpHintLabel1 = nullptr;
    QLabel *m_haveIpHintLabel2 = nullptr;
    QLabel *m_step2Label = nullptr;
    QLabel *m_step2TextLabel1 = nullptr;
    QLabel *m_step2TextLabel2 = nullptr;
    QLabel *m_step3Label = nullptr;
    QLabel *m_step3TextLabel1 = nullptr;
    QLabel *m_step3TextLabel2 = nullptr;
    QLabel *m_step3TextLabel3 = nullptr;
    QLabel *m_step4Label = nullptr;
    QLabel *m_step4TextLabel1 = nullptr;
    QLabel *m_step4TextLabel2 = nullptr;
    QLabel *m_step4TextLabel3 = nullptr;
    QString m_adapterNames[100];

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createServer();
    // Makes sure a server listens on port 10013, creating one or trying the
    // port again; tells the operator when the port is taken.
    bool ensureListening();
    void tellPortInUse();
    QRect initialGeometry();
    // Widgets the transfer writes to but which never appear on screen.
    QWidget *m_offscreenWidgets = nullptr;
    // Holds the window's content, so that a screen too small for it scrolls it
    // rather than pushing the window off screen.
    QScrollArea *m_contentArea = nullptr;
    QScrollArea *m_stepsArea = nullptr;
    NetworkAdapters *m_adapters;
    bool m_refusalBoxOpen = false;
};

#endif // SERVERINTERFACE_H
