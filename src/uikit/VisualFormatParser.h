#pragma once

#include "VisualFormatLayout.h"

// The chain that a translated visual format describes; raises
// kVisualFormatException for what VisualFormatLayout cannot follow.
VisualFormatLayout::Chain parseVisualFormat(const QString &text, const QList<QPair<QString, QWidget *>> &views,
                                            LayoutFormatOptions options);
