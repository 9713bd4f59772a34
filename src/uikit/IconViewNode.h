#pragma once

// The grid's own copy of one model item; shared by the files of IconView only.
#include "IconView.h"

#include <QIcon>
#include <QRect>
#include <QStringList>

// One item of the model as the grid holds it between two readings of the model.
struct IconView::Node {
    Node *parent = nullptr;
    int row = 0;
    QVariant identity;
    QString name;
    QIcon image;    // the header's small icon
    QIcon bigImage; // the icon of the grid
    bool isSection = false;
    bool open = false;
    bool selected = false;
    bool highlighted = false; // the header is being pressed
    std::vector<std::unique_ptr<Node>> children;
    // After layout: the cell of an icon, or the whole rectangle of a section.
    QRect rect;
    bool laidOut = false;
    // The name broken into lines, made when the icon is first drawn.
    QStringList lines;
    bool linesValid = false;
};
