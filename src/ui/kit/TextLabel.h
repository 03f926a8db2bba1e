#pragma once

#include <QFont>
#include <QLabel>
#include <QMargins>
#include <QSize>
#include <QSizePolicy>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

// A label showing plain, non-interactive text whose size hints are exactly QLabel's, but
// measured once. QLabel shapes its text three times for each pair of hints (its size, its
// one-line height and its narrowest width) and again for every height asked at a width,
// which layouts ask for the same widths over and over. Here a non-wrapping label is measured
// once and a wrapping one once per width, and the measures are kept until the text, the
// font or the geometry around the text change. Anything else (rich text, pictures, a buddy,
// selectable text) takes QLabel's own path.
//
// No Q_OBJECT: it adds no signals, and style sheets and lookups keep seeing a QLabel.
class TextLabel : public QLabel {
public:
    explicit TextLabel(const QString& text = QString(), QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    int heightForWidth(int width) const override;

protected:
    void changeEvent(QEvent* event) override;

private:
    // What the measures of the text depend on, besides the screen the font is for (a change
    // there arrives as a font change). QLabel renews its hints when any of these changes.
    struct Inputs {
        QString text;
        QFont font;
        QMargins contentsMargins;
        int margin = 0;
        int indent = 0;
        int frameWidth = 0;
        Qt::Alignment alignment;
        bool wordWrap = false;

        bool operator==(const Inputs&) const = default;
    };
    struct Hints {
        QSize size;
        QSize minimum;
        QSizePolicy policy;  // QLabel renews its minimum size hint when this changes
    };

    // Whether the hints are computed here; drops what is kept when the inputs changed.
    bool usesOwnHints() const;
    // The size hint and the minimum size hint, computed together as QLabel does.
    const Hints& hints() const;
    // QLabel's size for the given width (-1: the preferred size; 0: the narrowest).
    QSize sizeForWidth(int width) const;
    // The size of the text's bounding box when laid out `width` pixels wide, with `flags`.
    QSize textSize(int width, int flags) const;

    mutable bool m_valid = false;
    mutable Inputs m_inputs;
    mutable std::optional<Hints> m_hints;
    // Text sizes by layout width, the most recent last; few, as layouts ask a few widths.
    mutable std::vector<std::pair<int, QSize>> m_textSizes;
};
