// The client tree of the main window: the heading "Email Client" with the nine mail
// clients below it and "Internet Explorer Favorites" beside it, each entry with the
// client's own icon and its client code; a client with one installed version carries
// that version's code, one with several gets a child entry per version.
#pragma once

#include <QIcon>
#include <QTreeWidget>

#include "catalog/client_kind.h"

namespace qb::ui {

// The client code of a tree entry (0 for the heading).
ClientKind KindOf(const QTreeWidgetItem* item);

// The icon of a client family, drawn here: a rounded tile in the client's colour
// with its initials.
QIcon ClientIcon(ClientKind family);

// Fills `tree` anew and expands it fully.
void FillClientTree(QTreeWidget& tree);

// The entry carrying `kind`; nullptr when none does.
QTreeWidgetItem* FindClientEntry(QTreeWidget& tree, ClientKind kind);

}  // namespace qb::ui
