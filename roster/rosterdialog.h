#pragma once

#include "roster/roster.h"

#include <QDialog>
#include <QList>

#include <array>
#include <functional>

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QWidget;

// The dialog "Fahrzeuge": the roster's locos in a list; for the one chosen its
// name, loco number, road name and number, comment, and for F0 to F12 a label
// and whether the function is on only while its key is held. Locos are added,
// removed and taken over from another roster ("Aus JMRI übernehmen …"). The
// dialog writes nothing: the caller saves what entries() returns.
class RosterDialog final : public QDialog
{
    Q_OBJECT

public:
    explicit RosterDialog(const QList<RosterEntry> &entries, QWidget *parent = nullptr);

    // How the folder of another roster is chosen; empty: none. Tests
    // replace the file dialog.
    using FolderChooser = std::function<QString()>;
    void setFolderChooser(FolderChooser chooser) { m_chooseFolder = std::move(chooser); }

    // The locos as the dialog leaves them, for Roster::save.
    QList<EditedEntry> entries() const;

    // Controls, for the tests and the picture tool.
    QListWidget *lstEntries() const { return m_list; }
    QLineEdit *txtName() const { return m_name; }
    QLineEdit *txtAddress() const { return m_address; }
    QLineEdit *txtRoadName() const { return m_roadName; }
    QLineEdit *txtRoadNumber() const { return m_roadNumber; }
    QPlainTextEdit *txtComment() const { return m_comment; }
    QLineEdit *txtLabel(int function) const { return m_labels.at(std::size_t(function)); }
    QCheckBox *chkMomentary(int function) const { return m_momentary.at(std::size_t(function)); }
    QPushButton *btnAdd() const { return m_add; }
    QPushButton *btnRemove() const { return m_remove; }
    QPushButton *btnImport() const { return m_import; }

    void accept() override;

    // "„BR 218“ gibt es schon. …": the question for each name an import meets.
    static QString replaceQuestion(const QString &id);
    static QString noRosterText(const QString &folder);
    static QString takenNameText(const QString &id);

private:
    struct Item
    {
        EditedEntry edited;
        QString addressText;
        // As it came into the dialog (from the roster or another one).
        RosterEntry original;
    };

    QWidget *buildForm();
    void showItem(int row);
    void takeField();
    // Whether the loco shown passes the checks; if not, a box says why and
    // its field gets the focus.
    bool currentIsValid();
    void rowChosen(int row);
    void addEntry();
    void removeEntry();
    void importEntries();
    QString itemText(const Item &item) const;
    void refreshRow(int row);

    QList<RosterEntry> m_before;
    QList<Item> m_items;
    int m_current = -1;
    bool m_showing = false;
    FolderChooser m_chooseFolder;

    QListWidget *m_list = nullptr;
    QWidget *m_form = nullptr;
    QLineEdit *m_name = nullptr;
    QLineEdit *m_address = nullptr;
    QLineEdit *m_roadName = nullptr;
    QLineEdit *m_roadNumber = nullptr;
    QPlainTextEdit *m_comment = nullptr;
    std::array<QLineEdit *, RosterEntry::MaxLabelledFunction + 1> m_labels{};
    std::array<QCheckBox *, RosterEntry::MaxLabelledFunction + 1> m_momentary{};
    QPushButton *m_add = nullptr;
    QPushButton *m_remove = nullptr;
    QPushButton *m_import = nullptr;
};
