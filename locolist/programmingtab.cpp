#include "locolist/programmingtab.h"

#include "common/commandbutton.h"
#include "common/validation.h"
#include "locolist/ledshape.h"
#include "locolist/operationdisplay.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

ProgrammingTab::ProgrammingTab(const QString &locoNumberRule, QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("tabProgrammingPage"));
    auto *pageLayout = new QVBoxLayout(this);
    pageLayout->setContentsMargins(6, 6, 6, 6);

    auto *frame = new QGroupBox(this);
    frame->setObjectName(QStringLiteral("fraProgramming"));
    pageLayout->addWidget(frame);

    // Created first: the validation walks the fields in creation order.
    m_display = new OperationDisplay(QString(), frame);
    connect(m_display->breakButton(), &QPushButton::clicked, this, &ProgrammingTab::breakClicked);

    m_autoConfig = new QCheckBox(QStringLiteral(" au&tomatisch in Konfiguration übernnehmen"), frame);
    m_autoConfig->setObjectName(QStringLiteral("chkAutoConfig"));
    // The state, not the click: the accessibility interface toggles without
    // clicking.
    connect(m_autoConfig, &QCheckBox::toggled, this, &ProgrammingTab::autoConfigToggled);

    const char *typeCaptions[] = {"&CV voller Wert", "CV &Bitwert", "&Register"};
    for (int i = 0; i < 3; ++i) {
        m_progType[i] = new QRadioButton(QString::fromUtf8(typeCaptions[i]), frame);
        m_progType[i]->setObjectName(QStringLiteral("optProgType%1").arg(i));
        m_progType[i]->setChecked(i == 0);
        connect(m_progType[i], &QRadioButton::toggled, this, [this, i](bool checked) {
            if (checked)
                emit typeChosen(i);
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
        connect(m_spin[i], &SpinButtons::stepped, this,
                [this, i](bool up) { emit stepClicked(i, up); });
    }

    const char *operations[] = {"Wert &prüfen", "Wert &setzen", "Wert s&uchen"};
    for (int i = 0; i < 3; ++i) {
        m_operation[i] = new QPushButton(QString::fromUtf8(operations[i]), frame);
        m_operation[i]->setObjectName(QStringLiteral("cmdOperation%1").arg(i));
        m_operation[i]->setAutoDefault(false);
        pressOnEnter(m_operation[i]);
        connect(m_operation[i], &QPushButton::clicked, this,
                [this, i] { emit operationClicked(i); });
    }

    m_lblLocoNumber = new QLabel(QStringLiteral("Nummer"), frame);
    m_lblLocoNumber->setObjectName(QStringLiteral("lblLocoNumber"));
    m_locoNumber = new QLineEdit(QStringLiteral("1"), frame);
    m_locoNumber->setObjectName(QStringLiteral("txtLocoNumber"));
    m_locoNumber->setMaxLength(5);
    m_locoNumber->setFixedWidth(60);
    m_locoNumber->setAccessibleName(QStringLiteral("Lok-Nummer"));
    setRule(m_locoNumber, locoNumberRule);
    m_lblLocoNumber->setBuddy(m_locoNumber);
    m_locoNumberSet = new QPushButton(QStringLiteral("Lok-&Nummer setzen"), frame);
    m_locoNumberSet->setObjectName(QStringLiteral("cmdLocoNumberSet"));
    m_locoNumberSet->setAutoDefault(false);
    pressOnEnter(m_locoNumberSet);
    connect(m_locoNumberSet, &QPushButton::clicked, this, &ProgrammingTab::setLocoNumberClicked);
    m_locoRecognition = new QPushButton(QStringLiteral("Lok-Nummer &erkennen"), frame);
    m_locoRecognition->setObjectName(QStringLiteral("cmdLocoRecognition"));
    m_locoRecognition->setAutoDefault(false);
    pressOnEnter(m_locoRecognition);
    connect(m_locoRecognition, &QPushButton::clicked, this,
            &ProgrammingTab::recogniseClicked);

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
    layout->addWidget(m_display);

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
}

void ProgrammingTab::setControlsEnabled(bool enabled)
{
    for (int i = 0; i < 3; ++i) {
        m_progType[i]->setEnabled(enabled);
        m_value[i]->setEnabled(enabled);
        m_spin[i]->setEnabled(enabled);
        m_operation[i]->setEnabled(enabled);
    }
    m_locoNumber->setEnabled(enabled);
    m_locoNumberSet->setEnabled(enabled);
    m_locoRecognition->setEnabled(enabled);
    m_autoConfig->setEnabled(enabled);
    if (enabled && m_progType[1]->isChecked())
        m_operation[2]->setEnabled(false);
}
