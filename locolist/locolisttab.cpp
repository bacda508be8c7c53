#include "locolist/locolisttab.h"

#include "locolist/lococonfig.h"

#include <QAction>
#include <QPainter>
#include <QToolBar>
#include <QTreeWidget>

namespace {

constexpr int KeyRole = Qt::UserRole;
constexpr int TreeIndentation = 20; // 300 twips

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

LocoListTab::LocoListTab(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("tabLocoConfig"));

    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("tvLocoList"));
    m_tree->setAccessibleName(QStringLiteral("Lok-Liste"));
    m_tree->setHeaderHidden(true);
    m_tree->setColumnCount(1);
    m_tree->setRootIsDecorated(true);
    m_tree->setIndentation(TreeIndentation);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    connect(m_tree, &QTreeWidget::itemClicked, this, [this] { emit nodeClicked(); });
    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (!m_tree->selectedItems().isEmpty())
            emit nodeClicked();
    });

    m_toolBar = new QToolBar(this);
    m_toolBar->setObjectName(QStringLiteral("tlbLocoList"));
    m_toolBar->setAccessibleName(QStringLiteral("Lok-Liste bearbeiten"));
    m_toolBar->setIconSize(QSize(24, 24));
    const struct
    {
        const char *key;
        const char *toolTip;
    } buttons[] = {
        {"btnActivateConfig", "Neue Lok-Einstellungen aktivieren"},
        {"btnAdd", "Lokeintrag hinzufügen"},
        {"btnDelete", "Lokeintrag löschen"},
        {"btn14", "Lok auf 14 FS einstellen"},
        {"btn28", "Lok auf 28 FS einstellen"},
        {"btn126", "Lok auf 126 FS einstellen"},
    };
    for (const auto &button : buttons) {
        const QString key = QString::fromLatin1(button.key);
        const QString toolTip = QString::fromUtf8(button.toolTip);
        QAction *action = m_toolBar->addAction(toolIcon(key), toolTip);
        action->setObjectName(key);
        action->setToolTip(toolTip);
        connect(action, &QAction::triggered, this, [this, key] { emit toolClicked(key); });
        if (key == QLatin1String("btnAdd"))
            m_toolBar->addSeparator();
    }
}

QAction *LocoListTab::action(const QString &key) const
{
    const QList<QAction *> actions = m_toolBar->actions();
    for (QAction *action : actions) {
        if (action->objectName() == key)
            return action;
    }
    return nullptr;
}

void LocoListTab::showLocos(const QList<clsLoco> &locos)
{
    m_tree->clear();
    m_tree->setRootIsDecorated(true);
    m_tree->setIndentation(TreeIndentation);
    for (const clsLoco &loco : locos) {
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

int LocoListTab::selectedLocoNumber() const
{
    const QList<QTreeWidgetItem *> selected = m_tree->selectedItems();
    QTreeWidgetItem *item = selected.isEmpty() ? m_tree->currentItem() : selected.first();
    if (!item)
        return 0;
    return LocoConfig::locoNumberOfNodeKey(item->data(0, KeyRole).toString());
}

void LocoListTab::setConfigButtonsEnabled(bool controlsEnabled, bool activateConfig)
{
    for (const char *key : {"btnDelete", "btn14", "btn28", "btn126"})
        action(QLatin1String(key))->setEnabled(controlsEnabled);
    QAction *activate = action(QStringLiteral("btnActivateConfig"));
    if (!activate->isEnabled())
        activate->setEnabled(activateConfig);
}

void LocoListTab::layoutPage(int pageWidth, int treeHeight, int toolBarGap)
{
    m_tree->setGeometry(6, 6, pageWidth - 12, treeHeight);
    const int toolBarTop = m_tree->y() + treeHeight + toolBarGap;
    m_toolBar->setGeometry(6, toolBarTop, pageWidth - 12, m_toolBar->sizeHint().height());
}
