#include "locolist/kzlocolist.h"

#include "common/commandbutton.h"
#include "common/inputdialog.h"
#include "common/messagebox.h"
#include "common/program.h"
#include "common/settings.h"
#include "common/validation.h"
#include "link/clock.h"
#include "link/commands.h"
#include "link/exchange.h"
#include "locolist/addressing.h"
#include "locolist/ledshape.h"
#include "locolist/lococonfig.h"
#include "locolist/progfields.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

using ProgFields::ProgType;

const QColor kzLocoList::Blue(0, 0, 255);
const QColor kzLocoList::Red(255, 0, 0);
const QColor kzLocoList::Green(0, 192, 0);

namespace {

const QString Caption = QStringLiteral("Lok-Konfiguration / Programmierung");
const QString AutoConfigKey = QStringLiteral("AutoConfig");
const QString LocoNumberRule = QStringLiteral("Die Lok-Nummer,NUM,MIN=1,MAX=10239");
constexpr int KeyRole = Qt::UserRole;
constexpr int TreeIndentation = 20; // 300 twips
constexpr int Margin = 8;

// Marks a window as busy for the length of an operation, so that a click
// that comes through while it waits cannot start a second one.
class BusyScope
{
public:
    explicit BusyScope(bool &busy)
        : m_busy(busy)
    {
        m_busy = true;
    }
    ~BusyScope() { m_busy = false; }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

private:
    bool &m_busy;
};

// Tool bar pictures: drawn here, so the program needs no image files.
QIcon toolIcon(const QString &key)
{
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    if (key == QLatin1String("btnActivateConfig")) {
        painter.setPen(QPen(QColor(0, 128, 0), 2.5));
        painter.drawArc(QRectF(4, 4, 16, 16), 60 * 16, 280 * 16);
        painter.setBrush(QColor(0, 128, 0));
        painter.setPen(Qt::NoPen);
        painter.drawPolygon(QPolygonF({QPointF(13, 1), QPointF(19, 5), QPointF(13, 9)}));
    } else if (key == QLatin1String("btnAdd")) {
        painter.setPen(QPen(QColor(0, 128, 0), 3.5));
        painter.drawLine(QPointF(12, 4), QPointF(12, 20));
        painter.drawLine(QPointF(4, 12), QPointF(20, 12));
    } else if (key == QLatin1String("btnDelete")) {
        painter.setPen(QPen(QColor(200, 0, 0), 3.5));
        painter.drawLine(QPointF(5, 5), QPointF(19, 19));
        painter.drawLine(QPointF(19, 5), QPointF(5, 19));
    } else {
        const QString steps = LocoConfig::speedStepsOfKey(key);
        QFont font = painter.font();
        font.setBold(true);
        font.setPixelSize(steps.size() > 2 ? 10 : 12);
        painter.setFont(font);
        painter.setPen(QColor(0, 0, 128));
        painter.setBrush(QColor(225, 232, 255));
        painter.drawRoundedRect(QRectF(1.5, 3.5, 21, 17), 3, 3);
        painter.drawText(QRectF(0, 3, 24, 18), Qt::AlignCenter, steps);
    }
    return QIcon(pixmap);
}

} // namespace

kzLocoList::kzLocoList(QWidget *parent)
    : QDialog(parent)
    , m_programmer(m_buffer)
{
    setObjectName(QStringLiteral("kzLocoList"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    m_programmer.setObserver(this);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("tabProgramming"));
    buildLocoTab();
    buildProgrammingTab();

    setFixedWidth(OuterWidth - FrameWidth);
    setMinimumHeight(OuterHeight - FrameHeight);
    load();
}

kzLocoList::~kzLocoList()
{
    // A window that goes away without being closed still leaves the
    // programming track switched off.
    if (m_activated)
        unload();
}

void kzLocoList::setControllerID(int id)
{
    m_controllerId = id;
    m_programmer.setController(controllerByte());
}

// --- building the window ------------------------------------------------------

void kzLocoList::buildLocoTab()
{
    m_locoPage = new QWidget;
    m_locoPage->setObjectName(QStringLiteral("tabLocoConfig"));

    m_tree = new QTreeWidget(m_locoPage);
    m_tree->setObjectName(QStringLiteral("tvLocoList"));
    m_tree->setAccessibleName(QStringLiteral("Lok-Liste"));
    m_tree->setHeaderHidden(true);
    m_tree->setColumnCount(1);
    m_tree->setRootIsDecorated(true);
    m_tree->setIndentation(TreeIndentation);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    connect(m_tree, &QTreeWidget::itemClicked, this, [this] { treeNodeClicked(); });
    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (!m_tree->selectedItems().isEmpty())
            treeNodeClicked();
    });

    m_toolBar = new QToolBar(m_locoPage);
    m_toolBar->setObjectName(QStringLiteral("tlbLocoList"));
    m_toolBar->setAccessibleName(QStringLiteral("Lok-Liste bearbeiten"));
    m_toolBar->setIconSize(QSize(24, 24));
    const struct
    {
        const char *key;
        const char *toolTip;
        QAction **action;
    } buttons[] = {
        {"btnActivateConfig", "Neue Lok-Einstellungen aktivieren", &m_btnActivateConfig},
        {"btnAdd", "Lokeintrag hinzufügen", &m_btnAdd},
        {"btnDelete", "Lokeintrag löschen", &m_btnDelete},
        {"btn14", "Lok auf 14 FS einstellen", &m_btn14},
        {"btn28", "Lok auf 28 FS einstellen", &m_btn28},
        {"btn126", "Lok auf 126 FS einstellen", &m_btn126},
    };
    for (const auto &button : buttons) {
        const QString key = QString::fromLatin1(button.key);
        const QString toolTip = QString::fromUtf8(button.toolTip);
        QAction *action = m_toolBar->addAction(toolIcon(key), toolTip);
        action->setObjectName(key);
        action->setToolTip(toolTip);
        connect(action, &QAction::triggered, this, [this, key] { toolButtonClicked(key); });
        *button.action = action;
        if (key == QLatin1String("btnAdd"))
            m_toolBar->addSeparator();
    }

    m_tabs->addTab(m_locoPage, QStringLiteral("&Lok-Konfiguration"));
}

void kzLocoList::buildProgrammingTab()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("tabProgrammingPage"));
    auto *pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(6, 6, 6, 6);

    auto *frame = new QGroupBox(page);
    frame->setObjectName(QStringLiteral("fraProgramming"));
    pageLayout->addWidget(frame);

    // Created in the order the validation walks the fields.
    const char *ledNames[] = {"Lampe: läuft", "Lampe: fehlgeschlagen", "Lampe: erfolgreich"};
    for (int i = 0; i < 3; ++i) {
        m_led[i] = new LedShape(frame);
        m_led[i]->setObjectName(QStringLiteral("led%1").arg(i));
        m_led[i]->setAccessibleName(QString::fromUtf8(ledNames[i]));
    }
    m_status = new QLabel(QStringLiteral("Zur Programmierung das Programmiergleis verwenden"), frame);
    m_status->setObjectName(QStringLiteral("lblStatus"));
    QFont bold = m_status->font();
    bold.setBold(true);
    m_status->setFont(bold);
    m_status->setWordWrap(true);
    m_status->setMinimumHeight(2 * m_status->fontMetrics().height());

    m_progress = new QProgressBar(frame);
    m_progress->setObjectName(QStringLiteral("sspProgressPanel"));
    m_progress->setAccessibleName(QStringLiteral("Fortschritt"));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(true);
    m_progress->setFixedHeight(18);

    m_elapsed = new QLabel(QStringLiteral("0 ms"), frame);
    m_elapsed->setObjectName(QStringLiteral("lblElapsedTime"));
    m_elapsed->setAccessibleName(QStringLiteral("Dauer"));
    m_elapsed->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_elapsed->setMinimumWidth(70);

    m_break = new QPushButton(QStringLiteral("&Abbruch"), frame);
    m_break->setObjectName(QStringLiteral("cmdBreak"));
    m_break->setAutoDefault(false);
    pressOnEnter(m_break);
    QSizePolicy keepSpace = m_break->sizePolicy();
    keepSpace.setRetainSizeWhenHidden(true);
    m_break->setSizePolicy(keepSpace);
    m_break->hide();
    connect(m_break, &QPushButton::clicked, this, [this] { m_programmer.requestAbort(); });

    m_autoConfig = new QCheckBox(QStringLiteral(" au&tomatisch in Konfiguration übernnehmen"), frame);
    m_autoConfig->setObjectName(QStringLiteral("chkAutoConfig"));
    // The state, not the click: the accessibility interface toggles without
    // clicking.
    connect(m_autoConfig, &QCheckBox::toggled, this, &kzLocoList::saveAutoConfig);

    const char *typeCaptions[] = {"&CV voller Wert", "CV &Bitwert", "&Register"};
    for (int i = 0; i < 3; ++i) {
        m_progType[i] = new QRadioButton(QString::fromUtf8(typeCaptions[i]), frame);
        m_progType[i]->setObjectName(QStringLiteral("optProgType%1").arg(i));
        m_progType[i]->setChecked(i == 0);
        connect(m_progType[i], &QRadioButton::toggled, this, [this, i](bool checked) {
            if (checked)
                selectProgType(i);
        });
    }

    m_lblCV = new QLabel(QStringLiteral("CV"), frame);
    m_lblCV->setObjectName(QStringLiteral("lblCV"));
    m_lblBit = new QLabel(QStringLiteral("Bit"), frame);
    m_lblBit->setObjectName(QStringLiteral("lblBit"));
    m_lblValue = new QLabel(QStringLiteral("Wert"), frame);
    m_lblValue->setObjectName(QStringLiteral("lblValue"));
    QLabel *labels[] = {m_lblCV, m_lblBit, m_lblValue};

    const char *presets[] = {"1", "0", "0"};
    const int maxLengths[] = {4, 1, 3};
    for (int i = 0; i < 3; ++i) {
        m_value[i] = new QLineEdit(QString::fromLatin1(presets[i]), frame);
        m_value[i]->setObjectName(QStringLiteral("txtValue%1").arg(i));
        m_value[i]->setMaxLength(maxLengths[i]);
        m_value[i]->setAccessibleName(labels[i]->text());
        m_value[i]->setFixedWidth(60);
        labels[i]->setBuddy(m_value[i]);
        m_spin[i] = new SpinButtons(labels[i]->text(), frame);
        m_spin[i]->setObjectName(QStringLiteral("spnValue%1").arg(i));
        connect(m_spin[i], &SpinButtons::stepped, this, [this, i](bool up) { stepValue(i, up); });
    }

    const char *operations[] = {"Wert &prüfen", "Wert &setzen", "Wert s&uchen"};
    for (int i = 0; i < 3; ++i) {
        m_operation[i] = new QPushButton(QString::fromUtf8(operations[i]), frame);
        m_operation[i]->setObjectName(QStringLiteral("cmdOperation%1").arg(i));
        m_operation[i]->setAutoDefault(false);
        pressOnEnter(m_operation[i]);
        connect(m_operation[i], &QPushButton::clicked, this, [this, i] { runOperation(i); });
    }

    m_lblLocoNumber = new QLabel(QStringLiteral("Nummer"), frame);
    m_lblLocoNumber->setObjectName(QStringLiteral("lblLocoNumber"));
    m_locoNumber = new QLineEdit(QStringLiteral("1"), frame);
    m_locoNumber->setObjectName(QStringLiteral("txtLocoNumber"));
    m_locoNumber->setMaxLength(5);
    m_locoNumber->setFixedWidth(60);
    m_locoNumber->setAccessibleName(QStringLiteral("Lok-Nummer"));
    setRule(m_locoNumber, LocoNumberRule);
    m_lblLocoNumber->setBuddy(m_locoNumber);
    m_locoNumberSet = new QPushButton(QStringLiteral("Lok-&Nummer setzen"), frame);
    m_locoNumberSet->setObjectName(QStringLiteral("cmdLocoNumberSet"));
    m_locoNumberSet->setAutoDefault(false);
    pressOnEnter(m_locoNumberSet);
    connect(m_locoNumberSet, &QPushButton::clicked, this, &kzLocoList::setLocoNumber);
    m_locoRecognition = new QPushButton(QStringLiteral("Lok-Nummer &erkennen"), frame);
    m_locoRecognition->setObjectName(QStringLiteral("cmdLocoRecognition"));
    m_locoRecognition->setAutoDefault(false);
    pressOnEnter(m_locoRecognition);
    connect(m_locoRecognition, &QPushButton::clicked, this, &kzLocoList::recogniseLocoNumber);

    // The bit field keeps its place while it is hidden, so that the other
    // fields do not jump when the programming type changes.
    for (QWidget *widget : {static_cast<QWidget *>(m_lblBit), static_cast<QWidget *>(m_value[1]),
                            static_cast<QWidget *>(m_spin[1])}) {
        QSizePolicy policy = widget->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        widget->setSizePolicy(policy);
    }

    auto *layout = new QVBoxLayout(frame);
    layout->setSpacing(6);

    auto *statusRow = new QHBoxLayout;
    for (LedShape *led : m_led)
        statusRow->addWidget(led, 0, Qt::AlignTop);
    statusRow->addSpacing(6);
    statusRow->addWidget(m_status, 1);
    layout->addLayout(statusRow);

    auto *progressRow = new QHBoxLayout;
    progressRow->addWidget(m_progress, 1);
    progressRow->addWidget(m_elapsed);
    progressRow->addWidget(m_break);
    layout->addLayout(progressRow);

    auto *typeRow = new QHBoxLayout;
    for (QRadioButton *option : m_progType)
        typeRow->addWidget(option);
    typeRow->addStretch(1);
    layout->addLayout(typeRow);

    auto *fields = new QGridLayout;
    fields->setHorizontalSpacing(4);
    fields->setVerticalSpacing(2);
    for (int i = 0; i < 3; ++i) {
        fields->addWidget(labels[i], 0, 2 * i);
        fields->addWidget(m_value[i], 1, 2 * i);
        fields->addWidget(m_spin[i], 1, 2 * i + 1);
        fields->addWidget(m_operation[i], 2, 2 * i, 1, 2);
    }
    fields->setColumnStretch(6, 1);
    layout->addLayout(fields);

    layout->addSpacing(4);
    auto *locoRow = new QHBoxLayout;
    locoRow->addWidget(m_lblLocoNumber);
    locoRow->addWidget(m_locoNumber);
    locoRow->addStretch(1);
    layout->addLayout(locoRow);
    auto *locoButtons = new QHBoxLayout;
    locoButtons->addWidget(m_locoNumberSet);
    locoButtons->addWidget(m_locoRecognition);
    locoButtons->addStretch(1);
    layout->addLayout(locoButtons);
    layout->addWidget(m_autoConfig);
    layout->addStretch(1);

    m_tabs->addTab(page, QStringLiteral("Pro&grammierung"));
}

// --- lifecycle -----------------------------------------------------------------

void kzLocoList::load()
{
    m_firstActivation = true;
    m_activated = false;
    setWindowTitle(Caption);
    resize(OuterWidth - FrameWidth, OuterHeight - FrameHeight);
    m_tabs->setCurrentIndex(0);
    m_tabs->setTabEnabled(0, true);
    m_btnAdd->setEnabled(true);
    m_btnActivateConfig->setEnabled(false);
    ConfigButtonsEnabled(false);
    layoutTabs();
}

void kzLocoList::unload()
{
    m_locoList.clear();
    m_activated = false;
    SetProgMode(false);
}

void kzLocoList::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // The first activation reads from the controller; it runs once the window
    // is on the screen, not while it is being shown.
    if (m_firstActivation)
        QMetaObject::invokeMethod(this, &kzLocoList::firstActivation, Qt::QueuedConnection);
}

void kzLocoList::firstActivation()
{
    if (!m_firstActivation || !isVisible())
        return;
    m_firstActivation = false;
    m_activated = true;
    ReadLocoList();
    FillLocoTree();
    setWindowTitle(Caption + QStringLiteral(" (Controller ") + QString::number(m_controllerId)
                   + QLatin1Char(')'));
    m_progType[0]->setChecked(true);
    selectProgType(0);
    bool ok = false;
    const int autoConfig =
        sysGetSetting(AutoConfigKey, QStringLiteral("1"), SettingsSection).trimmed().toInt(&ok);
    // Only "0" and "1" are ever written; anything else keeps the default.
    // Showing the stored value is no change of it.
    const QSignalBlocker quiet(m_autoConfig);
    m_autoConfig->setChecked(!ok || autoConfig != 0);
    SetProgMode(false);
}

void kzLocoList::done(int result)
{
    // A running operation shares the command buffer and the controller's
    // programming mode with the window: it has to end first.
    if (m_busy || !m_break->isHidden())
        return;
    if (m_activated)
        unload();
    QDialog::done(result);
    load();
}

void kzLocoList::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    layoutTabs();
}

void kzLocoList::layoutTabs()
{
    const int outerHeight = height() + FrameHeight;
    const int tabHeight = outerHeight - TabMargin;
    m_tabs->setGeometry(Margin, Margin, width() - 2 * Margin, tabHeight);
    const int treeHeight = tabHeight - TreeMargin;
    const int pageWidth = width() - 2 * Margin - 4;
    m_tree->setGeometry(6, 6, pageWidth - 12, treeHeight);
    const int toolBarTop = m_tree->y() + treeHeight + ToolBarGap;
    m_toolBar->setGeometry(6, toolBarTop, pageWidth - 12, m_toolBar->sizeHint().height());
}

// --- shared displays -----------------------------------------------------------

void kzLocoList::SetLed(int state)
{
    for (LedShape *led : m_led)
        led->setColor(Qt::black);
    switch (state) {
    case 0: m_led[0]->setColor(Blue); break;
    case 1: m_led[1]->setColor(Red); break;
    case 2: m_led[2]->setColor(Green); break;
    default: break;
    }
}

void kzLocoList::SetProgMode(bool on)
{
    m_programmer.setController(controllerByte());
    m_programmer.SetProgMode(on);
}

void kzLocoList::ConfigButtonsEnabled(bool controlsEnabled, bool activateConfig)
{
    for (QAction *action : {m_btnDelete, m_btn14, m_btn28, m_btn126})
        action->setEnabled(controlsEnabled);
    if (!m_btnActivateConfig->isEnabled())
        m_btnActivateConfig->setEnabled(activateConfig);
}

void kzLocoList::ProgButtonsEnabled(bool controlsEnabled)
{
    for (int i = 0; i < 3; ++i) {
        m_progType[i]->setEnabled(controlsEnabled);
        m_value[i]->setEnabled(controlsEnabled);
        m_spin[i]->setEnabled(controlsEnabled);
        m_operation[i]->setEnabled(controlsEnabled);
    }
    m_locoNumber->setEnabled(controlsEnabled);
    m_locoNumberSet->setEnabled(controlsEnabled);
    m_locoRecognition->setEnabled(controlsEnabled);
    m_tabs->setTabEnabled(0, controlsEnabled);
    m_autoConfig->setEnabled(controlsEnabled);
    if (controlsEnabled && m_progType[1]->isChecked())
        m_operation[2]->setEnabled(false);
}

void kzLocoList::setStatus(const QColor &color, const QString &text)
{
    QPalette palette = m_status->palette();
    palette.setColor(QPalette::WindowText, color);
    m_status->setPalette(palette);
    m_status->setText(text);
}

void kzLocoList::showProgress(int percent)
{
    m_progress->setValue(percent);
    m_progress->repaint();
}

qint64 kzLocoList::startTime() const
{
    return programClock().nowMs();
}

void kzLocoList::progress(double percent)
{
    showProgress(qRound(percent));
}

void kzLocoList::searchRunning(bool running)
{
    m_break->setVisible(running);
}

void kzLocoList::processEvents()
{
    QCoreApplication::processEvents();
}

void kzLocoList::aborted()
{
    SetLed(1);
    setStatus(Red, QStringLiteral("Vorgang abgebrochen"));
    showProgress(0);
}

void kzLocoList::stage(const QString &text)
{
    m_status->setText(text);
}

// --- the loco list -------------------------------------------------------------

void kzLocoList::ReadLocoList()
{
    m_locoList = LocoConfig::readLocoList(m_buffer, controllerByte()).locos;
}

void kzLocoList::FillLocoTree()
{
    m_tree->clear();
    m_tree->setRootIsDecorated(true);
    m_tree->setIndentation(TreeIndentation);
    for (const clsLoco &loco : std::as_const(m_locoList)) {
        const LocoConfig::LocoNodes nodes = LocoConfig::treeNodes(loco);
        auto *locoItem = new QTreeWidgetItem(m_tree, {nodes.loco.text});
        locoItem->setData(0, KeyRole, nodes.loco.key);
        QFont font = locoItem->font(0);
        font.setBold(true);
        locoItem->setFont(0, font);
        for (const LocoConfig::TreeNode &child : {nodes.speedSteps, nodes.direction}) {
            auto *childItem = new QTreeWidgetItem(locoItem, {child.text});
            childItem->setData(0, KeyRole, child.key);
        }
        locoItem->setExpanded(true);
        m_tree->scrollToItem(locoItem->child(1));
    }
    m_tree->clearSelection();
    m_tree->setCurrentItem(nullptr);
}

void kzLocoList::treeNodeClicked()
{
    ConfigButtonsEnabled(true, false);
}

int kzLocoList::selectedLocoNumber() const
{
    const QList<QTreeWidgetItem *> selected = m_tree->selectedItems();
    QTreeWidgetItem *item = selected.isEmpty() ? m_tree->currentItem() : selected.first();
    if (!item)
        return 0;
    return LocoConfig::locoNumberOfNodeKey(item->data(0, KeyRole).toString());
}

void kzLocoList::toolButtonClicked(const QString &key)
{
    if (m_busy)
        return;
    BusyScope busy(m_busy);
    if (key.compare(QLatin1String("btnAdd"), Qt::CaseInsensitive) == 0)
        AddLoco();
    else if (key.compare(QLatin1String("btnDelete"), Qt::CaseInsensitive) == 0)
        DeleteLoco();
    else if (key.compare(QLatin1String("btn14"), Qt::CaseInsensitive) == 0
             || key.compare(QLatin1String("btn28"), Qt::CaseInsensitive) == 0
             || key.compare(QLatin1String("btn126"), Qt::CaseInsensitive) == 0)
        SetSpeedSteps(key);
    else if (key.compare(QLatin1String("btnActivateConfig"), Qt::CaseInsensitive) == 0)
        ActivateLocoConfig();
}

void kzLocoList::afterLocoWrite()
{
    WaitSeconds(1);
    ReadLocoList();
    FillLocoTree();
    ConfigButtonsEnabled(false, true);
}

void kzLocoList::SaveLocoEntry(int number, quint8 flags)
{
    // A number that is no loco number is never written.
    if (!LocoConfig::isLocoNumber(number))
        return;
    LocoConfig::writeLocoEntry(m_buffer, controllerByte(), number, flags);
    afterLocoWrite();
}

void kzLocoList::AddLoco()
{
    const QString answer = sysInputBox(QStringLiteral("Lok-Nummer"),
                                       QStringLiteral("Welche Lok-Nummer soll angelegt werden ?"),
                                       QString(), LocoNumberRule, 5);
    if (answer.isEmpty())
        return;
    SaveLocoEntry(ProgFields::wholeNumber(answer), LocoFlags::Steps28);
}

void kzLocoList::DeleteLoco()
{
    const int number = selectedLocoNumber();
    if (!LocoConfig::isLocoNumber(number))
        return;
    const QString n = QString::number(number);
    if (showMessageBox(BoxIcon::Question, BoxButtons::YesNo, BoxAnswer::No,
                       QStringLiteral("Lok ") + n,
                       QStringLiteral("Möchten Sie Lok-Nummer ") + n
                           + QStringLiteral(" aus der Konfiguration löschen ?"))
        != BoxAnswer::Yes)
        return;
    LocoConfig::writeLocoEntry(m_buffer, controllerByte(), number, 0);
    afterLocoWrite();
}

void kzLocoList::SetSpeedSteps(const QString &key)
{
    const QString steps = LocoConfig::speedStepsOfKey(key);
    const int number = selectedLocoNumber();
    if (!LocoConfig::isLocoNumber(number))
        return;
    if (showMessageBox(BoxIcon::Question, BoxButtons::YesNo, BoxAnswer::No,
                       QStringLiteral("Lok ") + QString::number(number),
                       QStringLiteral("Geschwindigkeit auf ") + steps
                           + QStringLiteral(" Fahrstufen anpassen ?"))
        != BoxAnswer::Yes)
        return;
    LocoConfig::writeLocoEntry(m_buffer, controllerByte(), number,
                               LocoConfig::speedStepCodeOfKey(key));
    afterLocoWrite();
}

void kzLocoList::ActivateLocoConfig()
{
    if (showMessageBox(BoxIcon::Question, BoxButtons::YesNo, BoxAnswer::No,
                       QStringLiteral("Controller-Neustart"),
                       QStringLiteral("Möchten Sie zur Aktivierung der neuen Lok-Einstellungen ")
                           + QStringLiteral("den Controller neu starten ?"))
        != BoxAnswer::Yes)
        return;
    // Without an answer nobody knows whether the controller restarted: the
    // button stays, so that the user can try again.
    if (LocoConfig::restartController(m_buffer, controllerByte()))
        m_btnActivateConfig->setEnabled(false);
}

// --- CV programming --------------------------------------------------------------

int kzLocoList::progType() const
{
    for (int i = 0; i < 3; ++i) {
        if (m_progType[i]->isChecked())
            return i;
    }
    return 0;
}

void kzLocoList::selectProgType(int type)
{
    const ProgFields::TypeSetup setup = ProgFields::typeSetup(ProgType(type));
    m_lblCV->setText(setup.addressCaption);
    m_value[0]->setAccessibleName(setup.addressCaption);
    m_spin[0]->setFieldName(setup.addressCaption);
    m_lblBit->setVisible(setup.bitShown);
    m_value[1]->setVisible(setup.bitShown);
    m_spin[1]->setVisible(setup.bitShown);
    setRule(m_value[0], setup.addressRule);
    setRule(m_value[1], setup.bitRule);
    setRule(m_value[2], setup.valueRule);
    m_operation[2]->setEnabled(setup.searchOffered);
    if (ProgType(type) == ProgType::CVBit && !ProgFields::isBitValue(m_value[2]->text()))
        m_value[2]->setText(QStringLiteral("0"));
}

void kzLocoList::stepValue(int index, bool up)
{
    QLineEdit *field = m_value[index];
    field->setText(ProgFields::spinStep(field->text(), up, QLocale(), field->maxLength()));
}

void kzLocoList::runOperation(int operation)
{
    if (m_busy)
        return;
    if (ProgFields::Operation(operation) == ProgFields::Operation::Search
        && ProgType(progType()) == ProgType::CVBit)
        return;
    if (!sysDataOK(this))
        return;
    BusyScope busy(m_busy);
    m_buffer.controller = controllerByte();
    SetProgMode(true);
    switch (ProgFields::Operation(operation)) {
    case ProgFields::Operation::Verify: verifyValue(); break;
    case ProgFields::Operation::Write: writeValue(); break;
    case ProgFields::Operation::Search: searchValue(); break;
    }
    SetProgMode(false);
}

void kzLocoList::verifyValue()
{
    setStatus(Blue, QStringLiteral("Prüfen ..."));
    const CommandBuffer frame = ProgFields::singleFrame(
        ProgFields::Operation::Verify, ProgType(progType()), ProgFields::wholeNumber(m_value[0]->text()),
        ProgFields::wholeNumber(m_value[1]->text()), ProgFields::wholeNumber(m_value[2]->text()));
    SetLed(0);
    WaitSeconds(1);
    const qint64 start = startTime();
    if (m_programmer.singleExchange(frame) == DecoderReply::Acknowledged) {
        SetLed(2);
        setStatus(Green, QStringLiteral("Der Inhalt entspricht dem gesuchten Wert"));
    } else {
        SetLed(1);
        setStatus(Red, QStringLiteral("Der Inhalt entspricht nicht dem gesuchten Wert"));
    }
    m_elapsed->setText(ProgFields::elapsedMsText(startTime() - start));
}

void kzLocoList::writeValue()
{
    setStatus(Blue, QStringLiteral("Schreiben ..."));
    const ProgType type = ProgType(progType());
    const CommandBuffer frame = ProgFields::singleFrame(
        ProgFields::Operation::Write, type, ProgFields::wholeNumber(m_value[0]->text()),
        ProgFields::wholeNumber(m_value[1]->text()), ProgFields::wholeNumber(m_value[2]->text()));
    const QString question = ProgFields::writeQuestion(type, m_value[0]->text(),
                                                       m_value[1]->text(), m_value[2]->text());
    if (showMessageBox(BoxIcon::Question, BoxButtons::YesNo, BoxAnswer::No, Program::Title,
                       question)
        != BoxAnswer::Yes)
        return;
    SetLed(0);
    WaitSeconds(1);
    const qint64 start = startTime();
    if (m_programmer.singleExchange(frame) == DecoderReply::Acknowledged) {
        SetLed(2);
        setStatus(Green, QStringLiteral("Der Wert wurde erfolgreich gesetzt"));
    } else {
        SetLed(1);
        setStatus(Red, QStringLiteral("Der Wert konnte nicht gesetzt werden"));
    }
    m_elapsed->setText(ProgFields::elapsedMsText(startTime() - start));
}

void kzLocoList::searchValue()
{
    const ProgType type = ProgType(progType());
    ProgButtonsEnabled(false);
    setStatus(Blue, QStringLiteral("Wert suchen ...."));
    SetLed(0);
    WaitSeconds(1);
    const qint64 start = startTime();
    const int address = ProgFields::wholeNumber(m_value[0]->text());
    const int result = type == ProgType::FullCV ? ReadCVBits(address) : FindValue(address, 0, 255);
    const QString what = QStringLiteral("Wert für ")
                         + (type == ProgType::FullCV ? QStringLiteral("CV")
                                                     : QStringLiteral("Register"))
                         + QLatin1Char(' ') + m_value[0]->text();
    if (result >= 0) {
        SetLed(2);
        setStatus(Green, what + QStringLiteral(" ist ") + QString::number(result));
        m_value[2]->setText(QString::number(result));
    } else if (result == DecoderProgrammer::NotFound) {
        SetLed(1);
        setStatus(Red, what + QStringLiteral(" konnte nicht ermittelt werden"));
    }
    m_elapsed->setText(ProgFields::searchElapsedText(startTime() - start));
    ProgButtonsEnabled(true);
}

int kzLocoList::ReadCVBits(int cv)
{
    m_programmer.setController(controllerByte());
    return m_programmer.ReadCVBits(cv);
}

int kzLocoList::FindValue(int address, int first, int last)
{
    m_programmer.setController(controllerByte());
    return m_programmer.FindValue(address, first, last);
}

bool kzLocoList::ProbeDecoder(int check)
{
    m_programmer.setController(controllerByte());
    return m_programmer.ProbeDecoder(check) == DecoderReply::Acknowledged;
}

// --- loco number ---------------------------------------------------------------

void kzLocoList::setLocoNumber()
{
    if (m_busy || !sysDataOK(this))
        return;
    BusyScope busy(m_busy);
    const int number = ProgFields::wholeNumber(m_locoNumber->text());
    const QString n = QString::number(number);
    if (showMessageBox(BoxIcon::Question, BoxButtons::YesNo, BoxAnswer::No, Program::Title,
                       QStringLiteral("Möchten Sie die Lok auf die Nummer ") + n
                           + QStringLiteral(" einstellen ?"))
        != BoxAnswer::Yes)
        return;
    SetLed(0);
    setStatus(Blue, m_status->text());
    m_buffer.controller = controllerByte();
    SetProgMode(true);
    setStatus(Blue, (Addressing::isShortAddress(number) ? QStringLiteral("Niedrige Lok-Nummer ")
                                                         : QStringLiteral("Hohe Lok-Nummer "))
                        + n + QStringLiteral(" setzen ..."));
    WaitSeconds(1);
    const qint64 start = startTime();
    if (m_programmer.setLocoNumber(number) == DecoderProgrammer::SetResult::Done) {
        SetLed(2);
        setStatus(Green, QStringLiteral("Lok-Nummer ") + n + QStringLiteral(" wurde erfolgreich gesetzt"));
    } else {
        SetLed(1);
        setStatus(Red, QStringLiteral("Lok-Nummer konnte nicht gesetzt werden"));
    }
    m_elapsed->setText(ProgFields::elapsedMsText(startTime() - start));
    SetProgMode(false);
}

void kzLocoList::recogniseLocoNumber()
{
    if (m_busy)
        return;
    BusyScope busy(m_busy);
    ProgButtonsEnabled(false);
    SetLed(0);
    setStatus(Blue, QStringLiteral("Lok-Nummern-Erkennung ..."));
    const qint64 start = startTime();
    m_buffer.controller = controllerByte();
    SetProgMode(true);

    const DecoderProgrammer::Recognition recognition = m_programmer.recogniseLocoNumber();
    switch (recognition.outcome) {
    case DecoderProgrammer::Recognition::Recognised:
        SetLed(2);
        setStatus(Green, QStringLiteral("Erkannte Lok-Nummer ") + QString::number(recognition.number)
                             + recognition.suffix);
        QCoreApplication::processEvents();
        if (m_autoConfig->isChecked())
            SaveLocoEntry(recognition.number,
                          recognition.fourteenSteps ? LocoFlags::Steps14 : LocoFlags::Steps28);
        break;
    case DecoderProgrammer::Recognition::NotFound:
        SetLed(1);
        setStatus(Red, QStringLiteral("Lok-Nummer nicht gefunden"));
        break;
    case DecoderProgrammer::Recognition::NotRecognised:
        SetLed(1);
        setStatus(Red, QStringLiteral("Lok-Nummer konnte nicht erkannt werden"));
        break;
    }

    SetProgMode(false);
    m_elapsed->setText(ProgFields::elapsedMsText(startTime() - start));
    ProgButtonsEnabled(true);
}

void kzLocoList::saveAutoConfig(bool checked)
{
    sysSaveSetting(AutoConfigKey, checked ? QStringLiteral("1") : QStringLiteral("0"),
                   SettingsSection);
}
