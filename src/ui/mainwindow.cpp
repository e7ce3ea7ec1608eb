#include "ui/mainwindow.h"

#include "session/session.h"
#include "ui/binding.h"
#include "ui/infowindow.h"
#include "ui/logwindow.h"
#include "ui/portbox.h"
#include "ui/progresswindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QDir>
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
#include <QScreen>
#include <QStyle>
#include <QTimer>
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

// The file box's tooltip: the image description as written, then the same in words.
QString fileToolTip(const Control &fileName, const ImageDescription &image)
{
    if (fileName.text().isEmpty())
        return QStringLiteral("Browse for the .hex file to download, or drop one on this window.");
    QString words;
    if (image.HexCtrlType.isEmpty() && image.HexBaudText.isEmpty())
        words = QStringLiteral("The image carries no configuration record (controller type, speed, protocol).");
    else
        words = QStringLiteral("Controller type %1; line speed \"%2\"; protocol byte %3; check code %4.")
                    .arg(image.HexCtrlType, image.HexBaudText.trimmed(), image.HexProtocolByte,
                         image.HexProt4Plus ? QStringLiteral("byte sum (Prot 4+)") : QStringLiteral("CRC"));
    return fileName.toolTip() + QLatin1Char('\n') + words + QLatin1Char('\n') + QDir::toNativeSeparators(fileName.text());
}

} // namespace

MainWindow::MainWindow(Session &session, QWidget *parent) : QWidget(parent), session_(session)
{
    setObjectName(QStringLiteral("Flash"));
    setAcceptDrops(true);
    build();
    qApp->installEventFilter(this);
    MessageState &message = session_.context().message;
    restoreGeometryOf(this);
    messageViewKey_ = message.onUpdate([this] { syncProgressWindow(); });
    syncProgressWindow();
    InfoState &info = session_.context().info;
    infoViewKey_ = info.onUpdate([this] { syncInfoWindow(); });
    syncInfoWindow();
    focusFirstControl();
}

MainWindow::~MainWindow()
{
    qApp->removeEventFilter(this);
    session_.context().message.removeView(messageViewKey_);
    session_.context().info.removeView(infoViewKey_);
    delete progress_;
    delete info_;
    // Gone before QWidget's destructor deletes the children: its destroyed
    // signal must not reach a window that is no longer a MainWindow.
    delete log_;
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
    fileName->setFocusPolicy(Qt::ClickFocus); // read-only: Tab goes on to Browse
    bindLineEdit(m.FileName, fileName);
    // After the binding's own drawing, which sets the written tooltip alone.
    const Context &ctx = session_.context();
    const int tipKey = m.FileName.onUpdate([fileName, &m, &ctx] { fileName->setToolTip(fileToolTip(m.FileName, ctx.image)); });
    connect(fileName, &QObject::destroyed, this, [&m, tipKey] { m.FileName.removeView(tipKey); });
    fileName->setToolTip(fileToolTip(m.FileName, ctx.image));
    auto *browse = new QPushButton;
    browse->setObjectName(QStringLiteral("Command1"));
    bindButton(m.Command1, browse);
    connect(browse, &QPushButton::clicked, this, [this] { session_.browse(); });
    auto *checksum = new QLineEdit;
    checksum->setObjectName(QStringLiteral("FileCheksum"));
    checksum->setReadOnly(true);
    checksum->setMaximumWidth(80);
    checksum->setFocusPolicy(Qt::ClickFocus);
    bindLineEdit(m.FileCheksum, checksum);
    auto *fileGrid = new QGridLayout(fileBox);
    fileGrid->addWidget(caption(m.FileName.caption(), fileName), 0, 0);
    fileGrid->addWidget(fileName, 0, 1);
    fileGrid->addWidget(browse, 0, 2);
    fileGrid->addWidget(caption(m.FileCheksum.caption(), checksum), 1, 0);
    fileGrid->addWidget(checksum, 1, 1, Qt::AlignLeft);
    // Why the chosen file cannot be downloaded, where the eye is when choosing it.
    auto *problem = new QLabel;
    problem->setObjectName(QStringLiteral("FileProblem"));
    problem->setWordWrap(true);
    problem->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold;"));
    problem->setTextInteractionFlags(Qt::TextSelectableByMouse);
    bindLabel(m.FileProblem, problem);
    fileGrid->addWidget(problem, 2, 0, 1, 3);
    // What the user should know of a file that can still be downloaded.
    auto *warning = new QLabel;
    warning->setObjectName(QStringLiteral("FileWarning"));
    warning->setWordWrap(true);
    warning->setStyleSheet(QStringLiteral("color: #a05a00; font-weight: bold;"));
    warning->setTextInteractionFlags(Qt::TextSelectableByMouse);
    bindLabel(m.FileWarning, warning);
    fileGrid->addWidget(warning, 3, 0, 1, 3);
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
        // One stop of the Tab key for the whole grid; the arrow keys move inside it.
        box->setFocusPolicy(i == 0 ? Qt::StrongFocus : Qt::ClickFocus);
        box->installEventFilter(this);
        boxes_[i] = box;
        selGrid->addWidget(box, i / 8, i % 8);
    }
    auto *all = new QPushButton;
    all->setObjectName(QStringLiteral("ALL"));
    bindButton(m.ALL, all);
    connect(all, &QPushButton::clicked, this, [this] { session_.selectAll(); });
    auto *none = new QPushButton;
    none->setObjectName(QStringLiteral("NONE"));
    bindButton(m.NONE, none);
    connect(none, &QPushButton::clicked, this, [this] { session_.selectNone(); });
    auto *selButtons = new QVBoxLayout;
    selButtons->addWidget(all);
    selButtons->addWidget(none);
    selButtons->addStretch();
    selGrid->addLayout(selButtons, 0, 8, 4, 1);

    // Serial line.
    auto *lineBox = new QGroupBox(QStringLiteral("Serial line"));
    auto *comPort = new PortBox(session_.context());
    comPort->setMinimumWidth(200); // device paths as well as "COM n"
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
    lineGrid->addWidget(comPort->deviceLabel(), 1, 1, 1, 2);
    lineGrid->addWidget(caption(m.Vitesse.caption(), vitesse), 2, 0);
    lineGrid->addWidget(vitesse, 2, 1);
    lineGrid->addWidget(autoButton, 2, 2);
    lineGrid->addWidget(caption(m.Text1.caption(), text1), 3, 0);
    lineGrid->addWidget(text1, 3, 1);
    lineGrid->addWidget(new QLabel(QStringLiteral("MSec")), 3, 2);
    lineGrid->addWidget(caption(m.Text2.caption(), text2), 4, 0);
    lineGrid->addWidget(text2, 4, 1);
    lineGrid->addWidget(new QLabel(QStringLiteral("MSec")), 4, 2);
    auto *flags = new QHBoxLayout;
    Control *speedFlags[] = {&m.V4800, &m.V9600, &m.V19200, &m.V38400};
    for (Control *flag : speedFlags) {
        auto *box = new QCheckBox;
        box->setObjectName(flag->caption());
        box->setFocusPolicy(Qt::ClickFocus); // indicators the operations tick
        bindCheckBox(*flag, box);
        flags->addWidget(box);
    }
    flags->addStretch();
    lineGrid->addLayout(flags, 5, 0, 1, 3);

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
    auto *logButton = new QPushButton(QStringLiteral("Log"));
    logButton->setObjectName(QStringLiteral("LogButton"));
    logButton->setMinimumHeight(30);
    logButton->setToolTip(QStringLiteral("Shows Log.txt, the traffic with the controllers, as it is written."));
    connect(logButton, &QPushButton::clicked, this, &MainWindow::showLog);
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
    ops->addWidget(logButton);
    ops->addWidget(comClose);

    auto *middle = new QHBoxLayout;
    middle->addWidget(lineBox, 3);
    middle->addWidget(protoBox, 2);

    // While an operation runs it reads what was checked at its start: nothing
    // may be edited underneath it. Disabling the containers greys their
    // children without touching the states the operations give them. The
    // controller boxes stay live: a controller cleared meanwhile is skipped
    // at its turn, the operator's way to leave one out of a running download.
    const QList<QWidget *> locked = {fileBox, lineBox, protoBox, comBoot, comInfo, comLoad00, comLoad};
    session_.onBusyChanged = [locked](bool busy) {
        for (QWidget *w : locked)
            w->setEnabled(!busy);
    };

    auto *root = new QVBoxLayout(this);
    root->addWidget(fileBox);
    root->addWidget(frame1);
    root->addLayout(middle);
    root->addLayout(settingsRow);
    root->addLayout(ops);

    // Down the window, one stop per control (the grid is one stop).
    setTabOrder(browse, boxes_[0]);
    for (int i = 1; i < MainState::kControllers; ++i)
        setTabOrder(boxes_[i - 1], boxes_[i]);
    QWidget *order[] = {boxes_[31], all,     none,    comPort,   vitesse, autoButton, text1,     text2,
                        protocol,   nullptr, nullptr, nullptr,   to4,     to3,        check1,    comBoot,
                        comInfo,    comLoad00, comLoad, logButton, comClose};
    order[9] = findChild<QWidget *>(QStringLiteral("QRV3"));
    order[10] = findChild<QWidget *>(QStringLiteral("Protocol4Plus"));
    order[11] = findChild<QWidget *>(QStringLiteral("ChkProto"));
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void MainWindow::focusFirstControl()
{
    const MainState &m = session_.main();
    const char *name = m.Protocol.text().isEmpty() ? "Protocol" : m.FileCheksum.text().isEmpty() ? "Command1" : "ComInfo";
    if (auto *w = findChild<QWidget *>(QLatin1String(name)))
        w->setFocus(Qt::OtherFocusReason);
}

void MainWindow::showLog()
{
    if (!log_) {
        log_ = new LogWindow(session_.context().log.kept() ? session_.context().log.path() : QString(),
                             session_.context().desk, this);
        restoreGeometryOf(log_);
        connect(log_, &QObject::destroyed, this, [this] { log_ = nullptr; });
        log_->setAttribute(Qt::WA_DeleteOnClose);
        log_->installEventFilter(this);
    }
    log_->show();
    log_->raise();
    log_->activateWindow();
}

void MainWindow::rememberGeometry(const QWidget *window)
{
    session_.context().user.windowGeometry.insert(window->objectName(), window->saveGeometry());
}

void MainWindow::restoreGeometryOf(QWidget *window)
{
    const QByteArray saved = session_.context().user.windowGeometry.value(window->objectName());
    if (!saved.isEmpty())
        window->restoreGeometry(saved);
}

// Beside the main window where the screen has room, else centred on it;
// never at the screen's corner.
void MainWindow::placeInfoWindow()
{
    const QRect main = frameGeometry();
    const QRect area = screen() ? screen()->availableGeometry() : QRect(main.topLeft(), QSize(1366, 768));
    const QSize frame = info_->size() + (frameGeometry().size() - geometry().size());
    const int gap = 8;
    QPoint at;
    if (main.right() + gap + frame.width() <= area.right())
        at = QPoint(main.right() + gap, main.top());
    else if (main.left() - gap - frame.width() >= area.left())
        at = QPoint(main.left() - gap - frame.width(), main.top());
    else
        at = main.center() - QPoint(frame.width() / 2, frame.height() / 2);
    at.setX(qBound(area.left(), at.x(), qMax(area.left(), area.right() - frame.width())));
    at.setY(qBound(area.top(), at.y(), qMax(area.top(), area.bottom() - frame.height())));
    info_->move(at);
}

void MainWindow::syncProgressWindow()
{
    MessageState &message = session_.context().message;
    if (message.exists() && !progress_) {
        progress_ = new ProgressWindow(message, this);
    } else if (!message.exists() && progress_) {
        // Hidden now: deletion waits for the main loop, which a running
        // operation does not return to, and each step opens a new window.
        progress_->hide();
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
        const QByteArray saved = session_.context().user.windowGeometry.value(info_->objectName());
        placeInfo_ = saved.isEmpty() || !info_->restoreGeometry(saved);
        if (placeInfo_)
            placeInfoWindow();
    } else if (!info.exists() && info_) {
        rememberGeometry(info_);
        info_->hide();
        info_->deleteLater();
        info_ = nullptr;
        return;
    }
    if (!info_ || !info.shown())
        return;
    if (!info_->isVisible()) {
        info_->show();
        // Again once mapped: some window managers centre a new child window on
        // its parent when they map it, whatever position it asked for.
        if (placeInfo_)
            QTimer::singleShot(300, info_, [this] { placeInfoWindow(); });
        placeInfo_ = false;
    } else if (info.preparations() != infoPreparations_) {
        // A new run: the results come up above the main window.
        info_->raise();
    }
    infoPreparations_ = info.preparations();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    rememberGeometry(this);
    if (info_)
        rememberGeometry(info_);
    if (log_)
        rememberGeometry(log_);
    session_.shutDown();
    // An operation still running sees the stop request at its next wait.
    session_.context().StopRequested = true;
    if (progress_)
        progress_->close();
    if (info_)
        info_->close();
    if (log_)
        log_->close();
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

bool MainWindow::moveInGrid(QObject *watched, int key)
{
    const auto at = std::find(boxes_.begin(), boxes_.end(), watched);
    if (at == boxes_.end())
        return false;
    const int i = static_cast<int>(at - boxes_.begin());
    int next = i;
    switch (key) {
    case Qt::Key_Left: next = i % 8 > 0 ? i - 1 : i; break;
    case Qt::Key_Right: next = i % 8 < 7 ? i + 1 : i; break;
    case Qt::Key_Up: next = i >= 8 ? i - 8 : i; break;
    case Qt::Key_Down: next = i < 24 ? i + 8 : i; break;
    default: return false;
    }
    // The Tab stop moves with the focus, so Tab comes back to the same box.
    boxes_[i]->setFocusPolicy(Qt::ClickFocus);
    boxes_[next]->setFocusPolicy(Qt::StrongFocus);
    boxes_[next]->setFocus(Qt::TabFocusReason);
    return true;
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && !static_cast<QKeyEvent *>(event)->modifiers()
        && moveInGrid(watched, static_cast<QKeyEvent *>(event)->key()))
        return true;
    if (event->type() == QEvent::FocusIn && std::find(boxes_.begin(), boxes_.end(), watched) != boxes_.end()) {
        for (QCheckBox *box : boxes_)
            box->setFocusPolicy(box == watched ? Qt::StrongFocus : Qt::ClickFocus);
    }
    if (watched == log_ && event->type() == QEvent::Close)
        rememberGeometry(log_);
    if (event->type() == QEvent::KeyRelease && isActiveWindow()) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_F12 && (key->modifiers() & Qt::ShiftModifier) && !key->isAutoRepeat())
            session_.main().revealSameProtocol();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace vantorel
