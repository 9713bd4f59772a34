#pragma once

#include <QIcon>

// The icons of the object tree, drawn in code so that they are sharp at any
// size and pixel ratio. Each is one QIcon per shape and size, made on first
// request and shared afterwards.
//
// The small server, database, schema and SQL icons are template icons: only their
// coverage is drawn, and they are painted in the palette's text colour at the
// moment they are drawn (the highlighted text colour when selected, the
// disabled one when disabled), so they follow a dark palette. The grids and
// the large icons keep their own colours.
namespace ItemIcons {

enum class Shape { Database, Schema, SQLQuery, Table, View, MaterializedView, Server };

// The 16-point icon of the sidebar and the navigation path.
QIcon smallIcon(Shape shape);
// The icon of the overview pages: 64 x 63 for a database, 64 x 53 for the SQL
// item and the relations; null for a schema and a server, which have none.
QIcon bigIcon(Shape shape);
// The size the icon is designed at; an empty size for a null icon.
QSize designSize(Shape shape, bool big);

} // namespace ItemIcons
