#include "ui/infowindow.h"

#include "state/infostate.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

namespace vantorel {

namespace {
constexpr int kSummaryMargin = 8;

QColor colour(unsigned rgb) { return QColor::fromRgb(rgb); }

void draw(QLineEdit *edit, const ResultBox &box)
{
    if (edit->text() != box.text)
        edit->setText(box.text);
    QPalette p = edit->palette();
    p.setColor(QPalette::Text, colour(box.foreground));
    p.setColor(QPalette::Base, box.background == kDefaultBackground ? QPalette().color(QPalette::Base)
                                                                     : colour(static_cast<unsigned>(box.background)));
    edit->setPalette(p);
    // The boxes keep their fixed size; a long word such as "Communication"
    // in bold gets a smaller type rather than being cut.
    QFont f = edit->font();
    f.setBold(box.bold);
    f.setPixelSize(11);
    const int room = edit->width() - 6;
    while (f.pixelSize() > 6 && QFontMetrics(f).horizontalAdvance(box.text) > room)
        f.setPixelSize(f.pixelSize() - 1);
    edit->setFont(f);
    edit->setToolTip(box.text);
}

QLineEdit *resultBox(QWidget *parent, const QString &name, int x, int y)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setReadOnly(true);
    edit->setAlignment(Qt::AlignCenter);
    edit->setGeometry(x, y, 57, 19);
    edit->setTextMargins(0, 0, 0, 0);
    return edit;
}

QPixmap doorPicture()
{
    QPixmap pixmap(28, 28);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(70, 50, 30), 2));
    p.setBrush(QColor(170, 120, 70));
    p.drawRect(7, 3, 14, 22);
    p.setBrush(QColor(230, 200, 60));
    p.drawEllipse(QPointF(17, 15), 1.5, 1.5);
    return pixmap;
}
} // namespace

InfoWindow::InfoWindow(InfoState &state, QWidget *parent) : QWidget(parent, Qt::Window), state_(state)
{
    setObjectName(QStringLiteral("Info"));
    // The table keeps its drawn places; the verdict below it wraps, and the
    // window may be made larger to read it on fewer lines.
    table_ = new QWidget(this);
    table_->setFixedSize(630, 400);

    buildHeading();
    buildCloseButton();
    buildBands();
    buildSummary();
    resize(630, 425);

    viewKey_ = state_.onUpdate([this] { sync(); });
    sync();
}

void InfoWindow::buildHeading()
{
    QWidget *const t = table_;
    titre_ = new QLabel(t);
    titre_->setObjectName(QStringLiteral("Titre"));
    QFont tf(QStringLiteral("Arial"));
    tf.setPointSizeF(14.25);
    tf.setBold(true);
    titre_->setFont(tf);
    titre_->move(80, 32);

    label41_ = new QLabel(QStringLiteral("File Cheksum"), t);
    label41_->setObjectName(QStringLiteral("Label41"));
    label41_->adjustSize();
    // Ends just left of the checksum box, however wide the font makes it.
    label41_->move(qMin(344, 410 - label41_->width()), 37);

    fileCheksum_ = new QLineEdit(t);
    fileCheksum_->setObjectName(QStringLiteral("FileCheksum"));
    fileCheksum_->setReadOnly(true);
    fileCheksum_->setGeometry(416, 33, 89, 20);
    QPalette fp = fileCheksum_->palette();
    fp.setColor(QPalette::Base, QColor(0xC0, 0xC0, 0xC0));
    fileCheksum_->setPalette(fp);
    QFont ff = fileCheksum_->font();
    ff.setBold(true);
    fileCheksum_->setFont(ff);
}

void InfoWindow::buildCloseButton()
{
    auto *close = new QToolButton(table_);
    close->setObjectName(QStringLiteral("ComClose"));
    close->setText(QStringLiteral("&Close"));
    close->setIcon(QIcon(doorPicture()));
    close->setIconSize(QSize(28, 28));
    close->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    close->setGeometry(552, 16, 65, 57);
    connect(close, &QToolButton::clicked, this, [this] { state_.close(); });
}

// Four bands of eight controllers: the row names, then each column's two
// boxes over its number.
void InfoWindow::buildBands()
{
    QWidget *const t = table_;
    for (int b = 0; b < 4; ++b) {
        // Each ends just left of the first box, however wide the font makes it.
        auto *version = new QLabel(QStringLiteral("Version"), t);
        version->adjustSize();
        version->move(qMax(0, 62 - version->width()), 96 + 80 * b);
        auto *cheksum = new QLabel(QStringLiteral("Cheksum"), t);
        cheksum->adjustSize();
        cheksum->move(qMax(0, 62 - cheksum->width()), 120 + 80 * b);
    }
    for (int i = 0; i < InfoState::kControllers; ++i) {
        const int b = i / 8;
        const int k = i % 8;
        const int x = 64 + 72 * k;
        ver_[i] = resultBox(t, QStringLiteral("Ver%1").arg(i), x, 96 + 80 * b);
        ckSum_[i] = resultBox(t, QStringLiteral("CkSum%1").arg(i), x, 120 + 80 * b);
        auto *number = new QLabel(QString::number(i), t);
        number->setObjectName(QStringLiteral("Number%1").arg(i));
        number->setAlignment(Qt::AlignCenter);
        number->setGeometry(x, 144 + 80 * b, 57, 13);
    }
}

// Below the last band: how the run ended, whole, on as many lines as it takes.
void InfoWindow::buildSummary()
{
    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("Summary"));
    summary_->setWordWrap(true);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    summary_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QFont sf = summary_->font();
    sf.setBold(true);
    summary_->setFont(sf);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(table_, 0, Qt::AlignHCenter | Qt::AlignTop);
    auto *below = new QVBoxLayout;
    below->setContentsMargins(kSummaryMargin, 2, kSummaryMargin, 6);
    below->addWidget(summary_);
    below->addStretch();
    layout->addLayout(below, 1);
}

InfoWindow::~InfoWindow() { state_.removeView(viewKey_); }

void InfoWindow::sync()
{
    if (!state_.exists())
        return;
    setWindowTitle(state_.caption());
    titre_->setText(state_.Titre());
    titre_->adjustSize();
    label41_->setVisible(state_.label41Visible());
    fileCheksum_->setVisible(state_.label41Visible());
    fileCheksum_->setText(state_.FileCheksum());
    summary_->setText(state_.summary());
    fitSummary();
    QPalette sp = summary_->palette();
    sp.setColor(QPalette::WindowText, state_.summaryAllWell() ? QColor(0, 110, 0) : QColor(170, 0, 0));
    summary_->setPalette(sp);
    for (int i = 0; i < InfoState::kControllers; ++i) {
        const auto [ver, ckSum] = state_.shownRow(i);
        draw(ver_[i], ver);
        draw(ckSum_[i], ckSum);
    }
}

// A top-level window does not grow for a label's wrapped height on its own.
void InfoWindow::fitSummary()
{
    const int lines = summary_->text().isEmpty() ? summary_->fontMetrics().height()
                                                 : summary_->heightForWidth(width() - 2 * kSummaryMargin);
    const int need = table_->height() + qMax(lines, summary_->fontMetrics().height()) + 8;
    setMinimumSize(table_->width(), need);
    if (height() < need)
        resize(width(), need);
}

void InfoWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fitSummary();
}

void InfoWindow::closeEvent(QCloseEvent *event)
{
    // Closing by the frame is the same as "&Close": the window is destroyed.
    if (state_.exists()) {
        event->ignore();
        state_.close();
        return;
    }
    QWidget::closeEvent(event);
}

} // namespace vantorel
