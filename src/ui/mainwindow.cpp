#include "ui/mainwindow.h"

#include "session/session.h"
#include "state/context.h"
#include "state/resultsummary.h"
#include "platform/desk.h"
#include "ui/binding.h"
#include "ui/historywindow.h"
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

// Widgets drawn from their control and passing the user's edits back to it,
// named as the control: tests and screenshots find them by that name.
QLineEdit *boundLineEdit(Control &control, const char *name)
{
    auto *edit = new QLineEdit;
    edit->setObjectName(QLatin1String(name));
    bindLineEdit(control, edit);
    return edit;
}

QCheckBox *boundCheckBox(Control &control, const QString &name)
{
    auto *box = new QCheckBox;
    box->setObjectName(name);
    bindCheckBox(control, box);
    return box;
}

QPushButton *boundButton(Control &control, const char *name)
{
    auto *button = new QPushButton;
    button->setObjectName(QLatin1String(name));
    bindButton(control, button);
    return button;
}

// The row of operations: buttons of one height, some with an icon.
QPushButton *operationButton(Control &control, const char *name, const QIcon &icon = QIcon())
{
    QPushButton *button = boundButton(control, name);
    if (!icon.isNull())
        button->setIcon(icon);
    button->setMinimumHeight(30);
    return button;
}

// A bold line in its colour under the file box, selectable to be copied.
QLabel *noteLabel(Control &control, const char *name, const char *colour)
{
    auto *note = new QLabel;
    note->setObjectName(QLatin1String(name));
    note->setWordWrap(true);
    note->setStyleSheet(QStringLiteral("color: %1; font-weight: bold;").arg(QLatin1String(colour)));
    note->setTextInteractionFlags(Qt::TextSelectableByMouse);
    bindLabel(control, note);
    return note;
}

// The speeds as indicators the operations tick: no Tab stop of their own.
QHBoxLayout *speedFlagsRow(MainState &m)
{
    auto *row = new QHBoxLayout;
    for (Control *flag : {&m.V4800, &m.V9600, &m.V19200, &m.V38400}) {
        QCheckBox *box = boundCheckBox(*flag, flag->caption());
        box->setFocusPolicy(Qt::ClickFocus);
        row->addWidget(box);
    }
    row->addStretch();
    return row;
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

// The widgets the builders hand on to the reactions, the lock and the tab order.
struct MainWindow::Parts {
    QGroupBox *fileBox = nullptr;
    QPushButton *browse = nullptr;

    QPushButton *all = nullptr;
    QPushButton *none = nullptr;

    QGroupBox *lineBox = nullptr;
    QWidget *comPort = nullptr;
    QWidget *vitesse = nullptr;
    QPushButton *autoButton = nullptr;
    QWidget *text1 = nullptr;
    QWidget *text2 = nullptr;

    QGroupBox *protoBox = nullptr;
    QWidget *protocol = nullptr;
    QWidget *qrv3 = nullptr;
    QWidget *protocol4Plus = nullptr;
    QWidget *chkProto = nullptr;
    QPushButton *to4 = nullptr;
    QPushButton *to3 = nullptr;

    QWidget *check1 = nullptr;
    QPushButton *comBoot = nullptr;
    QPushButton *comInfo = nullptr;
    QPushButton *comLoad00 = nullptr;
    QPushButton *comLoad = nullptr;
    QWidget *operations = nullptr;
    QPushButton *logButton = nullptr;
    QPushButton *historyButton = nullptr;
    QPushButton *comClose = nullptr;
};

void MainWindow::build()
{
    setWindowTitle(session_.main().title);
    Parts parts;
    QGroupBox *fileBox = buildFileGroup(parts);
    QGroupBox *selection = buildSelectionGroup(parts);
    auto *middle = new QHBoxLayout;
    middle->addWidget(buildLineGroup(parts), 3);
    middle->addWidget(buildProtocolGroup(parts), 2);
    QLayout *operations = buildOperationsRow(parts);
    QLayout *settings = buildSettingsRow(parts);

    auto *root = new QVBoxLayout(this);
    root->addWidget(fileBox);
    root->addWidget(selection);
    root->addLayout(middle);
    root->addLayout(settings);
    root->addLayout(operations);

    connectReactions(parts);
    lockWhileBusy(parts);
    orderTabStops(parts);
}

QGroupBox *MainWindow::buildFileGroup(Parts &parts)
{
    MainState &m = session_.main();
    auto *fileName = boundLineEdit(m.FileName, "FileName");
    fileName->setReadOnly(true);
    fileName->setPlaceholderText(QStringLiteral("Browse for a .hex file or drop one on this window"));
    fileName->setMinimumWidth(420);
    fileName->setFocusPolicy(Qt::ClickFocus); // read-only: Tab goes on to Browse
    describeImageInToolTip(fileName);
    parts.browse = boundButton(m.Command1, "Command1");
    auto *checksum = boundLineEdit(m.FileCheksum, "FileCheksum");
    checksum->setReadOnly(true);
    checksum->setMaximumWidth(80);
    checksum->setFocusPolicy(Qt::ClickFocus);

    parts.fileBox = new QGroupBox(QStringLiteral("Firmware"));
    auto *grid = new QGridLayout(parts.fileBox);
    grid->addWidget(caption(m.FileName.caption(), fileName), 0, 0);
    grid->addWidget(fileName, 0, 1);
    grid->addWidget(parts.browse, 0, 2);
    grid->addWidget(caption(m.FileCheksum.caption(), checksum), 1, 0);
    grid->addWidget(checksum, 1, 1, Qt::AlignLeft);
    // Why the chosen file cannot be downloaded, where the eye is when choosing it.
    grid->addWidget(noteLabel(m.FileProblem, "FileProblem", "#b00000"), 2, 0, 1, 3);
    // What the user should know of a file that can still be downloaded.
    grid->addWidget(noteLabel(m.FileWarning, "FileWarning", "#a05a00"), 3, 0, 1, 3);
    // A run whose record did not reach the results database: said here, never in a box during a run.
    grid->addWidget(noteLabel(m.ResultsNote, "ResultsNote", "#a05a00"), 4, 0, 1, 3);
    grid->setColumnStretch(1, 1);
    return parts.fileBox;
}

// After the binding's own drawing, which sets the written tooltip alone.
void MainWindow::describeImageInToolTip(QLineEdit *fileName)
{
    MainState &m = session_.main();
    const Context &ctx = session_.context();
    const int key = m.FileName.onUpdate([fileName, &m, &ctx] { fileName->setToolTip(fileToolTip(m.FileName, ctx.image)); });
    connect(fileName, &QObject::destroyed, this, [&m, key] { m.FileName.removeView(key); });
    fileName->setToolTip(fileToolTip(m.FileName, ctx.image));
}

QGroupBox *MainWindow::buildSelectionGroup(Parts &parts)
{
    MainState &m = session_.main();
    auto *frame1 = new QGroupBox(QStringLiteral("  Controllers Selection  "));
    frame1->setObjectName(QStringLiteral("Frame1"));
    auto *grid = new QGridLayout(frame1);
    for (int i = 0; i < MainState::kControllers; ++i) {
        auto *box = boundCheckBox(m.C[i], QStringLiteral("C%1").arg(i));
        box->setText(QString::number(i));
        // One stop of the Tab key for the whole grid; the arrow keys move inside it.
        box->setFocusPolicy(i == 0 ? Qt::StrongFocus : Qt::ClickFocus);
        box->installEventFilter(this);
        boxes_[i] = box;
        grid->addWidget(box, i / 8, i % 8);
    }
    parts.all = boundButton(m.ALL, "ALL");
    parts.none = boundButton(m.NONE, "NONE");
    auto *buttons = new QVBoxLayout;
    buttons->addWidget(parts.all);
    buttons->addWidget(parts.none);
    buttons->addStretch();
    grid->addLayout(buttons, 0, 8, 4, 1);
    return frame1;
}

QGroupBox *MainWindow::buildLineGroup(Parts &parts)
{
    MainState &m = session_.main();
    auto *comPort = new PortBox(session_.context());
    comPort->setMinimumWidth(200); // device paths as well as "COM n"
    auto *vitesse = new QComboBox;
    vitesse->setObjectName(QStringLiteral("Vitesse"));
    vitesse->setEditable(true);
    bindComboBox(m.Vitesse, vitesse);
    parts.autoButton = boundButton(m.Auto, "Auto");
    auto *text1 = boundLineEdit(m.Text1, "Text1");
    text1->setMaximumWidth(80);
    auto *text2 = boundLineEdit(m.Text2, "Text2");
    text2->setMaximumWidth(80);

    parts.lineBox = new QGroupBox(QStringLiteral("Serial line"));
    auto *grid = new QGridLayout(parts.lineBox);
    grid->addWidget(caption(m.ComPort.caption(), comPort), 0, 0);
    grid->addWidget(comPort, 0, 1);
    grid->addWidget(comPort->deviceLabel(), 1, 1, 1, 2);
    grid->addWidget(caption(m.Vitesse.caption(), vitesse), 2, 0);
    grid->addWidget(vitesse, 2, 1);
    grid->addWidget(parts.autoButton, 2, 2);
    grid->addWidget(caption(m.Text1.caption(), text1), 3, 0);
    grid->addWidget(text1, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("MSec")), 3, 2);
    grid->addWidget(caption(m.Text2.caption(), text2), 4, 0);
    grid->addWidget(text2, 4, 1);
    grid->addWidget(new QLabel(QStringLiteral("MSec")), 4, 2);
    grid->addLayout(speedFlagsRow(m), 5, 0, 1, 3);
    parts.comPort = comPort;
    parts.vitesse = vitesse;
    parts.text1 = text1;
    parts.text2 = text2;
    return parts.lineBox;
}

QGroupBox *MainWindow::buildProtocolGroup(Parts &parts)
{
    MainState &m = session_.main();
    auto *protocol = boundLineEdit(m.Protocol, "Protocol");
    protocol->setMaximumWidth(60);
    parts.protocol = protocol;
    parts.qrv3 = boundCheckBox(m.QRV3, QStringLiteral("QRV3"));
    parts.protocol4Plus = boundCheckBox(m.Protocol4Plus, QStringLiteral("Protocol4Plus"));
    parts.chkProto = boundCheckBox(m.ChkProto, QStringLiteral("ChkProto"));
    parts.to4 = boundButton(m.Cmd3to4, "Cmd3to4");
    parts.to3 = boundButton(m.Cmd4to3, "Cmd4to3");

    parts.protoBox = new QGroupBox(QStringLiteral("Protocol"));
    auto *grid = new QGridLayout(parts.protoBox);
    grid->addWidget(caption(m.Protocol.caption(), protocol), 0, 0);
    grid->addWidget(protocol, 0, 1, Qt::AlignLeft);
    grid->addWidget(parts.qrv3, 1, 0, 1, 2);
    grid->addWidget(parts.protocol4Plus, 2, 0, 1, 2);
    grid->addWidget(parts.chkProto, 3, 0, 1, 2);
    auto *switchRow = new QHBoxLayout;
    switchRow->addWidget(parts.to4);
    switchRow->addWidget(parts.to3);
    switchRow->addStretch();
    grid->addLayout(switchRow, 4, 0, 1, 2);
    grid->addWidget(noteLabel(m.ProtocolHint, "ProtocolHint", "#a05a00"), 5, 0, 1, 2);
    grid->setRowStretch(6, 1);
    return parts.protoBox;
}

QLayout *MainWindow::buildOperationsRow(Parts &parts)
{
    MainState &m = session_.main();
    parts.comBoot = operationButton(m.ComBoot, "ComBoot", style()->standardIcon(QStyle::SP_ComputerIcon));
    parts.comInfo = operationButton(m.ComInfo, "ComInfo", style()->standardIcon(QStyle::SP_FileDialogInfoView));
    parts.comLoad00 = operationButton(m.ComLoad00, "ComLoad00");
    parts.comLoad = operationButton(m.ComLoad, "ComLoad");
    parts.comClose = operationButton(m.ComClose, "ComClose", style()->standardIcon(QStyle::SP_DialogCloseButton));
    parts.logButton = new QPushButton(QStringLiteral("Log"));
    parts.logButton->setObjectName(QStringLiteral("LogButton"));
    parts.logButton->setMinimumHeight(30);
    parts.logButton->setToolTip(QStringLiteral("Shows Log.txt, the traffic with the controllers, as it is written."));
    parts.historyButton = new QPushButton(QStringLiteral("&History ..."));
    parts.historyButton->setObjectName(QStringLiteral("HistoryButton"));
    parts.historyButton->setMinimumHeight(30);
    parts.historyButton->setToolTip(QStringLiteral("Shows the runs kept in the results database: each controller's "
                                                   "outcome, filtered, and a chart per day."));

    // In a container of their own, which the run lock disables: each button
    // keeps the state its own rule gives it, and shows it again after the run.
    parts.operations = new QWidget;
    auto *buttons = new QHBoxLayout(parts.operations);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->addWidget(parts.comBoot);
    buttons->addWidget(parts.comInfo);
    buttons->addSpacing(16);
    buttons->addWidget(parts.comLoad00);
    buttons->addWidget(parts.comLoad);
    auto *row = new QHBoxLayout;
    row->addWidget(parts.operations);
    row->addStretch();
    row->addWidget(parts.historyButton);
    row->addWidget(parts.logButton);
    row->addWidget(parts.comClose);
    return row;
}

QLayout *MainWindow::buildSettingsRow(Parts &parts)
{
    MainState &m = session_.main();
    parts.check1 = boundCheckBox(m.Check1, QStringLiteral("Check1"));
    auto *row = new QHBoxLayout;
    row->addWidget(parts.check1);
    row->addSpacing(16);
    row->addWidget(boundCheckBox(m.FastAnswers, QStringLiteral("FastAnswers")));
    row->addWidget(boundCheckBox(m.KnownSpeedsFirst, QStringLiteral("KnownSpeedsFirst")));
    row->addStretch();
    return row;
}

// The buttons pass the user's wish to the session, which decides what it does.
void MainWindow::connectReactions(const Parts &parts)
{
    connect(parts.browse, &QPushButton::clicked, this, [this] { session_.browse(); });
    connect(parts.all, &QPushButton::clicked, this, [this] { session_.selectAll(); });
    connect(parts.none, &QPushButton::clicked, this, [this] { session_.selectNone(); });
    const std::pair<QPushButton *, Session::Operation> operations[] = {
        {parts.comInfo, Session::Operation::FlashInfo},       {parts.comBoot, Session::Operation::BootInfo},
        {parts.autoButton, Session::Operation::Auto},         {parts.comLoad00, Session::Operation::DownloadSerial},
        {parts.comLoad, Session::Operation::DownloadParallel}, {parts.to4, Session::Operation::To4},
        {parts.to3, Session::Operation::To3}};
    for (const auto &[button, operation] : operations)
        connect(button, &QPushButton::clicked, this, [this, run = operation] { session_.run(run); });
    connect(parts.logButton, &QPushButton::clicked, this, &MainWindow::showLog);
    connect(parts.historyButton, &QPushButton::clicked, this, &MainWindow::showHistory);
    connect(parts.comClose, &QPushButton::clicked, this, &QWidget::close);
}

// While an operation runs it reads what was checked at its start: nothing
// may be edited underneath it. Disabling the containers greys their
// children without touching the states the operations give them. The
// controller boxes stay live: a controller cleared meanwhile is skipped
// at its turn, the operator's way to leave one out of a running download.
void MainWindow::lockWhileBusy(const Parts &parts)
{
    const QList<QWidget *> locked = {parts.fileBox, parts.lineBox, parts.protoBox, parts.operations};
    session_.onBusyChanged = [this, locked](bool busy) {
        for (QWidget *w : locked)
            w->setEnabled(!busy);
        // Asked to close meanwhile: now that the run has stopped.
        if (!busy && closeAfterRun_)
            QTimer::singleShot(0, this, &QWidget::close);
    };
}

// Down the window, one stop per control (the grid is one stop).
void MainWindow::orderTabStops(const Parts &parts)
{
    setTabOrder(parts.browse, boxes_[0]);
    for (int i = 1; i < MainState::kControllers; ++i)
        setTabOrder(boxes_[i - 1], boxes_[i]);
    QWidget *const order[] = {boxes_[31],      parts.all,       parts.none,      parts.comPort, parts.vitesse,
                              parts.autoButton, parts.text1,     parts.text2,     parts.protocol, parts.qrv3,
                              parts.protocol4Plus, parts.chkProto, parts.to4,     parts.to3,     parts.check1,
                              parts.comBoot,   parts.comInfo,   parts.comLoad00, parts.comLoad, parts.historyButton,
                              parts.logButton, parts.comClose};
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

void MainWindow::showHistory()
{
    if (!history_) {
        history_ = new HistoryWindow(session_, this);
        restoreGeometryOf(history_);
        history_->installEventFilter(this);
    }
    history_->show();
    history_->raise();
    history_->activateWindow();
    history_->readNow();
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

// Beside the main window where the screen has room; where it has room for the
// two side by side only, the main window moves over to make it (the result
// window remembers its place afterwards); else on the side with more room,
// covering as little of the main window as the screen allows.
void MainWindow::placeInfoWindow()
{
    QRect main = frameGeometry();
    const QRect area = screen() ? screen()->availableGeometry() : QRect(main.topLeft(), QSize(1366, 768));
    const QSize frame = info_->size() + (frameGeometry().size() - geometry().size());
    const int gap = 8;
    const bool fitsBeside = main.right() + gap + frame.width() <= area.right() || main.left() - gap - frame.width() >= area.left();
    if (!fitsBeside && main.width() + gap + frame.width() <= area.width()) {
        main.moveLeft(area.right() - frame.width() - gap - main.width());
        move(main.topLeft());
    }
    const int roomRight = area.right() - main.right();
    const int roomLeft = main.left() - area.left();
    const bool right = roomRight >= gap + frame.width() || (roomLeft < gap + frame.width() && roomRight >= roomLeft);
    QPoint at(right ? main.right() + gap : main.left() - gap - frame.width(), main.top());
    at.setX(qBound(area.left(), at.x(), qMax(area.left(), area.right() - frame.width())));
    at.setY(qBound(area.top(), at.y(), qMax(area.top(), area.bottom() - frame.height())));
    info_->move(at);
}

void MainWindow::syncProgressWindow()
{
    MessageState &message = session_.context().message;
    if (message.exists() && !progress_) {
        progress_ = new ProgressWindow(message, [this] { return mayCancel(); }, this);
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
    if (!info_)
        return;
    if (!info.shown()) {
        // Closed while a run goes on: hidden until its verdict.
        if (info_->isVisible()) {
            rememberGeometry(info_);
            info_->hide();
        }
        return;
    }
    if (!info_->isVisible()) {
        info_->show();
        // Again once mapped: some window managers centre a new child window on
        // its parent when they map it, whatever position it asked for.
        if (placeInfo_)
            QTimer::singleShot(300, info_, [this] {
                // Closed meanwhile: the window waits for its deletion, and nothing is to be placed.
                if (info_)
                    placeInfoWindow();
            });
        placeInfo_ = false;
        info_->raise();
    } else if (info.preparations() != infoPreparations_) {
        // A new run: the results come up above the main window.
        info_->raise();
    }
    infoPreparations_ = info.preparations();
}

// A Cancel that would leave controllers without firmware is asked first, as closing is.
bool MainWindow::mayCancel()
{
    Context &ctx = session_.context();
    const std::optional<QString> question = cancelQuestion(ctx.outcomes);
    return !question || ctx.desk.ask(QString::fromLatin1(kDefaultTitle), *question);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (session_.busy()) {
        // The run ends first: its log is written to the end and the settings it
        // took on are saved. Controllers it erased are named before it is stopped.
        event->ignore();
        if (!closeAfterRun_ && session_.context().desk.ask(QString::fromLatin1(kDefaultTitle),
                                                           closingQuestion(session_.context().outcomes))) {
            closeAfterRun_ = true;
            session_.context().message.cancel();
        }
        return;
    }
    rememberGeometry(this);
    if (info_)
        rememberGeometry(info_);
    if (log_)
        rememberGeometry(log_);
    if (history_ && history_->isVisible())
        rememberGeometry(history_);
    session_.shutDown();
    if (progress_)
        progress_->close();
    if (info_)
        info_->close();
    if (log_)
        log_->close();
    if (history_)
        history_->close();
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
    if ((watched == log_ || watched == history_) && event->type() == QEvent::Close)
        rememberGeometry(static_cast<QWidget *>(watched));
    if (event->type() == QEvent::KeyRelease && isActiveWindow()) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_F12 && (key->modifiers() & Qt::ShiftModifier) && !key->isAutoRepeat())
            session_.main().revealSameProtocol();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace vantorel
