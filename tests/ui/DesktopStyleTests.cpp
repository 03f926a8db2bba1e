// The application's style draws what a stylesheet used to: the widgets keep the sizes the
// pages were laid out for, take their roles' fonts and colours, and follow a theme change.

#include "core/appearance/Theme.h"
#include "core/services/Preferences.h"
#include "ui/kit/AppStyle.h"
#include "ui/kit/Widgets.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QImage>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <optional>

namespace {

struct StyledPage {
    QWidget window;
    QLabel* title = Widgets::label(QStringLiteral("Title"), "title");
    QLabel* status = Widgets::label(QStringLiteral("Ready"), "status");
    QLabel* muted = Widgets::label(QStringLiteral("Quiet"), "muted");
    QLabel* pill = Widgets::label(QStringLiteral("Linux native"), "pill");
    QPushButton* plain = Widgets::button(QStringLiteral("Refresh tools"));
    QPushButton* primary = Widgets::button(QStringLiteral("Run task"), "primary");
    QFrame* card = Widgets::card();
    QScrollArea* scroll = new QScrollArea;

    StyledPage() {
        auto* layout = new QVBoxLayout(&window);
        for (QWidget* widget : std::initializer_list<QWidget*>{title, status, muted, pill, plain,
                                                               primary, card, scroll}) {
            layout->addWidget(widget);
        }
        card->setFixedSize(120, 60);
        scroll->setWidget(new QWidget);
        window.show();
    }
};

QColor textColour(const QLabel* label) {
    return label->palette().color(label->foregroundRole());
}

// The application's style and palette for the default theme, then a page built under them.
class DesktopStyleTest : public ::testing::Test {
protected:
    DesktopStyleTest() {
        AppStyle::install();
        AppStyle::apply(theme);
        styled.emplace();
    }

    MemoryPreferences preferences;
    Theme theme{false, preferences};
    std::optional<StyledPage> styled;
};

}  // namespace

TEST_F(DesktopStyleTest, rolesAndButtonKindsKeepTheirFontsSizesAndColours) {
    EXPECT_EQ(styled->title->font().pixelSize(), 15);
    EXPECT_EQ(styled->title->font().weight(), QFont::DemiBold);
    EXPECT_EQ(styled->status->font().pixelSize(), 12);
    EXPECT_EQ(styled->plain->font().pixelSize(), 13) << "the application's text size";
    EXPECT_EQ(textColour(styled->status), theme.muted());
    EXPECT_EQ(textColour(styled->muted), theme.muted());
    EXPECT_EQ(textColour(styled->pill), theme.accent());
    EXPECT_EQ(styled->pill->contentsRect(), styled->pill->rect().adjusted(10, 2, -10, -2));

    // Padding and border around the text, as the pages were laid out for.
    const QSize text = styled->plain->fontMetrics().size(Qt::TextShowMnemonic, "Refresh tools");
    EXPECT_EQ(styled->plain->sizeHint(), text + QSize(26, 14));
    QFont bold = styled->primary->font();
    bold.setWeight(QFont::DemiBold);
    EXPECT_EQ(styled->primary->sizeHint().width(),
              QFontMetrics(bold).size(Qt::TextShowMnemonic, "Run task").width() + 36)
        << "the primary button fits its bold label";

    EXPECT_FALSE(styled->scroll->viewport()->autoFillBackground());
    EXPECT_FALSE(styled->scroll->widget()->autoFillBackground())
        << "scrolled content shows the card or page behind it";
}

TEST_F(DesktopStyleTest, aThemeChangeRecoloursTheWidgetsInPlace) {
    const auto cardMiddle = [&] { return styled->card->grab().toImage().pixel(60, 30); };
    const QColor before = theme.surface();
    EXPECT_EQ(cardMiddle(), before.rgb());

    theme.apply(ThemePreset::all().constLast());
    AppStyle::apply(theme);
    // A running application hands the new palette to its windows; the test's never counts
    // as running, so the window is told here.
    QEvent paletteChange(QEvent::ApplicationPaletteChange);
    QCoreApplication::sendEvent(&styled->window, &paletteChange);
    ASSERT_NE(theme.surface(), before) << "the last preset is another look";
    EXPECT_EQ(cardMiddle(), theme.surface().rgb());
    EXPECT_EQ(textColour(styled->muted), theme.muted());
    EXPECT_EQ(styled->window.palette().color(QPalette::Window), theme.bg());
}
