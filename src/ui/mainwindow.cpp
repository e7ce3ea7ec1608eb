#include "ui/mainwindow.h"

#include "session/session.h"
#include "ui/binding.h"
#include "ui/infowindow.h"
#include "ui/progresswindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace vantorel {

namespace {

QString firstHexFile(const QMimeData *mime)
{
    if (!mime || !mime->hasUrls())
        return QString();
    for (const QUrl &url : mime->urls()) {
        const QString path = url.toLocalFile();
        if (!path.isEmpty() && QFileInfo(path).suffix().compare(QLatin1String("hex"), Qt::CaseInsensitive) == 0)
            return path;
    }
    return QString();
}

QLabel *caption(const QString &text, QWidget *buddy)
{
    auto *label = new QLabel(text);
    label->setBuddy(buddy);
    return label;
}

} // namespace

MainWindow::MainWindow(Session &session, QWidget *parent) : QWidget(parent), session_(session)
{
    setObjectName(QStringLiteral("Flash"));
    setAcceptDrops(true);
    build();
    qApp->installEventFilter(this);
    MessageState &message = session_.context().message;
    messageViewKey_ = message.onUpdate([this] { syncProgressWindow(); });
    syncProgressWindow();
    InfoState &info = session_.context().info;
    infoViewKey_ = info.onUpdate([this] { syncInfoWindow(); });
    syncInfoWindow();
}

MainWindow::~MainWindow()
{
    qApp->removeEventFilter(this);
    session_.context().message.removeView(messageViewKey_);
    session_.context().info.removeView(infoViewKey_);
    delete progress_;
    delete info_;
}

void MainWindow::build()
{
    MainState &m = session_.main();
    setWindowTitle(m.title);

    // Firmware file.
    auto *fileBox = new QGroupBox(QStringLiteral("Firmware"));
    auto *fileName = new QLineEdit;
    fileName->setObjectName(QStringLiteral("FileName"));
    fileName->setReadOnly(true);
    fileName->setPlaceholderText(QStringLiteral("Browse for a .hex file or drop one on this window"));
    fileName->setMinimumWidth(420);
    bindLineEdit(m.FileName, fileName);
    auto *browse = new QPushButton;
    browse->setObjectName(QStringLiteral("Command1"));
    bindButton(m.Command1, browse);
    connect(browse, &QPushButton::clicked, this, [this] { session_.browse(); });
    auto *checksum = new QLineEdit;
    checksum->setObjectName(QStringLiteral("FileCheksum"));
    checksum->setReadOnly(true);
    checksum->setMaximumWidth(80);
    bindLineEdit(m.FileCheksum, checksum);
    auto *fileGrid = new QGridLayout(fileBox);
    fileGrid->addWidget(caption(m.FileName.caption(), fileName), 0, 0);
    fileGrid->addWidget(fileName, 0, 1);
    fileGrid->addWidget(browse, 0, 2);
    fileGrid->addWidget(caption(m.FileCheksum.caption(), checksum), 1, 0);
    fileGrid->addWidget(checksum, 1, 1, Qt::AlignLeft);
    fileGrid->setColumnStretch(1, 1);

    // Controller selection.
    auto *frame1 = new QGroupBox(QStringLiteral("  Controllers Selection  "));
    frame1->setObjectName(QStringLiteral("Frame1"));
    auto *selGrid = new QGridLayout(frame1);
    for (int i = 0; i < MainState::kControllers; ++i) {
        auto *box = new QCheckBox;
        box->setObjectName(QStringLiteral("C%1").arg(i));
        bindCheckBox(m.C[i], box);
        box->setText(QString::number(i));
        selGrid->addWidget(box, i / 8, i % 8);
    }
    auto *all = new QPushButton;
    all->setObjectName(QStringLiteral("ALL"));
    bindButton(m.ALL, all);
    connect(all, &QPushButton::clicked, this, [&m] { m.selectAll(); });
    auto *none = new QPushButton;
    none->setObjectName(QStringLiteral("NONE"));
    bindButton(m.NONE, none);
    connect(none, &QPushButton::clicked, this, [&m] { m.selectNone(); });
    auto *selButtons = new QVBoxLayout;
    selButtons->addWidget(all);
    selButtons->addWidget(none);
    selButtons->addStretch();
    selGrid->addLayout(selButtons, 0, 8, 4, 1);

    // Serial line.
    auto *lineBox = new QGroupBox(QStringLiteral("Serial line"));
    auto *comPort = new QComboBox;
    comPort->setObjectName(QStringLiteral("ComPort"));
    comPort->setEditable(true);
    comPort->setMinimumWidth(200); // device paths as well as "COM n"
    bindComboBox(m.ComPort, comPort);
    auto *vitesse = new QComboBox;
    vitesse->setObjectName(QStringLiteral("Vitesse"));
    vitesse->setEditable(true);
    bindComboBox(m.Vitesse, vitesse);
    auto *autoButton = new QPushButton;
    autoButton->setObjectName(QStringLiteral("Auto"));
    bindButton(m.Auto, autoButton);
    auto *text1 = new QLineEdit;
    text1->setObjectName(QStringLiteral("Text1"));
    text1->setMaximumWidth(80);
    bindLineEdit(m.Text1, text1);
    auto *text2 = new QLineEdit;
    text2->setObjectName(QStringLiteral("Text2"));
    text2->setMaximumWidth(80);
    bindLineEdit(m.Text2, text2);
    auto *lineGrid = new QGridLayout(lineBox);
    lineGrid->addWidget(caption(m.ComPort.caption(), comPort), 0, 0);
    lineGrid->addWidget(comPort, 0, 1);
    lineGrid->addWidget(caption(m.Vitesse.caption(), vitesse), 1, 0);
    lineGrid->addWidget(vitesse, 1, 1);
    lineGrid->addWidget(autoButton, 1, 2);
    lineGrid->addWidget(caption(m.Text1.caption(), text1), 2, 0);
    lineGrid->addWidget(text1, 2, 1);
    lineGrid->addWidget(new QLabel(QStringLiteral("MSec")), 2, 2);
    lineGrid->addWidget(caption(m.Text2.caption(), text2), 3, 0);
    lineGrid->addWidget(text2, 3, 1);
    lineGrid->addWidget(new QLabel(QStringLiteral("MSec")), 3, 2);
    auto *flags = new QHBoxLayout;
    Control *speedFlags[] = {&m.V4800, &m.V9600, &m.V19200, &m.V38400};
    for (Control *flag : speedFlags) {
        auto *box = new QCheckBox;
        box->setObjectName(flag->caption());
        bindCheckBox(*flag, box);
        flags->addWidget(box);
    }
    flags->addStretch();
    lineGrid->addLayout(flags, 4, 0, 1, 3);

    // Protocol.
    auto *protoBox = new QGroupBox(QStringLiteral("Protocol"));
    auto *protocol = new QLineEdit;
    protocol->setObjectName(QStringLiteral("Protocol"));
    protocol->setMaximumWidth(60);
    bindLineEdit(m.Protocol, protocol);
    auto *protoGrid = new QGridLayout(protoBox);
    protoGrid->addWidget(caption(m.Protocol.caption(), protocol), 0, 0);
    protoGrid->addWidget(protocol, 0, 1, Qt::AlignLeft);
    auto addBox = [&](Control &control, const char *name, int row, int column) {
        auto *box = new QCheckBox;
        box->setObjectName(QLatin1String(name));
        bindCheckBox(control, box);
        protoGrid->addWidget(box, row, column, 1, 2);
    };
    addBox(m.QRV3, "QRV3", 1, 0);
    addBox(m.Protocol4Plus, "Protocol4Plus", 2, 0);
    addBox(m.ChkProto, "ChkProto", 3, 0);
    auto *to4 = new QPushButton;
    to4->setObjectName(QStringLiteral("Cmd3to4"));
    bindButton(m.Cmd3to4, to4);
    auto *to3 = new QPushButton;
    to3->setObjectName(QStringLiteral("Cmd4to3"));
    bindButton(m.Cmd4to3, to3);
    auto *switchRow = new QHBoxLayout;
    switchRow->addWidget(to4);
    switchRow->addWidget(to3);
    switchRow->addStretch();
    protoGrid->addLayout(switchRow, 4, 0, 1, 2);
    protoGrid->setRowStretch(5, 1);

    // Operations.
    auto makeButton = [&](Control &control, const char *name, QStyle::StandardPixmap icon = QStyle::SP_CustomBase) {
        auto *b = new QPushButton;
        b->setObjectName(QLatin1String(name));
        bindButton(control, b);
        if (icon != QStyle::SP_CustomBase)
            b->setIcon(style()->standardIcon(icon));
        b->setMinimumHeight(30);
        return b;
    };
    auto *comBoot = makeButton(m.ComBoot, "ComBoot", QStyle::SP_ComputerIcon);
    auto *comInfo = makeButton(m.ComInfo, "ComInfo", QStyle::SP_FileDialogInfoView);
    auto *comLoad00 = makeButton(m.ComLoad00, "ComLoad00");
    auto *comLoad = makeButton(m.ComLoad, "ComLoad");
    auto *comClose = makeButton(m.ComClose, "ComClose", QStyle::SP_DialogCloseButton);
    connect(comClose, &QPushButton::clicked, this, &QWidget::close);
    connect(comInfo, &QPushButton::clicked, this, [this] { session_.run(Session::Operation::FlashInfo); });
    connect(comBoot, &QPushButton::clicked, this, [this] { session_.run(Session::Operation::BootInfo); });
    connect(autoButton, &QPushButton::clicked, this, [this] { session_.run(Session::Operation::Auto); });
    connect(comLoad00, &QPushButton::clicked, this, [this] { session_.run(Session::Operation::DownloadSerial); });
    connect(comLoad, &QPushButton::clicked, this, [this] { session_.run(Session::Operation::DownloadParallel); });
    connect(to4, &QPushButton::clicked, this, [this] { session_.run(Session::Operation::To4); });
    connect(to3, &QPushButton::clicked, this, [this] { session_.run(Session::Operation::To3); });
    auto *check1 = new QCheckBox;
    check1->setObjectName(QStringLiteral("Check1"));
    bindCheckBox(m.Check1, check1);
    auto *fastAnswers = new QCheckBox;
    fastAnswers->setObjectName(QStringLiteral("FastAnswers"));
    bindCheckBox(m.FastAnswers, fastAnswers);
    auto *settingsRow = new QHBoxLayout;
    settingsRow->addWidget(check1);
    settingsRow->addSpacing(16);
    settingsRow->addWidget(fastAnswers);
    settingsRow->addStretch();

    auto *ops = new QHBoxLayout;
    ops->addWidget(comBoot);
    ops->addWidget(comInfo);
    ops->addSpacing(16);
    ops->addWidget(comLoad00);
    ops->addWidget(comLoad);
    ops->addStretch();
    ops->addWidget(comClose);

    auto *middle = new QHBoxLayout;
    middle->addWidget(lineBox, 3);
    middle->addWidget(protoBox, 2);

    auto *root = new QVBoxLayout(this);
    root->addWidget(fileBox);
    root->addWidget(frame1);
    root->addLayout(middle);
    root->addLayout(settingsRow);
    root->addLayout(ops);
}

void MainWindow::syncProgressWindow()
{
    MessageState &message = session_.context().message;
    if (message.exists() && !progress_) {
        progress_ = new ProgressWindow(message, this);
    } else if (!message.exists() && progress_) {
        progress_->deleteLater();
        progress_ = nullptr;
        return;
    }
    if (progress_)
        progress_->setVisible(message.shown());
}

void MainWindow::syncInfoWindow()
{
    InfoState &info = session_.context().info;
    if (info.exists() && !info_) {
        info_ = new InfoWindow(info, this);
    } else if (!info.exists() && info_) {
        info_->deleteLater();
        info_ = nullptr;
        return;
    }
    if (info_ && info.shown() && !info_->isVisible())
        info_->show();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    session_.shutDown();
    // An operation still running sees the stop request at its next wait.
    session_.context().StopRequested = true;
    if (progress_)
        progress_->close();
    if (info_)
        info_->close();
    event->accept();
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (!firstHexFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    const QString path = firstHexFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    session_.dropFile(path);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyRelease && isActiveWindow()) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_F12 && (key->modifiers() & Qt::ShiftModifier) && !key->isAutoRepeat())
            session_.main().revealSameProtocol();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace vantorel
