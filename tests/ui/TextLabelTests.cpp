// The pages' text labels size themselves exactly as QLabel would, whatever their text, font,
// margins, alignment and wrapping, and again after any of these change.

#include "ui/kit/TextLabel.h"

#include <QFont>
#include <QLabel>
#include <QPixmap>
#include <QStringList>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <vector>

namespace {

// What a layout asks of a label: its size hints and its heights at a few widths.
struct Hints {
    QSize size;
    QSize minimum;
    std::vector<int> heights;

    bool operator==(const Hints&) const = default;
};

void PrintTo(const Hints& hints, std::ostream* out) {
    *out << "size " << hints.size.width() << "x" << hints.size.height() << ", minimum "
         << hints.minimum.width() << "x" << hints.minimum.height() << ", heights";
    for (int height : hints.heights) {
        *out << " " << height;
    }
}

Hints hintsOf(const QLabel& label) {
    Hints hints{label.sizeHint(), label.minimumSizeHint(), {}};
    for (int width : {0, 45, 130, 131, 320, 900}) {
        hints.heights.push_back(label.heightForWidth(width));
    }
    return hints;
}

// A QLabel for plain, non-interactive text and a TextLabel, with the same text.
struct LabelPair {
    explicit LabelPair(const QString& text) : text(text) {
        plain.setTextFormat(Qt::PlainText);
        plain.setTextInteractionFlags(Qt::NoTextInteraction);
        plain.setText(text);
    }

    // Applies the same change to both.
    void change(const std::function<void(QLabel&)>& apply) {
        apply(plain);
        apply(text);
    }

    QLabel plain;
    TextLabel text;
};

const QStringList kTexts = {
    QStringLiteral("Start with an idea"),
    QStringLiteral("Two lines:\nthe second one is longer than the first"),
    QStringLiteral("A message long enough to wrap at every width a page gives it, with words "
                   "of different lengths, a tab\there and an unbreakable "
                   "/home/someone/projects/example-project/src/main.cpp path in the middle."),
    QStringLiteral("مرحبا بالعالم، نص من اليمين إلى اليسار"),
};

QFont fontOf(int pointSize, bool bold, bool italic) {
    QFont font;
    font.setPointSize(pointSize);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

TEST(TextLabel, hintsEqualQLabelsForEveryTextFontGeometryAndWidth) {
    const std::vector<std::function<void(QLabel&)>> setups = {
        [](QLabel&) {},
        [](QLabel& label) { label.setWordWrap(true); },
        [](QLabel& label) {
            label.setWordWrap(true);
            label.setFont(fontOf(15, true, false));
            label.setAlignment(Qt::AlignCenter);
        },
        [](QLabel& label) {
            label.setFont(fontOf(9, false, true));
            label.setAlignment(Qt::AlignRight | Qt::AlignBottom);
            label.setIndent(7);
            label.setMargin(3);
        },
        [](QLabel& label) {
            label.setWordWrap(true);
            label.setContentsMargins(5, 2, 11, 4);
            label.setIndent(4);
            label.setAlignment(Qt::AlignLeft | Qt::AlignTop);
        },
        // A frame brings an indent of its own; the pages' style sheet sets fonts and padding.
        [](QLabel& label) {
            label.setFrameStyle(QFrame::Box | QFrame::Plain);
            label.setLineWidth(2);
            label.setWordWrap(true);
        },
        [](QLabel& label) {
            label.setStyleSheet(
                QStringLiteral("font-size: 18px; font-weight: 800; padding: 3px 9px;"));
        },
        [](QLabel& label) {
            label.setWordWrap(true);
            label.setMinimumWidth(160);
            label.setMaximumWidth(400);
        },
        [](QLabel& label) {
            label.setWordWrap(true);
            label.setMinimumSize(40, 90);
        },
    };
    for (const QString& text : kTexts) {
        for (std::size_t setup = 0; setup < setups.size(); ++setup) {
            LabelPair pair(text);
            pair.change(setups[setup]);
            EXPECT_EQ(hintsOf(pair.text), hintsOf(pair.plain))
                << "setup " << setup << ", text: " << text.toStdString();
        }
    }
}

TEST(TextLabel, hintsFollowEveryChangeOfTextFontAndGeometry) {
    LabelPair pair(kTexts[0]);
    const std::vector<std::pair<const char*, std::function<void(QLabel&)>>> changes = {
        {"longer text", [](QLabel& label) { label.setText(kTexts[2]); }},
        {"word wrap", [](QLabel& label) { label.setWordWrap(true); }},
        {"font", [](QLabel& label) { label.setFont(fontOf(16, true, false)); }},
        {"shorter text", [](QLabel& label) { label.setText(kTexts[1]); }},
        {"alignment", [](QLabel& label) { label.setAlignment(Qt::AlignRight | Qt::AlignTop); }},
        {"indent", [](QLabel& label) { label.setIndent(12); }},
        {"margin", [](QLabel& label) { label.setMargin(6); }},
        {"contents margins", [](QLabel& label) { label.setContentsMargins(9, 1, 3, 7); }},
        {"minimum width", [](QLabel& label) { label.setMinimumWidth(220); }},
        {"maximum width", [](QLabel& label) { label.setMaximumWidth(260); }},
        {"size policy",
         [](QLabel& label) { label.setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed); }},
        {"frame", [](QLabel& label) { label.setFrameStyle(QFrame::Panel | QFrame::Raised); }},
        {"style sheet",
         [](QLabel& label) { label.setStyleSheet(QStringLiteral("font-size: 21px;")); }},
        {"no wrap", [](QLabel& label) { label.setWordWrap(false); }},
        {"picture and minimum size",
         [](QLabel& label) {
             label.setPixmap(QPixmap(30, 12));
             label.setMinimumSize(700, 90);
         }},
        {"the same text again", [](QLabel& label) { label.setText(kTexts[1]); }},
        {"right-to-left text", [](QLabel& label) { label.setText(kTexts[3]); }},
        {"empty text", [](QLabel& label) { label.setText(QString()); }},
    };
    for (const auto& [what, change] : changes) {
        hintsOf(pair.text);  // ask first, so that a kept answer would be seen below
        pair.change(change);
        EXPECT_EQ(hintsOf(pair.text), hintsOf(pair.plain)) << "after: " << what;
    }
}

}  // namespace
