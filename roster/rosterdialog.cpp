#include "roster/rosterdialog.h"

#include "common/messagebox.h"
#include "common/program.h"
#include "common/rules.h"
#include "common/validation.h"
#include "link/commands.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {

const QString NameRule = QStringLiteral("Der Name,MANDATORY");
const QString AddressRule =
    numberRangeRule(QStringLiteral("Die Lok-Nummer"), Limits::MinLocoNumber, Limits::MaxLocoNumber)
    + QStringLiteral(",MANDATORY");
const QString NewName = QStringLiteral("Neue Lok");

QString quoted(const QString &text)
{
    return QStringLiteral("„") + text + QStringLiteral("“");
}

// The number a loco number field holds while it passes its rule.
std::optional<int> addressOf(const QString &text)
{
    if (checkRule(AddressRule, text))
        return std::nullopt;
    return readWholeNumber(text);
}

QString functionCaption(int function)
{
    return function == 0 ? QStringLiteral("F0 (Licht)") : QStringLiteral("F%1").arg(function);
}

} // namespace

RosterDialog::RosterDialog(const QList<RosterEntry> &entries, QWidget *parent)
    : QDialog(parent), m_before(entries)
{
    setObjectName(QStringLiteral("RosterDialog"));
    setWindowTitle(QStringLiteral("Fahrzeuge"));
    m_chooseFolder = [this] {
        return QFileDialog::getExistingDirectory(
            this, QStringLiteral("Ordner einer JMRI-Fahrzeugliste (mit roster.xml) wählen"),
            QDir::homePath());
    };
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const RosterEntry &entry = entries.at(i);
        m_items << Item{EditedEntry{entry, int(i), {}}, QString::number(entry.address), entry};
    }

    auto *left = new QVBoxLayout;
    auto *listLabel = new QLabel(QStringLiteral("&Fahrzeuge:"), this);
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("lstEntries"));
    m_list->setMinimumWidth(190);
    listLabel->setBuddy(m_list);
    m_list->setAccessibleName(QStringLiteral("Fahrzeuge"));
    for (const Item &item : std::as_const(m_items))
        m_list->addItem(itemText(item));
    left->addWidget(listLabel);
    left->addWidget(m_list, 1);
    m_add = new QPushButton(QStringLiteral("Ne&u"), this);
    m_add->setObjectName(QStringLiteral("btnAdd"));
    m_remove = new QPushButton(QStringLiteral("En&tfernen"), this);
    m_remove->setObjectName(QStringLiteral("btnRemove"));
    auto *buttonRow = new QHBoxLayout;
    buttonRow->addWidget(m_add);
    buttonRow->addWidget(m_remove);
    left->addLayout(buttonRow);
    m_import = new QPushButton(QStringLiteral("Aus &JMRI übernehmen …"), this);
    m_import->setObjectName(QStringLiteral("btnImport"));
    m_import->setToolTip(QStringLiteral("Fahrzeuge aus dem Ordner einer anderen Fahrzeugliste "
                                        "(etwa eines JMRI-Profils) übernehmen"));
    left->addWidget(m_import);

    auto *columns = new QHBoxLayout;
    columns->addLayout(left);
    columns->addWidget(buildForm(), 1);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Abbrechen"));
    connect(buttons, &QDialogButtonBox::accepted, this, &RosterDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &RosterDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(columns, 1);
    layout->addWidget(buttons);

    connect(m_list, &QListWidget::currentRowChanged, this, &RosterDialog::rowChosen);
    connect(m_add, &QPushButton::clicked, this, &RosterDialog::addEntry);
    connect(m_remove, &QPushButton::clicked, this, &RosterDialog::removeEntry);
    connect(m_import, &QPushButton::clicked, this, &RosterDialog::importEntries);
    if (m_items.isEmpty())
        showItem(-1);
    else
        m_list->setCurrentRow(0);
}

QWidget *RosterDialog::buildForm()
{
    m_form = new QWidget(this);
    m_form->setObjectName(QStringLiteral("frmEntry"));
    auto *form = new QFormLayout;
    auto field = [&](const QString &caption, const char *name, const QString &accessible) {
        auto *edit = new QLineEdit(m_form);
        edit->setObjectName(QLatin1String(name));
        edit->setAccessibleName(accessible);
        form->addRow(caption, edit);
        connect(edit, &QLineEdit::textChanged, this, &RosterDialog::takeField);
        return edit;
    };
    m_name = field(QStringLiteral("&Name:"), "txtName", QStringLiteral("Name"));
    setRule(m_name, NameRule);
    m_address = field(QStringLiteral("&Lok-Nummer:"), "txtAddress", QStringLiteral("Lok-Nummer"));
    m_address->setToolTip(QStringLiteral("Die DCC-Adresse der Lok, %1 bis %2")
                              .arg(Limits::MinLocoNumber)
                              .arg(Limits::MaxLocoNumber));
    setRule(m_address, AddressRule);
    m_roadName = field(QStringLiteral("&Bahngesellschaft:"), "txtRoadName",
                       QStringLiteral("Bahngesellschaft"));
    m_roadNumber = field(QStringLiteral("Betr&iebsnummer:"), "txtRoadNumber",
                         QStringLiteral("Betriebsnummer"));
    m_comment = new QPlainTextEdit(m_form);
    m_comment->setObjectName(QStringLiteral("txtComment"));
    m_comment->setAccessibleName(QStringLiteral("Kommentar"));
    m_comment->setTabChangesFocus(true);
    m_comment->setFixedHeight(m_comment->fontMetrics().lineSpacing() * 3 + 12);
    auto *commentLabel = new QLabel(QStringLiteral("&Kommentar:"), m_form);
    commentLabel->setBuddy(m_comment);
    form->addRow(commentLabel, m_comment);
    connect(m_comment, &QPlainTextEdit::textChanged, this, &RosterDialog::takeField);

    auto *functions = new QGroupBox(QStringLiteral("Funktionen"), m_form);
    auto *grid = new QGridLayout(functions);
    grid->setVerticalSpacing(2);
    grid->addWidget(new QLabel(QStringLiteral("Beschriftung"), functions), 0, 1);
    for (int n = 0; n <= RosterEntry::MaxLabelledFunction; ++n) {
        const QString caption = functionCaption(n);
        auto *label = new QLabel(caption, functions);
        auto *text = new QLineEdit(functions);
        text->setObjectName(QStringLiteral("txtLabel%1").arg(n));
        text->setAccessibleName(QStringLiteral("Beschriftung ") + caption);
        label->setBuddy(text);
        auto *held = new QCheckBox(QStringLiteral("nur solange gedrückt"), functions);
        held->setObjectName(QStringLiteral("chkMomentary%1").arg(n));
        held->setAccessibleName(caption + QStringLiteral(" nur solange gedrückt"));
        grid->addWidget(label, n + 1, 0);
        grid->addWidget(text, n + 1, 1);
        grid->addWidget(held, n + 1, 2);
        m_labels[std::size_t(n)] = text;
        m_momentary[std::size_t(n)] = held;
        connect(text, &QLineEdit::textChanged, this, &RosterDialog::takeField);
        connect(held, &QCheckBox::toggled, this, &RosterDialog::takeField);
    }

    auto *column = new QVBoxLayout(m_form);
    column->setContentsMargins(0, 0, 0, 0);
    column->addLayout(form);
    column->addWidget(functions);
    column->addStretch(1);
    return m_form;
}

QString RosterDialog::itemText(const Item &item) const
{
    const std::optional<int> address = addressOf(item.addressText);
    return QStringLiteral("%1 (%2)").arg(item.edited.entry.id,
                                         address ? QString::number(*address) : QStringLiteral("?"));
}

void RosterDialog::refreshRow(int row)
{
    if (QListWidgetItem *item = m_list->item(row))
        item->setText(itemText(m_items.at(row)));
}

void RosterDialog::showItem(int row)
{
    m_current = row;
    const bool shown = row >= 0 && row < m_items.size();
    m_form->setEnabled(shown);
    m_remove->setEnabled(shown);
    const QScopedValueRollback<bool> showing(m_showing, true);
    const Item empty;
    const Item &item = shown ? m_items.at(row) : empty;
    const RosterEntry &entry = item.edited.entry;
    m_name->setText(entry.id);
    m_address->setText(item.addressText);
    m_roadName->setText(entry.roadName);
    m_roadNumber->setText(entry.roadNumber);
    m_comment->setPlainText(entry.comment);
    for (int n = 0; n <= RosterEntry::MaxLabelledFunction; ++n) {
        const FunctionLabel &label = entry.label(n);
        m_labels[std::size_t(n)]->setText(label.text);
        m_momentary[std::size_t(n)]->setChecked(!label.isEmpty() && !label.lockable);
        // The flag belongs to a label; without one the dialog's list in
        // "Handregler" decides.
        m_momentary[std::size_t(n)]->setEnabled(!label.isEmpty());
    }
}

void RosterDialog::takeField()
{
    if (m_showing || m_current < 0 || m_current >= m_items.size())
        return;
    Item &item = m_items[m_current];
    RosterEntry &entry = item.edited.entry;
    entry.id = m_name->text();
    item.addressText = m_address->text();
    if (const std::optional<int> address = addressOf(item.addressText))
        entry.address = *address;
    entry.roadName = m_roadName->text();
    entry.roadNumber = m_roadNumber->text();
    entry.comment = m_comment->toPlainText();
    for (int n = 0; n <= RosterEntry::MaxLabelledFunction; ++n) {
        FunctionLabel &label = entry.labels[std::size_t(n)];
        label.text = m_labels[std::size_t(n)]->text();
        QCheckBox *held = m_momentary[std::size_t(n)];
        held->setEnabled(!label.isEmpty());
        label.lockable = !(held->isChecked() && !label.isEmpty());
    }
    refreshRow(m_current);
}

bool RosterDialog::currentIsValid()
{
    if (m_current < 0 || m_current >= m_items.size())
        return true;
    if (!sysDataOK(m_form))
        return false;
    const QString id = m_items.at(m_current).edited.entry.id;
    for (qsizetype i = 0; i < m_items.size(); ++i) {
        if (i != m_current && m_items.at(i).edited.entry.id == id) {
            showMessageBox(BoxIcon::Warning, BoxButtons::Ok, BoxAnswer::Ok, Program::Title,
                           takenNameText(id));
            sysSetFocus(m_name);
            return false;
        }
    }
    return true;
}

void RosterDialog::rowChosen(int row)
{
    if (row == m_current)
        return;
    // The loco shown is left only once it is whole.
    if (!currentIsValid()) {
        const QSignalBlocker blocker(m_list);
        m_list->setCurrentRow(m_current);
        return;
    }
    showItem(row);
}

void RosterDialog::addEntry()
{
    if (!currentIsValid())
        return;
    QString id = NewName;
    for (int count = 2;; ++count) {
        const bool taken = std::any_of(m_items.cbegin(), m_items.cend(), [&](const Item &item) {
            return item.edited.entry.id == id;
        });
        if (!taken)
            break;
        id = NewName + QLatin1Char(' ') + QString::number(count);
    }
    RosterEntry entry;
    entry.id = id;
    m_items << Item{EditedEntry{entry, -1, {}}, QString(), entry};
    m_list->addItem(itemText(m_items.constLast()));
    m_list->setCurrentRow(int(m_items.size() - 1));
    m_name->setFocus();
    m_name->selectAll();
}

void RosterDialog::removeEntry()
{
    if (m_current < 0 || m_current >= m_items.size())
        return;
    const RosterEntry &entry = m_items.at(m_current).edited.entry;
    QString text = QStringLiteral("Das Fahrzeug %1 aus der Liste nehmen?").arg(quoted(entry.id));
    if (!entry.fileName.isEmpty())
        text += QStringLiteral("\n\nSeine Datei bleibt als Sicherung „roster/%1.bak“ erhalten.")
                    .arg(entry.fileName);
    if (showMessageBox(BoxIcon::Question, BoxButtons::YesNo, BoxAnswer::No, Program::Title, text)
        != BoxAnswer::Yes)
        return;
    const int row = m_current;
    m_items.removeAt(row);
    {
        const QSignalBlocker blocker(m_list);
        delete m_list->takeItem(row);
        m_list->setCurrentRow(m_items.isEmpty() ? -1 : int(qMin<qsizetype>(row, m_items.size() - 1)));
    }
    showItem(m_list->currentRow());
}

void RosterDialog::importEntries()
{
    if (!currentIsValid())
        return;
    QString folder = m_chooseFolder();
    if (folder.isEmpty())
        return;
    // The "roster" folder inside a profile is taken for the profile.
    const QDir chosen(folder);
    if (!chosen.exists(RosterFiles::IndexFileName) && chosen.dirName() == RosterFiles::EntriesFolder
        && QFileInfo::exists(QFileInfo(folder).dir().filePath(RosterFiles::IndexFileName)))
        folder = QFileInfo(folder).absolutePath();
    if (!QFileInfo::exists(QDir(folder).filePath(RosterFiles::IndexFileName))) {
        showMessageBox(BoxIcon::Warning, BoxButtons::Ok, BoxAnswer::Ok, Program::Title,
                       noRosterText(folder));
        return;
    }
    const Roster::FolderRead read = Roster::readFolder(folder);
    if (!read.problems.isEmpty())
        showMessageBox(BoxIcon::Warning, BoxButtons::Ok, BoxAnswer::Ok, Program::Title,
                       Roster::problemsText(folder, read.problems));
    const QSignalBlocker blocker(m_list);
    int last = -1;
    for (RosterEntry entry : read.entries) {
        const auto same = std::find_if(m_items.begin(), m_items.end(), [&](const Item &item) {
            return item.edited.entry.id == entry.id;
        });
        if (same != m_items.end()) {
            if (showMessageBox(BoxIcon::Question, BoxButtons::YesNo, BoxAnswer::No,
                               Program::Title, replaceQuestion(entry.id))
                != BoxAnswer::Yes)
                continue;
            const int row = int(same - m_items.begin());
            m_items.removeAt(row);
            delete m_list->takeItem(row);
            if (m_current == row)
                m_current = -1;
            else if (m_current > row)
                --m_current;
        }
        const QString file =
            QDir(folder).filePath(RosterFiles::EntriesFolder + QLatin1Char('/') + entry.fileName);
        const bool withFile = RosterFiles::isPlainFileName(entry.fileName) && QFileInfo::exists(file);
        // The copy gets a file name of this roster when it is saved.
        EditedEntry edited{entry, -1, withFile ? file : QString()};
        edited.entry.fileName.clear();
        m_items << Item{edited, QString::number(entry.address), entry};
        m_list->addItem(itemText(m_items.constLast()));
        last = int(m_items.size() - 1);
    }
    const int row = last >= 0 ? last : (m_current >= 0 ? m_current : (m_items.isEmpty() ? -1 : 0));
    m_list->setCurrentRow(row);
    showItem(row);
}

void RosterDialog::accept()
{
    if (!currentIsValid())
        return;
    QDialog::accept();
}

QList<EditedEntry> RosterDialog::entries() const
{
    QList<EditedEntry> result;
    for (const Item &item : m_items) {
        EditedEntry edited = item.edited;
        RosterEntry &entry = edited.entry;
        // The file's long/short flag stays while the number does; a number
        // typed here is long above 127, as the program's loco numbers are.
        if (entry.address == item.original.address)
            entry.longAddress = item.original.longAddress;
        else
            entry.longAddress = entry.address > RosterEntry::MaxShortAddress;
        result << edited;
    }
    return result;
}

QString RosterDialog::replaceQuestion(const QString &id)
{
    return QStringLiteral("Das Fahrzeug %1 gibt es schon.\n\nDurch das aus der anderen Liste "
                          "ersetzen?")
        .arg(quoted(id));
}

QString RosterDialog::noRosterText(const QString &folder)
{
    return QStringLiteral("Im Ordner %1 gibt es keine Fahrzeugliste (roster.xml).\n\nBitte den "
                          "Ordner wählen, in dem roster.xml liegt, etwa den eines JMRI-Profils.")
        .arg(quoted(QDir::toNativeSeparators(folder)));
}

QString RosterDialog::takenNameText(const QString &id)
{
    return QStringLiteral("Den Namen %1 hat schon ein anderes Fahrzeug.").arg(quoted(id));
}
