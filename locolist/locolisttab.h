#pragma once

#include "locolist/clsloco.h"

#include <QList>
#include <QWidget>

class QAction;
class QToolBar;
class QTreeWidget;

// The "Lok-Konfiguration" tab: the controller's loco list as a tree and the
// tool bar that edits it. It only shows and reports clicks; the window reads
// and writes the list.
class LocoListTab final : public QWidget
{
    Q_OBJECT

public:
    explicit LocoListTab(QWidget *parent = nullptr);

    QTreeWidget *tree() const { return m_tree; }
    QToolBar *toolBar() const { return m_toolBar; }
    // The tool bar action of key ("btnAdd", "btn28", ...).
    QAction *action(const QString &key) const;

    // One bold node per loco, with its speed steps and direction below,
    // nothing selected.
    void showLocos(const QList<clsLoco> &locos);
    // The loco of the selected (or current) node; 0 when there is none.
    int selectedLocoNumber() const;
    // The per-loco buttons follow controlsEnabled; "activate" is enabled by
    // activateConfig and only ever disabled by the activation.
    void setConfigButtonsEnabled(bool controlsEnabled, bool activateConfig);
    // Places the tree and, toolBarGap below it, the tool bar on a page
    // pageWidth wide.
    void layoutPage(int pageWidth, int treeHeight, int toolBarGap);

signals:
    void toolClicked(const QString &key);
    void nodeClicked();

private:
    QTreeWidget *m_tree = nullptr;
    QToolBar *m_toolBar = nullptr;
};
