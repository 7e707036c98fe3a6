#include "ui/client_tree.h"

#include <QPainter>
#include <QPixmap>

#include "catalog/detection.h"
#include "catalog/kinds.h"
#include "ui/window_support.h"

namespace qb::ui {

namespace {

constexpr int kKindRole = Qt::UserRole;

struct Look {
    QColor colour;
    const char* initials;
};

Look lookOf(ClientKind family) {
    switch (family) {
        case kind::OutlookExpress:
            return {QColor(0x2a, 0x6f, 0xc9), "OE"};
        case kind::Outlook:
            return {QColor(0x1b, 0x4f, 0x9c), "O"};
        case kind::Eudora:
            return {QColor(0x8a, 0x5a, 0x2b), "Eu"};
        case kind::IncrediMail:
            return {QColor(0xd9, 0x5b, 0x8a), "IM"};
        case kind::PegasusMail:
            return {QColor(0x3c, 0x8d, 0x5a), "P"};
        case kind::TheBat:
            return {QColor(0x4b, 0x4b, 0x4b), "B"};
        case kind::PocoMailFamily:
            return {QColor(0xe0, 0x8a, 0x1e), "Po"};
        case kind::OperaFamily:
            return {QColor(0xc4, 0x1f, 0x2b), "Op"};
        case kind::NetscapeFamily:
            return {QColor(0x1f, 0x7a, 0x8c), "N"};
        case kind::Favorites:
            return {QColor(0xe8, 0xb9, 0x1c), "\u2605"};
        default:
            return {QColor(0x60, 0x70, 0x80), "@"};
    }
}

QTreeWidgetItem* entry(QTreeWidgetItem* parent, QTreeWidget* tree, ClientKind code) {
    const KindInfo* k = findKind(code);
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree);
    item->setText(0, k ? Q(k->treeLabel) : QString());
    item->setData(0, kKindRole, code);
    item->setIcon(0, ClientIcon(code));
    return item;
}

}  // namespace

ClientKind KindOf(const QTreeWidgetItem* item) {
    return item ? item->data(0, kKindRole).toInt() : kind::None;
}

QIcon ClientIcon(ClientKind family) {
    const Look look = lookOf(family);
    QIcon icon;
    for (int size : {16, 24, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(look.colour);
        const qreal r = size / 5.0;
        p.drawRoundedRect(QRectF(0.5, 0.5, size - 1.0, size - 1.0), r, r);
        QFont f = p.font();
        f.setBold(true);
        const QString initials = QString::fromUtf8(look.initials);
        f.setPixelSize(initials.size() > 1 ? size * 9 / 20 : size * 5 / 8);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRect(0, 0, size, size), Qt::AlignCenter, initials);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

void FillClientTree(QTreeWidget& tree) {
    tree.clear();
    auto* heading = new QTreeWidgetItem(&tree, QStringList{"Email Client"});
    heading->setData(0, kKindRole, kind::None);
    heading->setIcon(0, ClientIcon(kind::None));
    for (ClientKind family = kind::OutlookExpress; family <= kind::Favorites; ++family) {
        QTreeWidgetItem* item = entry(family == kind::Favorites ? nullptr : heading, &tree, family);
        const std::vector<ClientVersion> versions = InstalledVersions(family);
        if (versions.size() == 1) {
            item->setData(0, kKindRole, versions.front().kind);
        } else if (versions.size() > 1) {
            for (const ClientVersion& v : versions) {
                auto* child = new QTreeWidgetItem(item, QStringList{Q(v.label)});
                child->setData(0, kKindRole, v.kind);
                child->setIcon(0, item->icon(0));
            }
        }
    }
    tree.expandAll();
}

QTreeWidgetItem* FindClientEntry(QTreeWidget& tree, ClientKind kind) {
    for (QTreeWidgetItemIterator it(&tree); *it; ++it)
        if (KindOf(*it) == kind) return *it;
    return nullptr;
}

}  // namespace qb::ui
