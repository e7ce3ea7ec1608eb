#include "ui/progresswindow.h"

#include "state/context.h"
#include "ui/binding.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace vantorel {

namespace {
constexpr int kPicture = 48;

// The run line wraps between its parts only, never inside "0:25 elapsed".
QString unbrokenParts(QString line)
{
    const QString dot = QStringLiteral(" \u00b7 ");
    QStringList parts = line.split(dot);
    for (QString &part : parts)
        part.replace(QLatin1Char(' '), QChar(0x00a0));
    return parts.join(dot);
}

QPixmap canvas()
{
    QPixmap pixmap(kPicture, kPicture);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// The window keeps one size, whichever of its parts are shown.
void keepPlaceWhenHidden(QWidget *w)
{
    QSizePolicy keep = w->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    w->setSizePolicy(keep);
}
} // namespace

QPixmap ProgressWindow::drawInquiet()
{
    // An hourglass: work in progress.
    QPixmap pixmap = canvas();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(60, 60, 60), 3));
    p.drawLine(10, 5, 38, 5);
    p.drawLine(10, 43, 38, 43);
    QPainterPath glass;
    glass.moveTo(13, 7);
    glass.lineTo(35, 7);
    glass.lineTo(25, 24);
    glass.lineTo(35, 41);
    glass.lineTo(13, 41);
    glass.lineTo(23, 24);
    glass.closeSubpath();
    p.setPen(QPen(QColor(60, 60, 60), 2));
    p.setBrush(QColor(225, 235, 245));
    p.drawPath(glass);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(214, 160, 40));
    p.drawPolygon(QPolygon({QPoint(17, 12), QPoint(31, 12), QPoint(24, 22)}));
    p.drawPolygon(QPolygon({QPoint(24, 32), QPoint(32, 40), QPoint(16, 40)}));
    return pixmap;
}

QPixmap ProgressWindow::drawStop()
{
    // A red octagon with a white bar: something failed.
    QPixmap pixmap = canvas();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QPolygonF octagon;
    const double c = 24, r = 21, k = 0.4142 * r;
    octagon << QPointF(c - k, c - r) << QPointF(c + k, c - r) << QPointF(c + r, c - k) << QPointF(c + r, c + k)
            << QPointF(c + k, c + r) << QPointF(c - k, c + r) << QPointF(c - r, c + k) << QPointF(c - r, c - k);
    p.setPen(QPen(Qt::white, 2));
    p.setBrush(QColor(200, 20, 20));
    p.drawPolygon(octagon);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(11, 20, 26, 8));
    return pixmap;
}

QPixmap ProgressWindow::drawJumelle()
{
    // Binoculars: looking for controllers.
    QPixmap pixmap = canvas();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(30, 30, 30), 2));
    p.setBrush(QColor(70, 70, 80));
    p.drawRoundedRect(QRectF(8, 10, 12, 18), 3, 3);
    p.drawRoundedRect(QRectF(28, 10, 12, 18), 3, 3);
    p.drawRect(QRectF(19, 14, 10, 6));
    p.setBrush(QColor(120, 170, 220));
    p.drawEllipse(QPointF(14, 33), 9, 9);
    p.drawEllipse(QPointF(34, 33), 9, 9);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(11, 30), 2.5, 2.5);
    p.drawEllipse(QPointF(31, 30), 2.5, 2.5);
    return pixmap;
}

ProgressWindow::ProgressWindow(MessageState &state, std::function<bool()> mayCancel, QWidget *parent)
    : QDialog(parent), state_(state), mayCancel_(std::move(mayCancel))
{
    setObjectName(QStringLiteral("Message"));
    setWindowTitle(QString::fromLatin1(kDefaultTitle));
    setModal(false);

    const Pictures pictures = buildPictures();

    // Room for the longest step ("Controller 31 : Communication Failure ...")
    // and the run line on two lines each: nothing the texts do changes the size.
    const QFontMetrics metrics(font());
    const int textWidth = metrics.horizontalAdvance(QStringLiteral("Controller 31 : Communication Failure   (Speed : 115200 Bds) "));
    const int twoLines = 2 * metrics.lineSpacing() + 4;
    QLabel *label1 = buildTexts(textWidth, twoLines);

    // The elapsed time moves on while the operation waits for an answer.
    tick_ = new QTimer(this);
    tick_->setInterval(1000);
    connect(tick_, &QTimer::timeout, this, [this] { sync(); });

    buildCancel();
    for (QWidget *picture : pictures)
        keepPlaceWhenHidden(picture);
    arrange(pictures, label1);

    viewKey_ = state_.onUpdate([this] { sync(); });
    sync();
    ensurePolished();
    setFixedSize(sizeHint());
    if (state_.running() && state_.place)
        move(*state_.place);
}

ProgressWindow::Pictures ProgressWindow::buildPictures()
{
    auto makePicture = [this](Control &control, const char *name, const QPixmap &pixmap) {
        auto *label = new QLabel(this);
        label->setObjectName(QLatin1String(name));
        label->setPixmap(pixmap);
        label->setFixedSize(kPicture, kPicture);
        bindCommon(control, label);
        return label;
    };
    auto *inquiet = makePicture(state_.Inquiet, "Inquiet", drawInquiet());
    auto *stop = makePicture(state_.Stop, "Stop", drawStop());
    auto *jumelle = makePicture(state_.Jumelle, "Jumelle", drawJumelle());
    return {inquiet, stop, jumelle};
}

QLabel *ProgressWindow::buildTexts(int textWidth, int twoLines)
{
    auto *label1 = new QLabel(this);
    label1->setObjectName(QStringLiteral("Label1"));
    label1->setWordWrap(true);
    label1->setFixedSize(textWidth, twoLines);
    label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    bindLabel(state_.Label1, label1);

    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("Progress"));
    bar_->setRange(0, 100);
    bar_->setFormat(QStringLiteral("%p %"));
    bar_->setFixedWidth(textWidth);
    runLine_ = new QLabel(this);
    runLine_->setObjectName(QStringLiteral("RunLine"));
    runLine_->setWordWrap(true);
    runLine_->setFixedSize(textWidth, twoLines);
    runLine_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    keepPlaceWhenHidden(bar_);
    keepPlaceWhenHidden(runLine_);
    return label1;
}

void ProgressWindow::buildCancel()
{
    auto *cancel = cancel_ = new QPushButton(this);
    cancel->setObjectName(QStringLiteral("Command1"));
    bindButton(state_.Command1, cancel);
    // A key pressed for another window must not stop a download: Cancel is
    // never the default button and takes no focus (Return and Space pass it by).
    cancel->setAutoDefault(false);
    cancel->setDefault(false);
    cancel->setFocusPolicy(Qt::NoFocus);
    connect(cancel, &QPushButton::clicked, this, &ProgressWindow::cancelAsked);
}

void ProgressWindow::arrange(const Pictures &pictures, QLabel *label1)
{
    auto *column = new QVBoxLayout;
    // The three pictures share one place.
    auto *picture = new QGridLayout;
    for (QLabel *one : pictures)
        picture->addWidget(one, 0, 0);
    column->addLayout(picture);
    column->addStretch();
    auto *text = new QVBoxLayout;
    text->addWidget(label1);
    text->addWidget(bar_);
    text->addWidget(runLine_);
    text->addStretch();
    auto *top = new QHBoxLayout;
    top->addLayout(column);
    top->addLayout(text, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel_);
    auto *root = new QVBoxLayout(this);
    root->addLayout(top);
    root->addLayout(buttons);
}

ProgressWindow::~ProgressWindow() { state_.removeView(viewKey_); }

void ProgressWindow::sync()
{
    const bool running = state_.running();
    const bool stopping = state_.stopping();
    bar_->setVisible(running);
    runLine_->setVisible(running || stopping);
    // Taken at once; the operation stops at its next wait.
    cancel_->setEnabled(!stopping && state_.Command1.enabled());
    if (stopping)
        runLine_->setText(QStringLiteral("Stopping\u2026"));
    if (running) {
        bar_->setValue(state_.percent());
        if (!stopping)
            runLine_->setText(unbrokenParts(state_.runLine()));
        if (!tick_->isActive())
            tick_->start();
    } else {
        tick_->stop();
    }
}

void ProgressWindow::cancelAsked()
{
    // The question runs events: nothing of this window is used once it is answered.
    MessageState &state = state_;
    const std::function<bool()> mayCancel = mayCancel_;
    if (!state.exists() || (!state.stopping() && mayCancel && !mayCancel()))
        return;
    state.cancel();
}

void ProgressWindow::closeEvent(QCloseEvent *event)
{
    // Closing the window by its frame is taken as Cancel: the user wants it to stop.
    if (state_.exists()) {
        event->ignore();
        cancelAsked();
        return;
    }
    QDialog::closeEvent(event);
}

void ProgressWindow::hideEvent(QHideEvent *event)
{
    if (state_.running())
        state_.place = pos();
    QDialog::hideEvent(event);
}

void ProgressWindow::moveEvent(QMoveEvent *event)
{
    if (isVisible() && state_.running())
        state_.place = pos();
    QDialog::moveEvent(event);
}

void ProgressWindow::reject()
{
    // Esc: a stray key never stops a run; Cancel is clicked or the window
    // closed. The window comes and goes with its state, not with a key.
}

} // namespace vantorel
