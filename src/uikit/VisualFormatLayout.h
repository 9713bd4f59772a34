#pragma once

#include <QLayout>
#include <QList>
#include <QPair>
#include <QString>
#include <vector>

// Alignment of the views of one format on the other axis (for the views that
// no format of that axis places).
enum class LayoutFormatOption {
    None = 0,
    AlignAllLeft = 1 << 1,
    AlignAllRight = 1 << 2,
    AlignAllTop = 1 << 3,
    AlignAllBottom = 1 << 4,
    AlignAllCenterX = 1 << 9,
    AlignAllCenterY = 1 << 10,
};
Q_DECLARE_FLAGS(LayoutFormatOptions, LayoutFormatOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(LayoutFormatOptions)

// What a visual-format text that this layout cannot follow raises.
inline constexpr const char *kVisualFormatException = "NSInvalidArgumentException";

// Places the child widgets of one widget by visual formats, each a chain along
// one axis: "H:|-(20@1)-[name]-(>=0)-|", "V:|[a][line(==1)][b]|".
//
// A chain holds the container's edges ("|"), views ("[name]" with optional
// size predicates "(==1)", "(>=80)", "(<=100@900)", "(==120@150)") and the
// spacings between them: none ("[a][b]"), the standard spacing ("-": 8 between
// views, 20 to an edge), or predicates ("-9-", "-(>=3,3@500)-"). Predicates are
// numbers with an optional relation (==, >=, <=) and priority (@1 to @1000);
// naming another view in a predicate is not supported.
//
// Along each axis every view is placed by the one chain that names it: two
// chains that meet at a view ("V:|[a]" and "V:[a]-8-[b]-|") are joined into
// one. When a chain pinned at both edges does not fit, what gives way is the
// weakest element: a ">=" spacing without a wish first, then the element with
// the lowest priority; views give way at their size policy (Expanding ones
// before Preferred ones; Fixed ones never), at hugging priority 250 (200 when
// expanding) and compression resistance 750. A view no chain names on an axis
// keeps its size hint there at the container's start edge, or follows the
// alignment option of a chain of the other axis. main thread
class VisualFormatLayout : public QLayout {
public:
    explicit VisualFormatLayout(QWidget *parent = nullptr);
    ~VisualFormatLayout() override;

    // The layout of container, made (and installed) when it has none.
    static VisualFormatLayout *forWidget(QWidget *container);

    // Adds the chain of a translated format whose names are bound by views.
    // Raises kVisualFormatException for a text it cannot follow (bad syntax, an
    // unknown name, a view named twice on one axis, a view that is a child of
    // another widget); nothing is added then.
    void addFormat(const QString &text, const QList<QPair<QString, QWidget *>> &views,
                   LayoutFormatOptions options = {});

    void addItem(QLayoutItem *item) override;
    QLayoutItem *itemAt(int index) const override;
    QLayoutItem *takeAt(int index) override;
    int count() const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect &rect) override;
    Qt::Orientations expandingDirections() const override;

    // One element of a chain: a view (with its size predicates) or the spacing
    // before it; public so that the parser can build them.
    struct Predicate {
        enum Relation { Equal, AtLeast, AtMost } relation = Equal;
        double constant = 0;
        double priority = 1000;
    };
    struct Chain {
        Qt::Orientation orientation = Qt::Horizontal;
        bool leadingEdge = false;
        bool trailingEdge = false;
        std::vector<QWidget *> views;
        // sizes[i]: predicates of views[i]; gaps[i]: the spacing before views[i]
        // (gaps[0] only with a leading edge), gaps[n]: before the trailing edge.
        std::vector<QList<Predicate>> sizes;
        std::vector<QList<Predicate>> gaps;
        std::vector<bool> standardGap;
        LayoutFormatOptions options;
    };

    // How far an element of a chain can give way, and how readily.
    struct Span {
        double min = 0, pref = 0, max = 0, growWeakness = 1000, shrinkWeakness = 1000;
    };

private:
    Span viewSpan(QWidget *view, Qt::Orientation o, const QList<Predicate> &predicates) const;
    Span gapSpan(const Chain &chain, size_t index) const;
    std::vector<Span> spans(const Chain &chain) const;
    void placeChain(const Chain &chain, const QRect &rect, std::vector<QRect> &frames) const;
    void alignUnplaced(const QRect &rect, std::vector<QRect> &frames, const std::vector<bool> &placedH,
                       const std::vector<bool> &placedV) const;
    QSize measure(bool minimum) const;
    int indexOf(const QWidget *view) const;
    void dropView(QWidget *view);
    void joinChains();

    QList<QLayoutItem *> m_items;
    std::vector<Chain> m_chains;
};
