// Object actions and change statements: confirm-and-run actions on items of the
// object tree and the statements that edits become; also what puts the model's
// items and the interface kit together, such as the items' icons.
#pragma once

#include <QIcon>

class ZNTObject;

// The icon of an item in the sidebar and the navigation path (16 points), and on
// the overview pages (bigImage; null for items that have none there). The
// structure item of a relation shows its relation's icon; a server shows the
// server icon, and has no large one.
QIcon imageForObject(const ZNTObject &object);
QIcon bigImageForObject(const ZNTObject &object);
