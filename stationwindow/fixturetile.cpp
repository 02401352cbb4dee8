#include "stationwindow/fixturetile.h"

#include <QAccessible>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace {

// A scan longer than a serial can be is not kept beyond this, whatever comes.
const int kLongestTyped = 256;

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
    setFrameShape(QFrame::StyledPanel);
    setLineWidth(2);
    QFont bold = m_name->font();
    bold.setBold(true);
    m_name->setFont(bold);
    m_state->setFont(bold);
    m_state->setWordWrap(true);
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
    showFocus(hasFocus());
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

void FixtureTile::showFocus(bool focused)
{
    // The tile that takes the next scan stands out (a scanner types blind).
    const Look look = lookOf(value(FixtureModel::StateRole).value<FixtureModel::State>());
    const QString sheet = QStringLiteral("FixtureTile { background: %1; border: %2px solid %3; }")
                                  .arg(QLatin1String(look.background))
                                  .arg(focused ? 3 : 1)
                                  .arg(focused ? QStringLiteral("#1a237e") : QStringLiteral("#9e9e9e"));
    // A new sheet polishes the tile again: only when it changes.
    if (styleSheet() != sheet)
        setStyleSheet(sheet);
}

void FixtureTile::focusInEvent(QFocusEvent *event)
{
    QFrame::focusInEvent(event);
    showFocus(true);
}

void FixtureTile::focusOutEvent(QFocusEvent *event)
{
    QFrame::focusOutEvent(event);
    m_typed.clear(); // half a scan belongs to no tile
    showFocus(false);
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
