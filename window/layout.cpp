#include "window/serverinterface.h"

#include "window/colours.h"
#include "window/storedtextpane.h"

#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QTextBrowser>

void ServerInterface::buildLayout()
{
    // The content scrolls only where the screen is too small to show it whole
    // (see initialGeometry()); elsewhere the scroll areas are invisible. The
    // steps panel scrolls on its own, so that the buttons stay in view.
    QWidget *central = new QWidget;
    m_contentArea = new QScrollArea;
    m_contentArea->setFrameShape(QFrame::NoFrame);
    // Only the two buttons take the keyboard focus; the areas only scroll.
    m_contentArea->setFocusPolicy(Qt::NoFocus);
    m_contentArea->setWidgetResizable(true);
    m_contentArea->setWidget(central);
    setCentralWidget(m_contentArea);
    QGridLayout *centralGrid = new QGridLayout;
    central->setLayout(centralGrid);

    QGroupBox *transferBox = new QGroupBox;
    QGroupBox *stepsBox = new QGroupBox;
    QGridLayout *transferGrid = new QGridLayout;
    transferBox->setLayout(transferGrid);
    QGridLayout *stepsGrid = new QGridLayout;
    stepsBox->setLayout(stepsGrid);
    QGridLayout *infoGrid = new QGridLayout;
    QGridLayout *controlGrid = new QGridLayout;

    m_hintLabel1 = new QLabel;
    m_hintLabel2 = new QLabel;
    QLabel *fileStatusCaption = new QLabel;
    QLabel *filePathCaption = new QLabel;
    QLabel *clientIpCaption = new QLabel;
    QLabel *serverIpCaption = new QLabel;
    m_clientIpLabel = new QLabel;
    m_serverIpLabel = new QLabel;
    m_messageLabel = new QLabel;
    m_fileStatusEdit = new QLineEdit;
    m_filePathEdit = new QLineEdit;
    m_progressBar = new QProgressBar;
    m_downloadButton = new QPushButton;
    m_modifyIpButton = new QPushButton;
    fileStatusCaption->setText(QStringLiteral("FileStatus:"));
    filePathCaption->setText(QStringLiteral("FilePath:"));
    clientIpCaption->setText(QStringLiteral("ClientIP:"));
    serverIpCaption->setText(QStringLiteral("ServerIP:"));

    infoGrid->addWidget(fileStatusCaption, 0, 0);
    infoGrid->addWidget(m_fileStatusEdit, 0, 1);
    infoGrid->addWidget(clientIpCaption, 2, 0);
    infoGrid->addWidget(m_clientIpLabel, 2, 1);
    infoGrid->addWidget(serverIpCaption, 3, 0);
    infoGrid->addWidget(m_serverIpLabel, 3, 1);

    controlGrid->addWidget(m_progressBar, 0, 0, 1, 2, Qt::AlignHCenter | Qt::AlignVCenter);
    controlGrid->addWidget(m_messageLabel, 1, 0, 1, 2);
    controlGrid->addWidget(m_downloadButton, 2, 0);
    controlGrid->addWidget(m_modifyIpButton, 2, 1);

    m_fileStatusEdit->setFocusPolicy(Qt::NoFocus);
    m_filePathEdit->setFocusPolicy(Qt::NoFocus);

    m_serverIpLabel->setText(getServerIp());
    setColour(m_serverIpLabel, judgeServerIp() ? Colour::Green : Colour::Red);

    m_downloadButton->setText(QStringLiteral("Download"));
    m_modifyIpButton->setText(QStringLiteral("ModifyIP"));
    m_downloadButton->setFixedSize(70, 40);
    m_modifyIpButton->setFixedSize(70, 40);
    m_progressBar->setFixedSize(350, 15);
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(0);
    m_progressBar->setOrientation(Qt::Horizontal);

    m_messageLabel->setAlignment(Qt::AlignTop);
    clientIpCaption->setAlignment(Qt::AlignBottom);
    m_clientIpLabel->setAlignment(Qt::AlignBottom);

    controlGrid->setRowStretch(0, 1);
    controlGrid->setRowStretch(1, 1);
    controlGrid->setRowStretch(2, 2);
    transferGrid->addLayout(infoGrid, 0, 0);
    transferGrid->addLayout(controlGrid, 1, 0);
    transferGrid->setRowStretch(0, 1);
    transferGrid->setRowStretch(1, 1);

    QLabel *serverOutputCaption = new QLabel;
    QLabel *clientInputCaption = new QLabel;
    QGroupBox *stepsPanel = new QGroupBox;
    QLabel *stepsCaption = new QLabel(QStringLiteral("Operating Steps"));
    m_serverOutputBrowser = new QTextBrowser;
    m_clientInputBrowser = new QTextBrowser;
    keepTextWithoutLayout(m_serverOutputBrowser);
    keepTextWithoutLayout(m_clientInputBrowser);
    serverOutputCaption->setText(QStringLiteral("ServerOutput"));
    clientInputCaption->setText(QStringLiteral("ClientInput"));

    stepsGrid->addWidget(stepsCaption, 0, 0);
    m_stepsArea = new QScrollArea;
    m_stepsArea->setFrameShape(QFrame::NoFrame);
    m_stepsArea->setFocusPolicy(Qt::NoFocus);
    m_stepsArea->setWidgetResizable(true);
    stepsGrid->addWidget(m_stepsArea, 1, 0);
    stepsGrid->setRowStretch(0, 1);
    stepsGrid->setRowStretch(1, 20);
    stepsPanel->setContentsMargins(0, 0, 0, 0);
    stepsCaption->setAlignment(Qt::AlignTop);
    stepsPanel->setStyleSheet(QStringLiteral("background:white;"));

    QGridLayout *panelGrid = new QGridLayout;
    stepsPanel->setLayout(panelGrid);
    m_step1Label = new QLabel(QStringLiteral("Step1:"));
    m_noIpLabel = new QLabel(QStringLiteral("(1)Didn't get ServerIP"));
    m_noIpHintLabel = new QLabel(QStringLiteral("Please set the IP address of local connection."));
    m_haveIpLabel = new QLabel(QStringLiteral("(2)Aready acquired ServerIP"));
    m_haveIpHintLabel1 = new QLabel(QStringLiteral("If the IP shows red, please click 'ModifyIP' to modify the"));
    m_haveIpHintLabel2 = new QLabel(QStringLiteral("ServerIP;If the IP shows green, no oprantion is required."));
    m_step2Label = new QLabel(QStringLiteral("Step2:"));
    m_step2TextLabel1 = new QLabel(QStringLiteral("Click 'Download' to read data, if sucessed, the file status"));
    m_step2TextLabel2 = new QLabel(QStringLiteral("will show that the read data is completed."));
    m_step3Label = new QLabel(QStringLiteral("Step3:"));
    m_step3TextLabel1 = new QLabel(QStringLiteral("Connect the monitoring device to your computer, turn on the"));
    m_step3TextLabel2 = new QLabel(QStringLiteral("monitoring devise and press the Enter button within 2 seconds"));
    m_step3TextLabel3 = new QLabel(QStringLiteral("to enter the boot interface."));
    m_step4Label = new QLabel(QStringLiteral("Setp4:"));
    m_step4TextLabel1 = new QLabel(QStringLiteral("After selecting the 'Update System', press the OK button to"));
    m_step4TextLabel2 = new QLabel(QStringLiteral("upgrade. When the upgrade complete, you will recive a reminder"));
    m_step4TextLabel3 = new QLabel(QStringLiteral("interface."));
    setColour({m_step1Label, m_step2Label, m_step3Label, m_step4Label}, Colour::Blue);
    QLabel *const rows[] = {
            m_step1Label,       m_noIpLabel,       m_noIpHintLabel,   m_haveIpLabel,     m_haveIpHintLabel1,
            m_haveIpHintLabel2, m_step2Label,      m_step2TextLabel1, m_step2TextLabel2, m_step3Label,
            m_step3TextLabel1,  m_step3TextLabel2, m_step3TextLabel3, m_step4Label,      m_step4TextLabel1,
            m_step4TextLabel2,  m_step4TextLabel3,
    };
    int row = 0;
    for (QLabel *label : rows)
        panelGrid->addWidget(label, row++, 0);
    m_stepsArea->setWidget(stepsPanel);

    centralGrid->addWidget(transferBox, 0, 0);
    centralGrid->addWidget(stepsBox, 0, 1);
    if (!m_adapterSearch.adapterFound()) {
        centralGrid->addWidget(m_hintLabel1, 1, 0, 1, 2);
        centralGrid->addWidget(m_hintLabel2, 2, 0, 1, 2);
        centralGrid->setRowStretch(0, 15);
        centralGrid->setRowStretch(1, 1);
        centralGrid->setRowStretch(2, 1);
    }
    centralGrid->setColumnStretch(0, 1);
    centralGrid->setColumnStretch(1, 1);

    // Weight 65 on Qt 5's scale of 0 to 99 (between demi-bold 63 and bold 75)
    // is demi-bold on Qt 6's scale of 1 to 1000.
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    const QFont captionFont(QStringLiteral("Time"), 8, 65, false);
#else
    const QFont captionFont(QStringLiteral("Time"), 8, QFont::DemiBold, false);
#endif
    for (QWidget *widget : std::initializer_list<QWidget *>{fileStatusCaption, filePathCaption, clientIpCaption,
                                                            serverIpCaption, serverOutputCaption, clientInputCaption,
                                                            stepsCaption, m_downloadButton, m_modifyIpButton}) {
        widget->setFont(captionFont);
        setColour(widget, Colour::Blue);
    }
    // The fixed sizes hold wherever the texts fit in them; a larger font
    // (display scaling, another platform's fonts) makes them larger rather
    // than clip "Download" to "Downloa". What a text needs is measured (its
    // width inside the frame, a pixel either side), not the style's preferred
    // size: Fusion asks 80 pixels of any button.
    for (QPushButton *button : {m_downloadButton, m_modifyIpButton}) {
        const int frame = button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
        const QSize text = button->fontMetrics().size(Qt::TextShowMnemonic, button->text());
        button->setFixedSize(button->size().expandedTo(text + QSize(2 * frame + 2, 2 * frame + 2)));
    }
    const QRect percent = m_progressBar->fontMetrics().tightBoundingRect(QStringLiteral("100%"));
    m_progressBar->setFixedSize(m_progressBar->size().expandedTo(percent.size()));

    // The file path, the two text panes and their captions are written to but
    // never shown: they live under a holder that is never made visible. The hint
    // labels have the same fate when the hint rows are not placed.
    m_offscreenWidgets = new QWidget(this);
    m_offscreenWidgets->hide();
    for (QWidget *widget :
         std::initializer_list<QWidget *>{filePathCaption, m_filePathEdit, serverOutputCaption, clientInputCaption,
                                          m_serverOutputBrowser, m_clientInputBrowser})
        widget->setParent(m_offscreenWidgets);
    if (m_adapterSearch.adapterFound()) {
        m_hintLabel1->setParent(m_offscreenWidgets);
        m_hintLabel2->setParent(m_offscreenWidgets);
    }

    // How tests and tools find the widgets.
    const std::initializer_list<std::pair<QWidget *, const char *>> names = {
            {m_fileStatusEdit, "fileStatusEdit"},
            {m_filePathEdit, "filePathEdit"},
            {m_clientIpLabel, "clientIpLabel"},
            {m_serverIpLabel, "serverIpLabel"},
            {m_messageLabel, "messageLabel"},
            {m_hintLabel1, "hintLabel1"},
            {m_hintLabel2, "hintLabel2"},
            {m_serverOutputBrowser, "serverOutputBrowser"},
            {m_clientInputBrowser, "clientInputBrowser"},
            {m_downloadButton, "downloadButton"},
            {m_modifyIpButton, "modifyIpButton"},
            {m_progressBar, "progressBar"},
            {m_step1Label, "step1Label"},
            {m_noIpLabel, "noIpLabel"},
            {m_haveIpLabel, "haveIpLabel"},
            {m_noIpHintLabel, "noIpHintLabel"},
            {m_haveIpHintLabel1, "haveIpHintLabel1"},
            {m_haveIpHintLabel2, "haveIpHintLabel2"},
            {m_step2Label, "step2Label"},
            {m_step2TextLabel1, "step2TextLabel1"},
            {m_step2TextLabel2, "step2TextLabel2"},
            {m_step3Label, "step3Label"},
            {m_step3TextLabel1, "step3TextLabel1"},
            {m_step3TextLabel2, "step3TextLabel2"},
            {m_step3TextLabel3, "step3TextLabel3"},
            {m_step4Label, "step4Label"},
            {m_step4TextLabel1, "step4TextLabel1"},
            {m_step4TextLabel2, "step4TextLabel2"},
            {m_step4TextLabel3, "step4TextLabel3"}};
    for (const auto &name : names)
        name.first->setObjectName(QLatin1String(name.second));
}
