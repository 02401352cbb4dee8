#include "stationwindow/fixturetile.h"

#include <QAccessible>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>

namespace {

// A scan longer than a serial can be is not kept beyond this, whatever comes.
const int kLongestTyped = 256;
const int kFocusedBorder = 3;

struct Look
{
    const char *word;
    const char *background;
};

Look lookOf(FixtureModel::State state)
{
    switch (state) {
    case FixtureModel::State::Waiting: return {"waiting", "#d9d9d9"};
    case FixtureModel::State::Flashing: return {"flashing", "#9cc3ff"};
    case FixtureModel::State::Complete: return {"complete", "#8fd694"};
    case FixtureModel::State::Failed: return {"failed", "#f28b82"};
    case FixtureModel::State::Paused: break;
    }
    return {"paused", "#ffb74d"};
}

} // namespace

FixtureTile::FixtureTile(FixtureModel *model, int place, QWidget *parent)
    : QFrame(parent)
    , m_model(model)
    , m_place(place)
    , m_name(new QLabel)
    , m_state(new QLabel)
    , m_bar(new QProgressBar)
    , m_device(new QLabel)
    , m_serial(new QLabel)
    , m_last(new QLabel)
    , m_resume(new QPushButton(QStringLiteral("Resume")))
{
    setObjectName(QStringLiteral("tile%1").arg(place + 1));
    setFocusPolicy(Qt::StrongFocus);
    // Room for the widest border, so that the focus never moves what is inside.
    setContentsMargins(kFocusedBorder, kFocusedBorder, kFocusedBorder, kFocusedBorder);
    setAutoFillBackground(true);
    QFont bold = m_name->font();
    bold.setBold(true);
    m_name->setFont(bold);
    m_state->setFont(bold);
    // As wide as the window gives, whatever the tile says (a MAC, a reason, a
    // long serial): a wrapped label breaks a line within a word that does not
    // fit, so no text widens its column.
    for (QLabel *label : {m_name, m_state, m_device, m_serial, m_last})
        label->setWordWrap(true);
    m_bar->setRange(0, 100);
    m_resume->setFocusPolicy(Qt::NoFocus);
    auto *grid = new QGridLayout(this);
    grid->addWidget(m_name, 0, 0);
    grid->addWidget(m_resume, 0, 1, Qt::AlignRight);
    grid->addWidget(m_state, 1, 0, 1, 2);
    grid->addWidget(m_bar, 2, 0, 1, 2);
    grid->addWidget(m_device, 3, 0, 1, 2);
    grid->addWidget(m_serial, 4, 0, 1, 2);
    grid->addWidget(m_last, 5, 0, 1, 2);
    grid->setRowStretch(6, 1);
    connect(m_resume, &QPushButton::clicked, this,
            [this] { emit resumeAsked(value(FixtureModel::FixtureRole).toString()); });
    refresh();
}

QVariant FixtureTile::value(int role) const
{
    return m_model->data(m_model->index(m_place), role);
}

void FixtureTile::refresh()
{
    const auto state = value(FixtureModel::StateRole).value<FixtureModel::State>();
    const QString reason = value(FixtureModel::ReasonRole).toString();
    QString words = QLatin1String(lookOf(state).word);
    if (state == FixtureModel::State::Flashing)
        words += QStringLiteral(" %1 %").arg(value(FixtureModel::PercentRole).toInt());
    if (!reason.isEmpty())
        words += QStringLiteral(": ") + reason;
    m_name->setText(value(FixtureModel::NameRole).toString());
    m_state->setText(words);
    m_bar->setVisible(state == FixtureModel::State::Flashing);
    m_bar->setValue(value(FixtureModel::PercentRole).toInt());
    const QString address = value(FixtureModel::AddressRole).toString();
    const QString mac = value(FixtureModel::MacRole).toString();
    m_device->setText(
            address.isEmpty()
                    ? QStringLiteral("no device yet")
                    : QStringLiteral("device %1%2").arg(address, mac.isEmpty() ? QString() : " (" + mac + ")"));
    const QString serial = value(FixtureModel::SerialRole).toString();
    m_serial->setText(serial.isEmpty() ? QStringLiteral("serial: scan one") : QStringLiteral("serial %1").arg(serial));
    const double seconds = value(FixtureModel::SecondsRole).toDouble();
    m_last->setText(QStringLiteral("%1 · %2 complete, %3 failed")
                            .arg(seconds < 0 ? QStringLiteral("no flash yet")
                                             : QStringLiteral("last %1 s").arg(seconds, 0, 'f', 1))
                            .arg(value(FixtureModel::CompleteRole).toInt())
                            .arg(value(FixtureModel::FailedRole).toInt()));
    m_resume->setVisible(state == FixtureModel::State::Paused);
    // A palette, not a style sheet: a sheet of its own makes every tile keep
    // its own polished rules for each of its children, again at each change.
    const QColor background(QLatin1String(lookOf(state).background));
    if (palette().color(QPalette::Window) != background) {
        QPalette shown = palette();
        shown.setColor(QPalette::Window, background);
        setPalette(shown);
    }
    const QString name = m_name->text();
    if (accessibleName() != name)
        setAccessibleName(name);
    const QString described = description();
    if (accessibleDescription() != described) {
        setAccessibleDescription(described);
        QAccessibleEvent changed(this, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&changed);
    }
}

QString FixtureTile::description() const
{
    return QStringLiteral("%1; %2; %3; %4").arg(m_state->text(), m_device->text(), m_serial->text(), m_last->text());
}

void FixtureTile::paintEvent(QPaintEvent *)
{
    // The tile that takes the next scan stands out (a scanner types blind).
    const int width = hasFocus() ? kFocusedBorder : 1;
    QPainter painter(this);
    painter.setPen(QPen(hasFocus() ? QColor(0x1a, 0x23, 0x7e) : QColor(0x9e, 0x9e, 0x9e), width));
    painter.setBrush(Qt::NoBrush);
    const qreal inset = width / 2.0;
    painter.drawRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset));
}

void FixtureTile::focusInEvent(QFocusEvent *event)
{
    QFrame::focusInEvent(event);
    update();
}

void FixtureTile::focusOutEvent(QFocusEvent *event)
{
    QFrame::focusOutEvent(event);
    m_typed.clear(); // half a scan belongs to no tile
    update();
}

void FixtureTile::mousePressEvent(QMouseEvent *event)
{
    setFocus(Qt::MouseFocusReason);
    QFrame::mousePressEvent(event);
}

void FixtureTile::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        const QString typed = m_typed;
        m_typed.clear();
        emit scanned(m_place, typed);
        return;
    }
    const auto state = value(FixtureModel::StateRole).value<FixtureModel::State>();
    if (m_typed.isEmpty() && event->key() == Qt::Key_R && state == FixtureModel::State::Paused) {
        emit resumeAsked(value(FixtureModel::FixtureRole).toString());
        return;
    }
    if (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab || event->text().isEmpty())
        return QFrame::keyPressEvent(event);
    if (m_typed.size() < kLongestTyped)
        m_typed += event->text();
    else
        m_typed += QChar(QChar::ReplacementCharacter); // too long: it cannot pass as a serial
    m_typed = m_typed.left(kLongestTyped + 1);
}
