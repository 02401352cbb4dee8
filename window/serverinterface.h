#ifndef SERVERINTERFACE_H
#define SERVERINTERFACE_H

#include "adapter/adaptersearch.h"
#include "server/tcpserver.h"

#include <QByteArray>
#include <QMainWindow>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

class FlashImage;
class FlashSession;
class FlashStatus;
class NetworkAdapters;
class QCloseEvent;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QTextBrowser;

namespace Ui {
class ServerInterface;
}

// The main window. It finds the wired adapter, loads the image on Download,
// hands it to the flashing line the device pulls it from, follows what the
// line reports, and tells the operator what to do next. Its widgets carry
// object names (the member's name without "m_"), which is how tests and tools
// find them.
class ServerInterface : public QMainWindow
{
    Q_OBJECT

public:
    struct Options
    {
        TcpServer::Options server;
        QString imagePath; // what Download reads; empty: below the program's folder
        QString logPath; // the flash record; empty: none
        QString station; // this PC's name in the record
        QString databaseUrl; // the line's database; empty: none
        // Where ModifyIP notes how the adapter was set; empty: the user's own.
        QString notePath;
        // The ClientInput pane keeps at most this many characters: more than
        // the echo of the largest image's requests, but bounded whatever arrives.
        int clientInputLimit = 8 * 1024 * 1024;
    };

    explicit ServerInterface(QWidget *parent = nullptr);
    ServerInterface(const Options &options, NetworkAdapters *adapters, QWidget *parent = nullptr);
    ~ServerInterface() override;

signals:
    void sendDataSig(const QSharedPointer<FlashImage> &image);

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void slotOpenFile();
    void slotModify();
    void slotHintMessage();

private:
    void startServer();
    // Makes sure the server listens on port 10013, trying the port again.
    void ensureListening();
    // Download's work, once the server listens.
    void loadImage();
    // At the end: every flash ends, and every report is in.
    void stopSession();
    void tellPortInUse();
    void buildLayout();
    QRect initialGeometry();

    QString getServerIp() { return m_adapterSearch.getServerIp(); }
    bool judgeServerIp() { return m_adapterSearch.judgeServerIp(); }

    void appendClientInput(const QString &text);
    void delayMsec(int msec);
    void showStartupHint();
    void showInterruptionHint();
    void markFlashInterrupted();
    // ModifyIP notes how the adapter was set before it changes anything;
    // false (and the operator told why) where it cannot.
    bool noteAdapterSettings();
    // At the end: offers to give the adapter ModifyIP changed its earlier
    // settings back.
    void offerToGiveBack();
    QString notePath() const;

    // What the line reports.
    void showDevice(const DeviceConnection &device);
    void showBlock(const DeviceConnection &device, int index, const QByteArray &block);
    void showEcho(const DeviceConnection &device, const QStringList &requests);
    void showTransferEnded(const TransferReport &report);
    // At the end: the record's last rows, and the box when some are not written.
    void finishRecord();

    const Options m_options;
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
    FlashSession *m_session = nullptr;
    bool m_downloadWhenListening = false;
    QProgressBar *m_progressBar = nullptr;
    AdapterSearch m_adapterSearch;
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

    // Widgets the transfer writes to but which never appear on screen.
    QWidget *m_offscreenWidgets = nullptr;
    // Holds the window's content, so that a screen too small for it scrolls it
    // rather than pushing the window off screen.
    QScrollArea *m_contentArea = nullptr;
    QScrollArea *m_stepsArea = nullptr;
    bool m_refusalBoxOpen = false;

    FlashStatus *m_status = nullptr;
    int m_clientInputChars = 0;
    QString m_pendingEcho;
};

#endif // SERVERINTERFACE_H
